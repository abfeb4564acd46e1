#pragma once

#include <array>
#include <bitset>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "usb/sim/clock.h"
#include "usb/sim/signal_table.h"
#include "usb/sim/simulated_module.h"

namespace ostrel::sim {

// One open simulated module: its port word, time-out and stream of queued reads.
//
// The link delivers whole frames from the moment both run bits are set: a read of n frames
// completes when the link has carried them, 408 bit times per 32 words (scaled by the pace, at
// once for the fast pace); reads take consecutive frames, so every read starts at a frame
// boundary and a consumer that stalled catches up with what the link carried meanwhile.
// A read completes when it, or a read queued after it, is waited for; reads therefore complete
// in the order queued, and a buffer is written only inside a wait, the port write that clears
// the run bits, or a blocking read.
//
// Every operation returns an error code (kUsbErrorNone on success). Thread-safe: all state is
// guarded by one mutex, which is also held while data is copied into a caller's buffer, so once
// close() has returned no buffer is touched again.
class ModuleSession {
  public:
    static constexpr uint32_t kDefaultTimeoutMs = 1000;
    static constexpr uint32_t kMaxTransferBytes = 1u << 24;

    ModuleSession(std::shared_ptr<SimulatedModule> module,
                  std::shared_ptr<const SignalTable> signal, std::shared_ptr<Clock> clock);

    const SimulatedModule *module() const { return module_.get(); }

    uint32_t setTimeout(uint32_t timeoutMs);
    uint32_t readPort(uint8_t port, uint16_t *value, uint16_t *length);
    uint32_t writePort(uint8_t port, uint16_t value, uint16_t length);
    uint32_t readData(uint8_t *destination, uint32_t *length);
    uint32_t queueRead(uint8_t *destination, uint32_t length, uint8_t *transaction);
    uint32_t wait(uint8_t transaction, int flag, uint32_t *bytesCount);

    // Cancels every read in flight and wakes their waiters (they fail with kUsbErrorCancelled).
    void close();

    // Wakes waiters so that they notice the module has left the bus.
    void wake();

  private:
    struct Transfer {
        uint8_t id;
        uint8_t *destination;
        uint32_t length;
    };
    struct Outcome {
        uint32_t error;
        uint32_t bytes;
    };
    using Lock = std::unique_lock<std::mutex>;

    uint32_t usableError(Nanos now) const;
    uint64_t framesFor(uint32_t length) const;
    Nanos linkTime(uint64_t frames) const;
    uint64_t framesCarriedBy(Nanos now) const;
    bool stalled() const;
    std::optional<Nanos> headDueTime() const;
    bool completeHeadBy(Nanos until);
    void finishHead(uint64_t frames, uint32_t bytes);
    bool completeThrough(uint8_t transaction, Nanos until);
    void startStream(Nanos now);
    void stopStream(Nanos now);
    std::optional<uint8_t> allocateId();
    void release(uint8_t transaction);
    void drop(uint8_t transaction);
    bool isPending(uint8_t transaction) const;
    uint32_t enqueue(uint8_t *destination, uint32_t length, uint8_t *transaction);
    uint32_t waitLocked(Lock &lock, uint8_t transaction, int flag, uint32_t *bytesCount);
    void sleepUntil(Lock &lock, Nanos now, Nanos wakeAt);

    const std::shared_ptr<SimulatedModule> module_;
    const std::shared_ptr<const SignalTable> signal_;
    const std::shared_ptr<Clock> clock_;
    const ModuleConfig &config_;

    std::mutex mutex_;  // guards every member below and the writes into queued buffers
    std::condition_variable changed_;  // signalled on completions, stream changes and close
    bool closed_ = false;
    uint16_t port_ = 0;  // port bits as written (the sync bit is the receiver's)
    uint32_t timeoutMs_ = kDefaultTimeoutMs;
    bool streaming_ = false;        // both run bits set and the receiver in sync
    Nanos streamStart_{0};          // when the run bits were set
    uint64_t streamFrames_ = 0;     // frames taken by reads since the stream started
    uint64_t signalFrame_ = 0;      // position in the signal of the next frame
    uint64_t blocksStreamed_ = 0;   // streamed reads finished, for the block faults
    uint64_t queueCalls_ = 0;       // queuing calls, for the queuing fault
    std::deque<Transfer> pending_;  // queued reads in queue order
    std::array<std::optional<Outcome>, 256> finished_;  // finished, not yet waited for
    std::bitset<256> inUse_;                            // identifiers pending or finished
    uint8_t nextId_ = 0;
};

}  // namespace ostrel::sim
