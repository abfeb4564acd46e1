// Fuzz target: the log directory file (log_path.dat), decoded from bytes and read from a file.
//
// The input is the content of a log directory file. Checks:
// - decodeLogPathRecord gives the path a plain walk of the first 260 bytes gives: up to the
//   first zero byte; the whole input without one line end when it is shorter and has none
//   (a file written by hand); nothing when 260 bytes
//   hold no zero byte. A decoded path always fits the record again.
// - readLogPathFile of a file with that content gives the same.
// - writeLogPathFile of the input taken as a path: a path that fits leaves exactly its
//   260-byte record, which reads back as the path; one that does not fit is refused with
//   filename_too_long and the file keeps what it held. A decoded path written back reads back
//   unchanged.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "fuzz_support.h"
#include "logging/log_path_record.h"

namespace {

using ostrel::log_path_record_size;

std::optional<std::string> expectedPath(std::string_view bytes) {
    const std::size_t limit =
        bytes.size() < log_path_record_size ? bytes.size() : log_path_record_size;
    for (std::size_t i = 0; i < limit; ++i) {
        if (bytes[i] == '\0') return std::string(bytes.substr(0, i));
    }
    if (bytes.size() >= log_path_record_size) return std::nullopt;
    std::string path(bytes);
    if (!path.empty() && path.back() == '\n') path.pop_back();
    if (!path.empty() && path.back() == '\r') path.pop_back();
    return path;
}

// One file for the whole run, rewritten for every input: an anonymous memory file when the
// system has them, else a temporary file removed at exit.
struct ScratchFile {
    int fd = -1;
    std::string path;
};

std::string tempPath;

void removeTempFile() {
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
}

const ScratchFile &scratchFile() {
    static const ScratchFile file = [] {
        ScratchFile f;
        f.fd = ::memfd_create("ostrel-log-path-fuzz", MFD_CLOEXEC);
        if (f.fd >= 0) {
            f.path = "/proc/self/fd/" + std::to_string(f.fd);
            struct stat st {};
            if (::stat(f.path.c_str(), &st) == 0) return f;
            ::close(f.fd);
        }
        const char *dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                              "/ostrel-log-path-fuzz-XXXXXX";
        f.fd = ::mkstemp(pattern.data());
        FUZZ_CHECK(f.fd >= 0);
        f.path = pattern;
        tempPath = pattern;
        std::atexit(removeTempFile);
        return f;
    }();
    return file;
}

void setContent(const ScratchFile &file, std::string_view bytes) {
    FUZZ_CHECK(::ftruncate(file.fd, 0) == 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(file.fd, bytes.data() + done, bytes.size() - done, off_t(done));
        FUZZ_CHECK(n > 0);
        done += std::size_t(n);
    }
}

std::string content(const ScratchFile &file) {
    struct stat st {};
    FUZZ_CHECK(::fstat(file.fd, &st) == 0);
    std::string bytes(std::size_t(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(file.fd, bytes.data() + done, bytes.size() - done, off_t(done));
        FUZZ_CHECK(n > 0);
        done += std::size_t(n);
    }
    return bytes;
}

void checkWriteReadsBack(const ScratchFile &file, std::string_view path) {
    const std::error_code error = ostrel::writeLogPathFile(file.path, path);
    FUZZ_CHECK(!error);
    const std::string written = content(file);
    FUZZ_CHECK(written.size() == log_path_record_size);
    FUZZ_CHECK(written == ostrel::encodeLogPathRecord(path));
    FUZZ_CHECK(ostrel::readLogPathFile(file.path) == std::string(path));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);

    const std::optional<std::string> decoded = ostrel::decodeLogPathRecord(bytes);
    FUZZ_CHECK(decoded == expectedPath(bytes));
    if (decoded) {
        FUZZ_CHECK(ostrel::fitsLogPathRecord(*decoded));
        const std::optional<std::string> record = ostrel::encodeLogPathRecord(*decoded);
        FUZZ_CHECK(record && record->size() == log_path_record_size);
        FUZZ_CHECK(ostrel::decodeLogPathRecord(*record) == decoded);
    }

    const ScratchFile &file = scratchFile();
    setContent(file, bytes);
    FUZZ_CHECK(ostrel::readLogPathFile(file.path) == decoded);

    // The input as the path to remember.
    const bool fits = size <= ostrel::max_log_path_length && bytes.find('\0') == bytes.npos;
    FUZZ_CHECK(ostrel::fitsLogPathRecord(bytes) == fits);
    FUZZ_CHECK(ostrel::encodeLogPathRecord(bytes).has_value() == fits);
    if (fits) {
        checkWriteReadsBack(file, bytes);
    } else {
        const std::error_code error = ostrel::writeLogPathFile(file.path, bytes);
        FUZZ_CHECK(error == std::make_error_code(std::errc::filename_too_long));
        FUZZ_CHECK(content(file) == bytes);
    }

    if (decoded) {
        setContent(file, bytes);
        checkWriteReadsBack(file, *decoded);
    }
    return 0;
}
