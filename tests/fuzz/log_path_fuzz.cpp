// Fuzz target: the log directory file (log_path.dat). The input as its content decodes to what a
// plain walk of the first 260 bytes gives (up to the first zero byte; a shorter input without
// one, less a line end; nothing when 260 bytes hold none), also read from a file, and a decoded
// path written back reads back. The input as a path: one that fits is written as its 260-byte
// record and reads back; one that does not is refused and the file keeps what it held.
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include "fuzz_support.h"
#include "logging/log_path_record.h"

namespace {

using ostrel::log_path_record_size;

std::optional<std::string> expectedPath(std::string_view bytes) {
    const std::size_t zero = bytes.substr(0, log_path_record_size).find('\0');
    if (zero != bytes.npos) return std::string(bytes.substr(0, zero));
    if (bytes.size() >= log_path_record_size) return std::nullopt;
    std::string path(bytes);
    if (path.ends_with('\n')) path.pop_back();
    if (path.ends_with('\r')) path.pop_back();
    return path;
}

// One anonymous memory file for the whole run, rewritten for every input, and its name.
const int file = ::memfd_create("ostrel-log-path-fuzz", MFD_CLOEXEC);
const std::string path = "/proc/self/fd/" + std::to_string(file);

void setContent(std::string_view bytes) {
    FUZZ_CHECK(::ftruncate(file, 0) == 0);
    FUZZ_CHECK(::pwrite(file, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size()));
}

std::string content() {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void checkWriteReadsBack(std::string_view remembered) {
    FUZZ_CHECK(!ostrel::writeLogPathFile(path, remembered));
    const std::string written = content();
    FUZZ_CHECK(written.size() == log_path_record_size &&
               written == ostrel::encodeLogPathRecord(remembered));
    FUZZ_CHECK(ostrel::readLogPathFile(path) == std::string(remembered));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    FUZZ_CHECK(file >= 0);

    const std::optional<std::string> decoded = ostrel::decodeLogPathRecord(bytes);
    FUZZ_CHECK(decoded == expectedPath(bytes));
    if (decoded) {
        FUZZ_CHECK(ostrel::fitsLogPathRecord(*decoded));
        const std::optional<std::string> record = ostrel::encodeLogPathRecord(*decoded);
        FUZZ_CHECK(record && record->size() == log_path_record_size);
        FUZZ_CHECK(ostrel::decodeLogPathRecord(*record) == decoded);
    }
    setContent(bytes);
    FUZZ_CHECK(ostrel::readLogPathFile(path) == decoded);

    // The input as the path to remember.
    const bool fits = size <= ostrel::max_log_path_length && bytes.find('\0') == bytes.npos;
    FUZZ_CHECK(ostrel::fitsLogPathRecord(bytes) == fits);
    FUZZ_CHECK(ostrel::encodeLogPathRecord(bytes).has_value() == fits);
    if (fits) {
        checkWriteReadsBack(bytes);
    } else {
        FUZZ_CHECK(ostrel::writeLogPathFile(path, bytes) ==
                   std::make_error_code(std::errc::filename_too_long));
        FUZZ_CHECK(content() == bytes);
    }
    if (decoded) {
        setContent(bytes);
        checkWriteReadsBack(*decoded);
    }
    return 0;
}
