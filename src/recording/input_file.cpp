#include "recording/input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ostrel::recording {

int openRegularFile(const std::string &path, std::string &error, struct stat *status) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat info {};
    int flags = 0;
    if (::fstat(fd, &info) != 0) {
        error = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
    } else if ((flags = ::fcntl(fd, F_GETFL)) < 0 ||
               ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = std::strerror(errno);
    } else {
        if (status != nullptr) *status = info;
        return fd;
    }
    ::close(fd);
    return -1;
}

}  // namespace ostrel::recording
