// Internal to ostrel-convert's run: where the table or summary goes.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "recording/atomic_file.h"

namespace ostrel::recording::convert_detail {

// Whether two paths name the same existing file.
bool sameFile(const std::string &a, const std::string &b);

// Where the output goes. --out: a regular file, or none yet, is replaced atomically; so is a
// symbolic link's target (the link stays); a FIFO or a character device (a pipe of the
// shell's, a terminal, /dev/null) is opened and written in place, never replaced, and so is
// a descriptor of the process that is a regular file; anything else is refused before
// anything is created. Without --out: the given stream.
class Output {
  public:
    Output(std::ostream &stream, const std::optional<std::string> &path);
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    bool ready() const { return file_ ? file_->error().empty() : problem_.empty(); }
    bool write(std::string_view bytes);
    bool finish();
    // What failed, naming the file written.
    std::string failure() const;
    // --out's file, after its links; and the temporary file a library may write by name
    // (empty unless --out is a regular file or none yet, which finish() then replaces).
    const std::string &path() const { return path_; }
    std::string temporaryPath() const { return file_ ? file_->temporaryPath() : std::string(); }

  private:
    void openInPlace(int flags);
    bool failIf(const char *what, int errorNumber);

    std::ostream &stream_;
    std::string path_;  // --out's file, after its links; empty: the stream
    std::unique_ptr<AtomicFile> file_;
    int fd_ = -1;  // a FIFO or a character device, written in place
    std::string problem_;
};

}  // namespace ostrel::recording::convert_detail
