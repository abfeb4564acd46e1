#include "logging/reserved_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "logging/log_writer.h"
#include "recording/file_io.h"
#include "recording/path_names.h"

namespace ostrel {
namespace {

constexpr mode_t kNewFileMode = 0644;  // like the log files beside it

std::string failure(const char *what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// Links the unnamed file `fd` under a new hidden name beside `path` and returns that name;
// empty (errno set) when no name could be made.
std::string linkBeside(int fd, const std::string &path) {
    const std::string source = "/proc/self/fd/" + std::to_string(fd);
    const std::string base(recording::baseNameOf(path));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = recording::directoryOf(path) + "/." + base + ".reserved-" +
                                 std::to_string(::getpid()) + "-" + std::to_string(attempt);
        if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return name;
        }
        if (errno != EEXIST) return {};
    }
    return {};
}

}  // namespace

ReservedFile::~ReservedFile() {
    release();
}

void ReservedFile::reserve(const std::string &path, std::size_t bytes) {
    release();
    const int fd = ::open(recording::directoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                          kNewFileMode);
    if (fd < 0) return;
    if (::fallocate(fd, 0, 0, off_t(bytes)) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    path_ = path;
    size_ = bytes;
}

std::string ReservedFile::publish(std::string_view content) {
    if (fd_ < 0) return "no space was reserved";
    std::string error;
    if (const int e = recording::writeAll(fd_, content)) {
        error = failure("cannot write", e);
    } else if (::ftruncate(fd_, off_t(content.size())) != 0) {
        error = failure("cannot cut to its length", errno);
    } else if (::fsync(fd_) != 0) {
        error = failure("cannot flush to disk", errno);
    } else if (const std::string name = linkBeside(fd_, path_); name.empty()) {
        error = failure("cannot name it", errno);
    } else if (::rename(name.c_str(), path_.c_str()) != 0) {
        error = failure("cannot rename", errno);
        ::unlink(name.c_str());
    } else if (const int directory = ::open(recording::directoryOf(path_).c_str(),
                                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
               directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    release();
    return error;
}

void ReservedFile::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    path_.clear();
}

}  // namespace ostrel
