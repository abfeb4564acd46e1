#include "logging/log_path_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "recording/file_io.h"

namespace ostrel {
namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::error_code errorOf(int errorNumber) {
    return errorNumber == 0 ? std::error_code{}
                            : std::error_code{errorNumber, std::generic_category()};
}

}  // namespace

bool fitsLogPathRecord(std::string_view path) {
    return path.size() <= max_log_path_length && path.find('\0') == std::string_view::npos;
}

std::optional<std::string> encodeLogPathRecord(std::string_view path) {
    if (!fitsLogPathRecord(path)) return std::nullopt;
    std::string record(log_path_record_size, '\0');
    record.replace(0, path.size(), path);
    return record;
}

std::optional<std::string> decodeLogPathRecord(std::string_view bytes) {
    const std::string_view record = bytes.substr(0, log_path_record_size);
    const std::size_t end = record.find('\0');
    if (end != std::string_view::npos) return std::string(record.substr(0, end));
    if (record.size() == log_path_record_size) return std::nullopt;
    // Written by hand (`echo DIR > log_path.dat`): its one line end is not part of the path.
    std::string_view path = record;
    if (path.ends_with('\n')) path.remove_suffix(1);
    if (path.ends_with('\r')) path.remove_suffix(1);
    return std::string(path);
}

std::optional<std::string> readLogPathFile(const std::filesystem::path &file) {
    // Non-blocking, so that a FIFO in its place cannot hold the start-up; only a regular
    // file is read.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    const std::error_code error = errorOf(recording::readUpTo(fd, log_path_record_size, bytes));
    ::close(fd);
    if (error) return std::nullopt;
    return decodeLogPathRecord(bytes);
}

std::error_code writeLogPathFile(const std::filesystem::path &file, std::string_view path) {
    const std::optional<std::string> record = encodeLogPathRecord(path);
    if (!record) return std::make_error_code(std::errc::filename_too_long);
    // Overwritten in place, then cut to the record: the old record stays whole
    // until the new one replaces it.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return lastError();
    std::error_code error = errorOf(recording::writeAll(fd, *record));
    if (!error && ::ftruncate(fd, off_t(log_path_record_size)) != 0) error = lastError();
    if (::close(fd) != 0 && !error) error = lastError();
    return error;
}

}  // namespace ostrel
