#include "support/scratch_directory.h"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace ostrel::test {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory(std::string_view prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::string> ScratchDirectory::entries() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<fs::path> ScratchDirectory::filesEndingIn(std::string_view extension) const {
    std::vector<fs::path> files;
    for (const std::string &name : entries()) {
        if (name.ends_with(extension)) files.push_back(file(name));
    }
    return files;
}

}  // namespace ostrel::test
