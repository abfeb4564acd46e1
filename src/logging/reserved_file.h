// Disk space set aside for a file that must still be written when the disk has filled up: the
// closing description of a recording. The space is an unnamed file in the target's directory
// (O_TMPFILE, so nothing is left behind when the program dies) with its blocks allocated at
// once. Publishing writes the content into those blocks and names the file with a link and a
// rename, which need no data blocks. One thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel {

class ReservedFile {
  public:
    ReservedFile() = default;
    ~ReservedFile();
    ReservedFile(const ReservedFile &) = delete;
    ReservedFile &operator=(const ReservedFile &) = delete;

    // Sets `bytes` aside in the directory of `path`, giving up what was set aside before.
    // Quietly reserves nothing where the file system cannot (no O_TMPFILE or fallocate).
    void reserve(const std::string &path, std::size_t bytes);
    bool reserved() const { return fd_ >= 0; }
    std::size_t size() const { return size_; }

    // Writes `content` into the reserved space, flushes it and renames it over the path;
    // the reservation is used up. "<what failed>: <reason>", or empty.
    std::string publish(std::string_view content);

    // Gives the space back.
    void release();

  private:
    std::string path_;
    std::size_t size_ = 0;
    int fd_ = -1;
};

}  // namespace ostrel
