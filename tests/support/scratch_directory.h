// A fresh directory under the system's temporary directory, removed with its content when
// the object goes. Throws std::system_error when none can be made.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::test {

class ScratchDirectory {
  public:
    explicit ScratchDirectory(std::string_view prefix = "ostrel");
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;

    const std::string &path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const;
    // The paths of the files in the directory whose names end in `extension` (".dat"), sorted.
    std::vector<std::filesystem::path> filesEndingIn(std::string_view extension) const;

  private:
    std::string path_;
};

}  // namespace ostrel::test
