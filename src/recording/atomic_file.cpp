#include "recording/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "recording/file_io.h"
#include "recording/path_names.h"

namespace ostrel::recording {
namespace {

// A new file is readable by everyone, like the log files beside it (mkstemp gives 0600).
constexpr mode_t kNewFileMode = 0644;

// The temporary file a termination signal removes once removeTemporaryOnSignals ran: its
// path in a buffer that never moves, valid while `signalPathSet`. Changed only with the
// signals held, read only by the handler.
constexpr int kRemovingSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<bool> removingOnSignals{false};
std::atomic<bool> signalPathSet{false};
static_assert(std::atomic<bool>::is_always_lock_free);
char signalPath[PATH_MAX];

sigset_t removingSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kRemovingSignals) sigaddset(&set, signalNumber);
    return set;
}

void removeAndEnd(int signalNumber) {
    if (signalPathSet.load()) ::unlink(signalPath);
    // SA_RESETHAND gave the signal its default action back: once this handler returns, the
    // raised signal ends the process as the first one would have.
    ::raise(signalNumber);
}

// Holds the removing signals on this thread while the temporary file and the published path
// may disagree (the file created, renamed or removed, the path not yet changed): a signal
// meanwhile is handled once they agree. Does nothing unless removeTemporaryOnSignals ran.
class HeldSignals {
  public:
    HeldSignals() {
        if (!removingOnSignals.load()) return;
        const sigset_t set = removingSignalSet();
        held_ = ::pthread_sigmask(SIG_BLOCK, &set, &previous_) == 0;
    }
    ~HeldSignals() {
        if (held_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    HeldSignals(const HeldSignals &) = delete;
    HeldSignals &operator=(const HeldSignals &) = delete;

  private:
    sigset_t previous_{};
    bool held_ = false;
};

}  // namespace

void AtomicFile::removeTemporaryOnSignals() {
    struct sigaction action {};
    action.sa_handler = removeAndEnd;
    action.sa_flags = SA_RESETHAND;
    action.sa_mask = removingSignalSet();
    for (const int signalNumber : kRemovingSignals) {
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signalNumber, &action, nullptr);
    }
    removingOnSignals.store(true);
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    if (path_.empty() || path_.back() == '/') {
        error_ = "no file name in \"" + path_ + "\"";
        return;
    }
    // A hidden name beside the target; mkstemp makes it unique and creates it exclusively.
    tempPath_ = directoryOf(path_) + "/." + std::string(baseNameOf(path_)) + ".tmp-XXXXXX";
    std::vector<char> name(tempPath_.begin(), tempPath_.end());
    name.push_back('\0');
    const HeldSignals held;
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int errorNumber = errno;
        tempPath_.clear();
        failWith("cannot create a file in the directory", errorNumber);
        return;
    }
    tempPath_.assign(name.data());
    if (removingOnSignals.load() && !signalPathSet.load() && tempPath_.size() < sizeof signalPath) {
        std::memcpy(signalPath, tempPath_.c_str(), tempPath_.size() + 1);
        signalPathSet.store(true);
        removedOnSignal_ = true;
    }
    // An existing target keeps its permissions; a new one gets kNewFileMode.
    struct stat existing {};
    const mode_t mode =
        ::stat(path_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : kNewFileMode;
    if (::fchmod(fd_, mode) != 0) failWith("cannot set the permissions", errno);
}

AtomicFile::~AtomicFile() {
    discard();
}

bool AtomicFile::failWith(const char *what, int errorNumber) {
    if (error_.empty()) error_ = std::string(what) + ": " + std::strerror(errorNumber);
    discard();
    return false;
}

void AtomicFile::forgetSignalPath() {
    if (!removedOnSignal_) return;
    signalPathSet.store(false);
    removedOnSignal_ = false;
}

void AtomicFile::discard() {
    const HeldSignals held;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    forgetSignalPath();
}

bool AtomicFile::write(std::string_view bytes) {
    if (fd_ < 0) return false;
    const int errorNumber = writeAll(fd_, bytes);
    return errorNumber == 0 || failWith("cannot write", errorNumber);
}

bool AtomicFile::commit(bool durable) {
    if (fd_ < 0) return false;
    if (durable && ::fsync(fd_) != 0) return failWith("cannot flush to disk", errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return failWith("cannot close", errno);
    {
        const HeldSignals held;
        if (::rename(tempPath_.c_str(), path_.c_str()) != 0) {
            return failWith("cannot rename", errno);
        }
        tempPath_.clear();
        forgetSignalPath();
    }
    if (!durable) return true;
    // The rename itself reaches the disk with the directory; a failure here leaves a
    // complete file in place, so it is not reported.
    const int directory = ::open(directoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}

}  // namespace ostrel::recording
