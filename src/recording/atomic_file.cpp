#include "recording/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace ostrel::recording {
namespace {

// A new file is readable by everyone, like the log files beside it (mkstemp gives 0600).
constexpr mode_t kNewFileMode = 0644;

std::string directoryOf(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    if (path_.empty() || path_.back() == '/') {
        error_ = "no file name in \"" + path_ + "\"";
        return;
    }
    // A hidden name beside the target; mkstemp makes it unique and creates it exclusively.
    tempPath_ = directoryOf(path_) + "/." + baseNameOf(path_) + ".tmp-XXXXXX";
    std::vector<char> name(tempPath_.begin(), tempPath_.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int errorNumber = errno;
        tempPath_.clear();
        failWith("cannot create a file in the directory", errorNumber);
        return;
    }
    tempPath_.assign(name.data());
    // An existing target keeps its permissions; a new one gets kNewFileMode.
    struct stat existing {};
    const mode_t mode =
        ::stat(path_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : kNewFileMode;
    if (::fchmod(fd_, mode) != 0) failWith("cannot set the permissions", errno);
}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::failWith(const char *what, int errorNumber) {
    if (error_.empty()) error_ = std::string(what) + ": " + std::strerror(errorNumber);
    discard();
    return false;
}

void AtomicFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool AtomicFile::write(std::string_view bytes) {
    if (fd_ < 0) return false;
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return failWith("cannot write", errno);
        }
        bytes.remove_prefix(std::size_t(written));
    }
    return true;
}

bool AtomicFile::commit(bool durable) {
    if (fd_ < 0) return false;
    if (durable && ::fsync(fd_) != 0) return failWith("cannot flush to disk", errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return failWith("cannot close", errno);
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) return failWith("cannot rename", errno);
    tempPath_.clear();
    if (!durable) return true;
    // The rename itself reaches the disk with the directory; a failure here leaves a
    // complete file in place, so it is not reported.
    const int directory = ::open(directoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}

}  // namespace ostrel::recording
