#include "recording/file_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ostrel::recording {

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (written == 0) return EIO;  // no progress: never loop on it
        bytes.remove_prefix(std::size_t(written));
    }
    return 0;
}

ssize_t readOnce(int fd, char *into, std::size_t size) {
    ssize_t got;
    do {
        got = ::read(fd, into, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

int readUpTo(int fd, std::size_t limit, std::string &out) {
    constexpr std::size_t kChunk = 16384;
    const std::size_t start = out.size();
    while (out.size() - start < limit) {
        const std::size_t want = std::min(kChunk, limit - (out.size() - start));
        const std::size_t before = out.size();
        out.resize(before + want);
        const ssize_t got = readOnce(fd, out.data() + before, want);
        out.resize(before + std::size_t(std::max<ssize_t>(got, 0)));
        if (got < 0) return errno;
        if (got == 0) break;
    }
    return 0;
}

}  // namespace ostrel::recording
