// A file replaced atomically: the content goes to a temporary file beside the target
// (same directory, so the rename stays on one file system), which is flushed to disk and
// renamed over the target only when the writer commits. Until then the target keeps what
// it held; a writer dropped without committing removes its temporary file. Readers see
// the old or the new file, never a mix. One writer per thread.
//
// A program that writes one AtomicFile at a time on one thread (ostrel-convert) may also
// have the termination signals remove the temporary file (removeTemporaryOnSignals).
#pragma once

#include <string>
#include <string_view>

namespace ostrel::recording {

class AtomicFile {
  public:
    // Creates the temporary file for `path`. On failure error() says why and every
    // later call fails.
    explicit AtomicFile(std::string path);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Appends `bytes` (continuing after partial writes and EINTR). False on failure.
    bool write(std::string_view bytes);

    // fsync, close, rename over the target, then fsync of the directory. False on
    // failure; the temporary file is then removed and the target untouched. Without
    // `durable` nothing waits for the disk (a thread that must not stall on a slow one).
    bool commit(bool durable = true);

    // From now on SIGINT, SIGTERM and SIGHUP remove the temporary file of the AtomicFile
    // being written, then end the process by the signal as they would have (its exit status
    // says the signal). A signal the process inherited as ignored stays ignored (nohup).
    // For a single-threaded program with one AtomicFile at a time: a second one written
    // meanwhile is not removed. Main thread, before the first AtomicFile; without this call
    // AtomicFile touches no signal.
    static void removeTemporaryOnSignals();

    // "<what failed>: <the system's reason>", empty while all went well.
    const std::string &error() const { return error_; }
    const std::string &path() const { return path_; }
    // The temporary file being written, for a library that writes a file by its name (the
    // exports): it may truncate and write the file there; commit then flushes and renames it.
    const std::string &temporaryPath() const { return tempPath_; }

  private:
    bool failWith(const char *what, int errorNumber);
    void discard();
    void forgetSignalPath();

    std::string path_;
    std::string tempPath_;
    int fd_ = -1;
    std::string error_;
    bool removedOnSignal_ = false;  // its path is the one a termination signal removes
};

}  // namespace ostrel::recording
