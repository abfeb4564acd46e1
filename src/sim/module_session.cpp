#include "sim/module_session.h"

#include <algorithm>
#include <cmath>

#include "telemetry/link_timing.h"
#include "usb/port_word.h"
#include "usb/usb_error.h"

namespace ostrel::sim {

ModuleSession::ModuleSession(std::shared_ptr<SimulatedModule> module,
                             std::unique_ptr<FrameSource> source, std::shared_ptr<Clock> clock)
    : module_(std::move(module)),
      source_(std::move(source)),
      clock_(std::move(clock)),
      config_(module_->config()),
      fifoFrames_(config_.fifoBytes / source_->frameBytes()) {}

uint32_t ModuleSession::usableError(Nanos now) const {
    if (closed_) return kUsbErrorInvalidHandle;
    if (!module_->presentAt(now)) return kUsbErrorDisconnected;
    return kUsbErrorNone;
}

uint64_t ModuleSession::framesFor(uint32_t length) const {
    const uint32_t frameBytes = source_->frameBytes();
    return (length + frameBytes - 1) / frameBytes;
}

Nanos ModuleSession::linkTime(uint64_t frames) const {
    const unsigned __int128 nanos = static_cast<unsigned __int128>(frames) * config_.wordsPerFrame *
                                    link_word_nanos_times_kbps / config_.kbps;
    if (config_.pace.factor == 1.0) return Nanos{static_cast<int64_t>(nanos)};
    return Nanos{std::llround(static_cast<long double>(nanos) / config_.pace.factor)};
}

// The frames the link has carried whole by `now`: the largest k with linkTime(k) no later than
// `now`. Estimated in floating point, then searched for round the estimate, so that it agrees
// with linkTime to the nanosecond whatever the rounding of a pace factor.
uint64_t ModuleSession::framesCarriedBy(Nanos now) const {
    const Nanos elapsed = now - streamStart_;
    if (elapsed <= Nanos{0}) return 0;
    const auto carried = [&](uint64_t frames) { return linkTime(frames) <= elapsed; };
    const long double frameNanos = static_cast<long double>(link_word_nanos_times_kbps) *
                                   config_.wordsPerFrame / config_.kbps / config_.pace.factor;
    auto low = static_cast<uint64_t>(
        std::min(static_cast<long double>(elapsed.count()) / frameNanos, 1e18L));
    for (uint64_t step = 1; low > 0 && !carried(low); step *= 2) low -= std::min(low, step);
    uint64_t high = low + 1;
    for (uint64_t step = 1; carried(high); step *= 2) {
        low = high;
        high += step;
    }
    while (high - low > 1) {
        const uint64_t middle = low + (high - low) / 2;
        (carried(middle) ? low : high) = middle;
    }
    return low;
}

bool ModuleSession::stalled() const {
    return config_.faults.stallAfter && blocksStreamed_ >= *config_.faults.stallAfter;
}

// The frames a stream carries: all of a recording played back once, else no end.
uint64_t ModuleSession::streamEnd() const {
    const bool once = config_.playback && !config_.playback->loop;
    return once ? source_->frames() : UINT64_MAX;
}

// The link has carried the whole recording: no read that wants more will ever complete.
bool ModuleSession::exhausted() const {
    return streaming_ && linkFrames_ >= streamEnd();
}

// After the end of a recording the reads still pending fail with kUsbErrorEndOfStream at once
// (the frames of a read left incomplete by the end are not handed over).
void ModuleSession::failAfterEnd() {
    for (const Transfer &transfer : pending_) {
        finished_[transfer.id] = Outcome{kUsbErrorEndOfStream, 0};
    }
    pending_.clear();
    wantedFrames_ = 0;
    held_.clear();
    heldFrames_ = 0;
}

// The most frames the receiver can hold: what the queued reads take plus a full fifo.
uint64_t ModuleSession::heldLimit() const {
    return wantedFrames_ + fifoFrames_;
}

// Lets the link carry the frames due by `until`, with the reads queued now: the reads and the
// fifo take what they have room for, the rest is lost. A stalled link carries nothing.
void ModuleSession::carryLink(Nanos until) {
    if (!streaming_) return;
    if (config_.pace.fast) {
        carryOnDemand();
        return;
    }
    const uint64_t carried = std::min(framesCarriedBy(until), streamEnd());
    if (carried <= linkFrames_) return;
    const uint64_t room = stalled() ? 0 : heldLimit() - std::min(heldFrames_, heldLimit());
    hold(linkFrames_, std::min(carried - linkFrames_, room));
    linkFrames_ = carried;
}

// The fast pace: the link carries at once what the queued reads still want.
void ModuleSession::carryOnDemand() {
    if (stalled() || heldFrames_ >= wantedFrames_) return;
    const uint64_t wanted = std::min(wantedFrames_ - heldFrames_, streamEnd() - linkFrames_);
    hold(linkFrames_, wanted);
    linkFrames_ += wanted;
}

void ModuleSession::hold(uint64_t first, uint64_t count) {
    if (count == 0) return;
    if (!held_.empty() && held_.back().first + held_.back().count == first) {
        held_.back().count += count;
    } else {
        held_.push_back(Segment{first, count});
    }
    heldFrames_ += count;
}

// Drops the newest held frames, as a full fifo drops what arrives.
void ModuleSession::discardNewest(uint64_t count) {
    heldFrames_ -= count;
    while (count > 0) {
        Segment &newest = held_.back();
        const uint64_t dropped = std::min(count, newest.count);
        newest.count -= dropped;
        count -= dropped;
        if (newest.count == 0) held_.pop_back();
    }
}

// Hands the oldest `frames` held frames to a read: their first `bytes` bytes land in
// `destination` (nowhere when null), and the frames lost before them are counted. Returns the
// source's error when it could not give them all (the frames are handed over all the same).
uint32_t ModuleSession::handOver(uint64_t frames, uint8_t *destination, uint32_t bytes) {
    const uint64_t frameBytes = source_->frameBytes();
    uint32_t error = kUsbErrorNone;
    heldFrames_ -= frames;
    while (frames > 0) {
        Segment &oldest = held_.front();
        const uint64_t taken = std::min(frames, oldest.count);
        countGapBefore(oldest.first);
        if (destination != nullptr && error == kUsbErrorNone) {
            const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(bytes, taken * frameBytes));
            error = source_->copy(signalBase_ + oldest.first, destination, chunk);
            destination += chunk;
            bytes -= chunk;
        }
        nextHandedOver_ = oldest.first + taken;
        oldest.first += taken;
        oldest.count -= taken;
        frames -= taken;
        if (oldest.count == 0) held_.pop_front();
    }
    return error;
}

// Frames the receiver dropped are a loss once a later frame reaches a read.
void ModuleSession::countGapBefore(uint64_t first) {
    if (first <= nextHandedOver_) return;
    const uint64_t lost = first - nextHandedOver_;
    lostFrames_ += lost;
    module_->countLostFrames(lost);
}

// When the link will have carried the rest of the oldest queued read; nothing while it never
// will. Valid after carryLink().
std::optional<Nanos> ModuleSession::headDueTime() const {
    if (!streaming_ || pending_.empty() || stalled() || exhausted()) return std::nullopt;
    const uint64_t wanted = pending_.front().frames;
    if (config_.pace.fast || heldFrames_ >= wanted) return Nanos::min();
    return streamStart_ + linkTime(linkFrames_ + wanted - heldFrames_);
}

// Completes the oldest read when the receiver holds all its frames.
bool ModuleSession::completeHead() {
    if (pending_.empty() || stalled() || heldFrames_ < pending_.front().frames) return false;
    finishHead(pending_.front().frames, pending_.front().length);
    return true;
}

// Hands the next `frames` held frames to the oldest read: `bytes` of them land in its buffer,
// unless this is the block that is set to fail.
void ModuleSession::finishHead(uint64_t frames, uint32_t bytes) {
    const Transfer transfer = pending_.front();
    pending_.pop_front();
    wantedFrames_ -= transfer.frames;
    ++blocksStreamed_;
    const bool fails = blocksStreamed_ == config_.faults.failBlock;
    const uint32_t error = handOver(frames, fails ? nullptr : transfer.destination, bytes);
    // A short block: the receiver reports one frame less than it delivered.
    if (blocksStreamed_ == config_.faults.shortBlock && bytes >= source_->frameBytes()) {
        bytes -= source_->frameBytes();
    }
    if (fails || error != kUsbErrorNone) {
        finished_[transfer.id] = Outcome{fails ? kUsbErrorTransferFailed : error, 0};
    } else {
        finished_[transfer.id] = Outcome{kUsbErrorNone, bytes};
    }
}

// Completes, in queue order, the reads up to and including `transaction` whose data the link
// has carried by `until`. Returns whether any read completed.
bool ModuleSession::completeThrough(uint8_t transaction, Nanos until) {
    carryLink(until);
    bool progressed = false;
    while (!pending_.empty()) {
        const bool last = pending_.front().id == transaction;
        if (!completeHead()) break;
        progressed = true;
        if (last) break;
    }
    return progressed;
}

void ModuleSession::startStream(Nanos now) {
    streaming_ = true;
    streamStart_ = now;
    signalBase_ = config_.playback ? 0 : signalFrame_;  // a recording plays from its start
    linkFrames_ = 0;
    nextHandedOver_ = 0;
}

// The run bits were cleared: reads whose data the link carried complete as usual, the read the
// link was filling gets the frames carried so far, and the rest fail at once, so that nobody
// waits for a block that will never come. The receiver empties its fifo; the signal goes on
// from where the link's time has brought it.
void ModuleSession::stopStream(Nanos now) {
    carryLink(now);
    while (completeHead()) {
    }
    if (!pending_.empty() && !stalled()) {
        const uint64_t partial = std::min(heldFrames_, pending_.front().frames - 1);
        if (partial > 0) {
            finishHead(partial, static_cast<uint32_t>(partial * source_->frameBytes()));
        }
    }
    for (const Transfer &transfer : pending_) {
        finished_[transfer.id] = Outcome{kUsbErrorStreamStopped, 0};
    }
    pending_.clear();
    wantedFrames_ = 0;
    held_.clear();
    heldFrames_ = 0;
    signalFrame_ = signalBase_ + linkFrames_;
    streaming_ = false;
}

std::optional<uint8_t> ModuleSession::allocateId() {
    for (int step = 0; step < 256; ++step) {
        const auto id = static_cast<uint8_t>(nextId_ + step);
        if (!inUse_.test(id)) {
            nextId_ = static_cast<uint8_t>(id + 1);
            inUse_.set(id);
            return id;
        }
    }
    return std::nullopt;
}

void ModuleSession::release(uint8_t transaction) {
    finished_[transaction].reset();
    inUse_.reset(transaction);
}

// Forgets a pending read: its buffer is never touched again. The frames it was being filled
// with stay in the receiver for the reads after it, as far as the fifo holds them.
void ModuleSession::drop(uint8_t transaction) {
    const auto found =
        std::find_if(pending_.begin(), pending_.end(),
                     [transaction](const Transfer &t) { return t.id == transaction; });
    if (found != pending_.end()) {
        wantedFrames_ -= found->frames;
        pending_.erase(found);
    }
    inUse_.reset(transaction);
    if (!config_.pace.fast && heldFrames_ > heldLimit()) discardNewest(heldFrames_ - heldLimit());
    changed_.notify_all();  // the next read may now hold all its frames
}

bool ModuleSession::isPending(uint8_t transaction) const {
    return std::any_of(pending_.begin(), pending_.end(),
                       [transaction](const Transfer &t) { return t.id == transaction; });
}

uint32_t ModuleSession::setTimeout(uint32_t timeoutMs) {
    Lock lock(mutex_);
    if (const uint32_t error = usableError(clock_->now())) return error;
    timeoutMs_ = timeoutMs;
    return kUsbErrorNone;
}

uint32_t ModuleSession::readPort(uint8_t port, uint16_t *value, uint16_t *length) {
    if (value == nullptr || length == nullptr) return kUsbErrorInvalidArgument;
    if (port != kDataPort || *length < 1 || *length > 2) return kUsbErrorInvalidArgument;
    Lock lock(mutex_);
    if (const uint32_t error = usableError(clock_->now())) return error;
    const uint16_t sync = config_.faults.noSync ? 0 : kSyncBit;
    const uint16_t word = static_cast<uint16_t>((port_ & ~kSyncBit) | sync);
    *value = *length == 1 ? static_cast<uint16_t>(word & 0xFF) : word;
    return kUsbErrorNone;
}

uint32_t ModuleSession::writePort(uint8_t port, uint16_t value, uint16_t length) {
    if (port != kDataPort || length < 1 || length > 2) return kUsbErrorInvalidArgument;
    Lock lock(mutex_);
    const Nanos now = clock_->now();
    if (const uint32_t error = usableError(now)) return error;
    port_ = length == 1 ? static_cast<uint16_t>((port_ & 0xFF00) | (value & 0xFF)) : value;
    const bool run = (port_ & kRunBits) == kRunBits && !config_.faults.noSync;
    if (run && !streaming_) startStream(now);
    if (!run && streaming_) stopStream(now);
    changed_.notify_all();
    return kUsbErrorNone;
}

uint32_t ModuleSession::enqueue(uint8_t *destination, uint32_t length, uint8_t *transaction) {
    const std::optional<uint8_t> id = allocateId();
    if (!id) return kUsbErrorTooManyTransfers;
    const uint64_t frames = framesFor(length);
    pending_.push_back(Transfer{*id, destination, length, frames});
    wantedFrames_ += frames;
    *transaction = *id;
    return kUsbErrorNone;
}

// Before the stream runs the receiver hands over at once what its buffer holds: the current
// frames when in sync, nothing otherwise. While it runs the read queues behind the others.
uint32_t ModuleSession::readData(uint8_t *destination, uint32_t *length) {
    if (destination == nullptr || length == nullptr) return kUsbErrorInvalidArgument;
    if (*length > kMaxTransferBytes) return kUsbErrorInvalidArgument;
    Lock lock(mutex_);
    const Nanos now = clock_->now();
    if (const uint32_t error = usableError(now)) return error;
    if (*length == 0) return kUsbErrorNone;
    if (!streaming_) {
        if (config_.faults.noSync) {
            *length = 0;
            return kUsbErrorNone;
        }
        const uint32_t error = source_->copy(signalFrame_, destination, *length);
        signalFrame_ += framesFor(*length);
        return error;
    }
    carryLink(now);
    uint8_t id = 0;
    if (const uint32_t error = enqueue(destination, *length, &id)) return error;
    return waitLocked(lock, id, 0, length);
}

uint32_t ModuleSession::queueRead(uint8_t *destination, uint32_t length, uint8_t *transaction) {
    if (destination == nullptr || transaction == nullptr) return kUsbErrorInvalidArgument;
    if (length == 0 || length > kMaxTransferBytes) return kUsbErrorInvalidArgument;
    Lock lock(mutex_);
    const Nanos now = clock_->now();
    if (const uint32_t error = usableError(now)) return error;
    if (++queueCalls_ == config_.faults.queueFail) return kUsbErrorQueueFailed;
    carryLink(now);  // the read takes only frames that arrive from now on, and the fifo's
    return enqueue(destination, length, transaction);
}

uint32_t ModuleSession::wait(uint8_t transaction, int flag, uint32_t *bytesCount) {
    Lock lock(mutex_);
    if (closed_) return kUsbErrorInvalidHandle;
    return waitLocked(lock, transaction, flag, bytesCount);
}

uint32_t ModuleSession::waitLocked(Lock &lock, uint8_t transaction, int flag,
                                   uint32_t *bytesCount) {
    const Nanos deadline = clock_->now() + std::chrono::milliseconds{timeoutMs_};
    while (true) {
        if (closed_) return kUsbErrorCancelled;
        const Nanos now = clock_->now();
        const Nanos goneAt = module_->goneAt();
        if (completeThrough(transaction, std::min(now, goneAt))) changed_.notify_all();
        if (isPending(transaction) && exhausted()) {
            failAfterEnd();
            changed_.notify_all();
        }
        if (const std::optional<Outcome> outcome = finished_[transaction]) {
            release(transaction);
            if (bytesCount != nullptr) *bytesCount = outcome->bytes;
            return outcome->error;
        }
        if (!isPending(transaction)) return kUsbErrorUnknownTransaction;
        if (now >= goneAt) {
            drop(transaction);
            return kUsbErrorDisconnected;
        }
        if (flag != 0) return kUsbErrorPending;
        if (now >= deadline) {
            drop(transaction);
            return kUsbErrorTimedOut;
        }
        Nanos wakeAt = std::min(deadline, goneAt);
        if (const std::optional<Nanos> due = headDueTime()) wakeAt = std::min(wakeAt, *due);
        sleepUntil(lock, now, wakeAt);
    }
}

void ModuleSession::sleepUntil(Lock &lock, Nanos now, Nanos wakeAt) {
    if (wakeAt <= now) return;
    const Nanos span = std::min(wakeAt - now, clock_->pollInterval());
    if (span > Nanos{0}) changed_.wait_for(lock, span);
}

uint32_t ModuleSession::cancelReads() {
    Lock lock(mutex_);
    const Nanos now = clock_->now();
    if (const uint32_t error = usableError(now)) return error;
    carryLink(std::min(now, module_->goneAt()));
    while (completeHead()) {
    }
    for (const Transfer &transfer : pending_) {
        finished_[transfer.id] = Outcome{kUsbErrorCancelled, 0};
    }
    pending_.clear();
    wantedFrames_ = 0;
    if (!config_.pace.fast && heldFrames_ > heldLimit()) discardNewest(heldFrames_ - heldLimit());
    changed_.notify_all();
    return kUsbErrorNone;
}

uint64_t ModuleSession::close() {
    Lock lock(mutex_);
    closed_ = true;
    pending_.clear();
    wantedFrames_ = 0;
    held_.clear();
    heldFrames_ = 0;
    for (std::optional<Outcome> &outcome : finished_) outcome.reset();
    inUse_.reset();
    streaming_ = false;
    changed_.notify_all();
    return lostFrames_;
}

void ModuleSession::wake() {
    Lock lock(mutex_);
    changed_.notify_all();
}

}  // namespace ostrel::sim
