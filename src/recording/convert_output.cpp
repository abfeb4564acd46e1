#include "recording/convert_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "recording/file_io.h"

namespace ostrel::recording::convert_detail {
namespace {

// Where a path leads once its symbolic links are followed link by link: also to a file that
// does not exist yet (a dangling link), which realpath cannot resolve. A link of /proc on the
// way (/dev/stdout, /dev/fd/N lead to one) is an open descriptor of the process, whose
// target need not be a path ("pipe:[81]", a deleted file): `descriptor`, and no further.
struct FollowedPath {
    std::string path;
    bool descriptor = false;
};

FollowedPath followLinks(std::filesystem::path path) {
    constexpr int kMostLinks = 40;  // as the kernel follows
    struct stat proc {};
    const bool procKnown = ::stat("/proc/self", &proc) == 0;
    for (int links = 0; links < kMostLinks; ++links) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) break;
        if (procKnown && link.st_dev == proc.st_dev) return {path.string(), true};
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return {path.string()};
}

std::string_view kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a file";
}

}  // namespace

bool sameFile(const std::string &a, const std::string &b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

Output::Output(std::ostream &stream, const std::optional<std::string> &path) : stream_(stream) {
    if (!path) return;
    path_ = *path;
    struct stat target {};
    const bool exists = ::stat(path_.c_str(), &target) == 0;
    if (!exists && errno != ENOENT) {
        problem_ = std::strerror(errno);
        return;
    }
    if (exists && (S_ISFIFO(target.st_mode) || S_ISCHR(target.st_mode))) {
        openInPlace(0);
        return;
    }
    if (exists && !S_ISREG(target.st_mode)) {
        problem_ = std::string(kindOf(target.st_mode)) +
                   "; --out takes a regular file, a FIFO or a character device";
        return;
    }
    const FollowedPath followed = followLinks(path_);
    // The process's own descriptor (--out /dev/stdout > file): added to, as the shell
    // opened it, not replaced behind its back.
    if (followed.descriptor) {
        openInPlace(O_APPEND);
        return;
    }
    path_ = followed.path;
    file_ = std::make_unique<AtomicFile>(path_);
}

Output::~Output() {
    if (fd_ >= 0) ::close(fd_);
}

bool Output::write(std::string_view bytes) {
    if (file_) return file_->write(bytes);
    if (fd_ >= 0) return failIf("cannot write", writeAll(fd_, bytes));
    stream_.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(stream_);
}

bool Output::finish() {
    if (file_) return file_->commit();
    if (fd_ >= 0) {
        const int fd = std::exchange(fd_, -1);
        return failIf("cannot close", ::close(fd) == 0 ? 0 : errno);
    }
    stream_.flush();
    return bool(stream_);
}

std::string Output::failure() const {
    if (file_) return file_->path() + ": " + file_->error();
    if (!path_.empty()) return path_ + ": " + problem_;
    return "standard output: write failed";
}

void Output::openInPlace(int flags) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | flags);
    if (fd_ < 0) failIf("cannot open", errno);
}

bool Output::failIf(const char *what, int errorNumber) {
    if (errorNumber == 0) return true;
    if (problem_.empty()) problem_ = std::string(what) + ": " + std::strerror(errorNumber);
    return false;
}

}  // namespace ostrel::recording::convert_detail
