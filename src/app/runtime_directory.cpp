#include "app/runtime_directory.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ostrel {
namespace {

// A directory (not a link to one) of this user that no one else may enter.
bool isPrivateDirectory(const std::string &path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 07777) == 0700;
}

std::string freshDirectoryIn(const std::string &base, const std::string &name) {
    std::string pattern = base + "/" + name + "-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    if (::mkdtemp(path.data()) == nullptr) return {};  // mkdtemp makes it with mode 0700
    return path.data();
}

}  // namespace

std::string privateRuntimeDirectoryIn(const std::string &base) {
    const std::string name = "runtime-" + std::to_string(::getuid());
    const std::string path = base + "/" + name;
    if (::mkdir(path.c_str(), 0700) == 0) {
        // The umask may have taken more than the others' bits.
        if (::chmod(path.c_str(), 0700) == 0) return path;
    } else if (errno == EEXIST && isPrivateDirectory(path)) {
        return path;
    }
    return freshDirectoryIn(base, name);
}

std::string providePrivateRuntimeDirectory() {
    const char *set = ::getenv("XDG_RUNTIME_DIR");
    if (set != nullptr && *set != '\0') return {};
    const char *tmp = ::getenv("TMPDIR");
    const std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    const std::string directory = privateRuntimeDirectoryIn(base);
    if (directory.empty() || ::setenv("XDG_RUNTIME_DIR", directory.c_str(), 1) != 0) return {};
    return directory;
}

}  // namespace ostrel
