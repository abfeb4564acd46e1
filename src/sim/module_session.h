#pragma once

#include <array>
#include <bitset>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "sim/clock.h"
#include "sim/frame_source.h"
#include "sim/simulated_module.h"

namespace ostrel::sim {

// One open simulated module: its port word, time-out, receive buffer and stream of queued reads.
//
// From the moment both run bits are set the link carries whole frames continuously, 408 bit
// times per 32 words (scaled by the pace). Each frame goes, in this order of preference, to the
// oldest queued read that still wants frames, into the receive buffer (the fifo), or is lost
// whole. A read queued later first takes what the fifo holds. Frame k of the link is frame k of
// the signal after the stream's start, delivered or not, so a lost frame leaves a gap in the
// data. The fast pace has no time base: the link carries what the queued reads want at once and
// nothing is ever lost.
//
// The accounting is lazy: every operation first lets the link carry the frames due by now, with
// the reads that were queued meanwhile, so the outcome does not depend on when it is looked at.
// A read completes when it, or a read queued after it, is waited for; reads therefore complete
// in the order queued, and a buffer is written only inside a wait, the port write that clears
// the run bits, or a blocking read. Lost frames are counted when a read receives a frame that
// follows them: frames dropped after the last read of a stream are no loss.
//
// Every operation returns an error code (kUsbErrorNone on success). Thread-safe: all state is
// guarded by one mutex, which is also held while data is copied into a caller's buffer, so once
// close() has returned no buffer is touched again.
class ModuleSession {
  public:
    static constexpr uint32_t kDefaultTimeoutMs = 1000;
    static constexpr uint32_t kMaxTransferBytes = 1u << 24;

    ModuleSession(std::shared_ptr<SimulatedModule> module, std::unique_ptr<FrameSource> source,
                  std::shared_ptr<Clock> clock);

    const SimulatedModule *module() const { return module_.get(); }

    uint32_t setTimeout(uint32_t timeoutMs);
    uint32_t readPort(uint8_t port, uint16_t *value, uint16_t *length);
    uint32_t writePort(uint8_t port, uint16_t value, uint16_t length);
    uint32_t readData(uint8_t *destination, uint32_t *length);
    uint32_t queueRead(uint8_t *destination, uint32_t length, uint8_t *transaction);
    uint32_t wait(uint8_t transaction, int flag, uint32_t *bytesCount);

    // Cancels every read still waiting for frames; the module stays open. Reads whose frames
    // have arrived by now complete as usual; the others finish at once with kUsbErrorCancelled
    // and their waiters wake. The frames they were being filled with stay in the receive buffer.
    uint32_t cancelReads();

    // Cancels every read in flight and wakes their waiters (they fail with kUsbErrorCancelled).
    // Returns the frames this session lost to receive buffer overruns.
    uint64_t close();

    // Wakes waiters so that they notice the module has left the bus.
    void wake();

  private:
    struct Transfer {
        uint8_t id;
        uint8_t *destination;
        uint32_t length;
        uint64_t frames;  // whole frames it takes from the stream
    };
    // Consecutive frames of the link, numbered from the stream's start.
    struct Segment {
        uint64_t first;
        uint64_t count;
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
    uint64_t streamEnd() const;
    bool exhausted() const;
    void failAfterEnd();
    uint64_t heldLimit() const;
    void carryLink(Nanos until);
    void carryOnDemand();
    void hold(uint64_t first, uint64_t count);
    void discardNewest(uint64_t count);
    uint32_t handOver(uint64_t frames, uint8_t *destination, uint32_t bytes);
    void countGapBefore(uint64_t first);
    std::optional<Nanos> headDueTime() const;
    bool completeHead();
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
    const std::unique_ptr<FrameSource> source_;  // used under mutex_
    const std::shared_ptr<Clock> clock_;
    const ModuleConfig &config_;
    const uint64_t fifoFrames_;  // whole frames the receive buffer holds

    std::mutex mutex_;  // guards every member below and the writes into queued buffers
    std::condition_variable changed_;  // signalled on completions, stream changes and close
    bool closed_ = false;
    uint16_t port_ = 0;  // port bits as written (the sync bit is the receiver's)
    uint32_t timeoutMs_ = kDefaultTimeoutMs;
    bool streaming_ = false;    // both run bits set and the receiver in sync
    Nanos streamStart_{0};      // when the run bits were set
    uint64_t signalFrame_ = 0;  // signal position of the next frame outside a stream
    uint64_t signalBase_ = 0;   // signal position of the stream's first frame
    uint64_t linkFrames_ = 0;   // frames the link has carried since the stream started
    // The frames the receiver holds, oldest first: the queued reads' in queue order, then the
    // fifo's (those beyond wantedFrames_). Never more than wantedFrames_ + fifoFrames_.
    std::deque<Segment> held_;
    uint64_t heldFrames_ = 0;       // the frames in held_
    uint64_t wantedFrames_ = 0;     // the frames the queued reads take together
    uint64_t nextHandedOver_ = 0;   // the link frame after the last one handed to a read
    uint64_t lostFrames_ = 0;       // frames lost before a frame handed to a read
    uint64_t blocksStreamed_ = 0;   // streamed reads finished, for the block faults
    uint64_t queueCalls_ = 0;       // queuing calls, for the queuing fault
    std::deque<Transfer> pending_;  // queued reads in queue order
    std::array<std::optional<Outcome>, 256> finished_;  // finished, not yet waited for
    std::bitset<256> inUse_;                            // identifiers pending or finished
    uint8_t nextId_ = 0;
};

}  // namespace ostrel::sim
