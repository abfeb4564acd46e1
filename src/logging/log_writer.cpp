#include "logging/log_writer.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "logging/record_writer.h"
#include "recording/file_io.h"

namespace ostrel {

namespace {

std::atomic<void (*)()> writeHook{nullptr};

}  // namespace

void setLogWriteHook(void (*hook)()) {
    writeHook = hook;
}

LogWriter::LogWriter(int fd, Format format, Callbacks callbacks, std::size_t queueCycles)
    : fd_(fd),
      format_(format),
      callbacks_(std::move(callbacks)),
      capacity_(std::max<std::size_t>(queueCycles, 1)),
      text_(std::make_unique_for_overwrite<char[]>(kMaxCycleBytes)),
      slots_(capacity_, std::vector<uint16_t>(format.records * std::size_t(format.words))) {
    committed_ = ::lseek(fd_, 0, SEEK_END);
    thread_ = std::thread([this] { run(); });
}

LogWriter::~LogWriter() {
    if (thread_.joinable()) finish(false);
}

LogWriter::Submitted LogWriter::submit(const uint16_t *words, bool wait) {
    std::unique_lock lock(mutex_);
    if (wait) changed_.wait(lock, [this] { return queued_ < capacity_ || failed_ || finishing_; });
    if (failed_ || finishing_) return Submitted::closed;
    if (queued_ == capacity_) return Submitted::full;
    std::vector<uint16_t> &slot = slots_[(head_ + queued_) % capacity_];
    std::memcpy(slot.data(), words, slot.size() * sizeof(uint16_t));
    ++queued_;
    changed_.notify_all();
    return Submitted::queued;
}

uint64_t LogWriter::finish(bool durable) {
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
        durable_ = durable;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    return cyclesWritten();
}

uint64_t LogWriter::cyclesWritten() const {
    std::lock_guard lock(mutex_);
    return written_;
}

// Waits for a queued cycle, the end, or the next flush. True with `cycle` filled (swapped
// with its slot, so nothing is allocated); `flushDue` when the interval has passed.
bool LogWriter::takeNext(std::vector<uint16_t> &cycle, bool &flushDue) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, nextFlush_, [this] { return queued_ > 0 || finishing_; });
    flushDue = std::chrono::steady_clock::now() >= nextFlush_;
    if (flushDue) nextFlush_ = std::chrono::steady_clock::now() + kFlushInterval;
    if (queued_ == 0 || failed_) return false;
    cycle.swap(slots_[head_]);
    head_ = (head_ + 1) % capacity_;
    --queued_;
    changed_.notify_all();  // room for the producer
    return true;
}

// Nothing more is written; the file is cut back to its whole cycles and the owner told.
void LogWriter::fail(int error) {
    {
        std::lock_guard lock(mutex_);
        failed_ = true;
        changed_.notify_all();
    }
    const int truncateError = ::ftruncate(fd_, committed_) == 0 ? 0 : errno;
    if (callbacks_.failed) callbacks_.failed(error, truncateError);
}

bool LogWriter::writeCycle(const std::vector<uint16_t> &cycle) {
    const std::size_t bytes =
        formatCycle(cycle.data(), format_.records, format_.words, format_.separator, text_.get());
    if (void (*hook)() = writeHook.load()) hook();
    if (const int error = recording::writeAll(fd_, std::string_view(text_.get(), bytes))) {
        fail(error);
        return false;
    }
    committed_ += off_t(bytes);
    uint64_t written = 0;
    {
        std::lock_guard lock(mutex_);
        written = ++written_;
    }
    if (callbacks_.written) callbacks_.written(written);
    return true;
}

// The written cycles reach the disk before anyone is told they are there. A flush the disk
// refuses (EIO, ENOSPC) is a failed write; a file that cannot be flushed at all (EINVAL) is
// reported as it is.
void LogWriter::flush() {
    const uint64_t written = cyclesWritten();
    if (written == reported_) return;
    if (::fdatasync(fd_) != 0 && errno != EINVAL) {
        fail(errno);
        return;
    }
    reported_ = written;
    if (callbacks_.durable) callbacks_.durable(written);
}

void LogWriter::run() {
    nextFlush_ = std::chrono::steady_clock::now() + kFlushInterval;
    std::vector<uint16_t> cycle(format_.records * std::size_t(format_.words));
    for (;;) {
        bool flushDue = false;
        const bool taken = takeNext(cycle, flushDue);
        if (taken && !writeCycle(cycle)) break;
        if (flushDue) flush();
        if (taken) continue;
        std::lock_guard lock(mutex_);
        if (failed_ || (finishing_ && queued_ == 0)) break;
    }
    bool durable = false;
    {
        std::lock_guard lock(mutex_);
        durable = durable_ && !failed_;
    }
    if (durable) flush();
}

}  // namespace ostrel
