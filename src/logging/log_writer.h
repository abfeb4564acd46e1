// The writer of one log file: a thread of its own, fed by a bounded queue of whole cycles, so
// that the acquisition thread reads the link on time whatever the disk does. It formats and
// writes the cycles in order; every few seconds, and at the end, it flushes the file to disk
// (fdatasync) and only then reports the cycles that are now durable, so that a description
// written from that report never counts a cycle the disk does not hold.
//
// Threads: submit from the acquisition thread (one producer); the callbacks run on the writer
// thread; finish from the thread that closes the log file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ostrel {

class LogWriter {
  public:
    struct Format {
        std::size_t records = 0;  // records per cycle
        int words = 0;            // words per record
        char separator = ',';
    };
    struct Callbacks {
        // A write failed (errno): nothing more is written, and the file has been cut back to
        // its whole cycles (truncateError: 0, or why that failed). Writer thread.
        std::function<void(int error, int truncateError)> failed;
        // One more cycle is written (not yet flushed). Writer thread.
        std::function<void(uint64_t cycles)> written;
        // `cycles` whole cycles are on the disk now (after fdatasync). Writer thread.
        std::function<void(uint64_t cycles)> durable;
    };

    // Cycles the queue holds: 64 cycles of 64 KiB raw words (4 MiB), 42 s at 640 kbps.
    static constexpr std::size_t kDefaultQueueCycles = 64;
    // How often the written cycles are flushed and reported durable.
    static constexpr std::chrono::seconds kFlushInterval{2};

    // Starts the thread. `fd` stays the caller's; it is written only by this writer until
    // finish() has returned.
    LogWriter(int fd, Format format, Callbacks callbacks,
              std::size_t queueCycles = kDefaultQueueCycles);
    ~LogWriter();
    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;

    enum class Submitted { queued, full, closed };
    // Queues a copy of one cycle (records x words words at `words`). Without `wait`, a full
    // queue refuses it at once (full): the caller counts the cycle left out. With `wait` it
    // waits for room (a source that has no link to keep up with). After a failed write, or
    // once finishing: closed.
    Submitted submit(const uint16_t *words, bool wait);

    // Writes what is queued, flushes (unless not `durable`), reports and ends the thread.
    // Returns the whole cycles written.
    uint64_t finish(bool durable);

    uint64_t cyclesWritten() const;

  private:
    void run();
    bool takeNext(std::vector<uint16_t> &cycle, bool &flushDue);
    bool writeCycle(const std::vector<uint16_t> &cycle);
    void fail(int error);
    void flush();

    const int fd_;
    off_t committed_ = 0;  // bytes of the header and the whole cycles written; writer thread
    std::chrono::steady_clock::time_point nextFlush_;  // writer thread
    uint64_t reported_ = 0;                            // cycles last reported durable; writer
    const Format format_;
    const Callbacks callbacks_;
    const std::size_t capacity_;
    std::unique_ptr<char[]> text_;  // one formatted cycle; writer thread only

    mutable std::mutex mutex_;  // guards every member below
    std::condition_variable changed_;
    std::vector<std::vector<uint16_t>> slots_;  // capacity_ cycles, used as a ring
    std::size_t head_ = 0;                      // the oldest queued cycle
    std::size_t queued_ = 0;
    bool finishing_ = false;
    bool durable_ = true;
    bool failed_ = false;
    uint64_t written_ = 0;
    std::thread thread_;
};

// For tests: every write of a log writer first calls this (nullptr: nothing), so that a test
// can stall the disk.
void setLogWriteHook(void (*hook)());

}  // namespace ostrel
