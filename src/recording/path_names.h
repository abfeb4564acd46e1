// The parts of a path, the one place the programs cut one at its last '/'.
#pragma once

#include <string>
#include <string_view>

namespace ostrel::recording {

// The file's name: what follows the path's last '/' (the whole path without one).
inline std::string_view baseNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The directory the file is in, as a path to open or stat: "." without a '/', "/" for a file
// at the root.
inline std::string directoryOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    return std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
}

}  // namespace ostrel::recording
