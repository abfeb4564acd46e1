#include "usb/sim/module_session.h"

#include <algorithm>
#include <cmath>

#include "usb/usb_error.h"

namespace ostrel::sim {

namespace {

constexpr uint16_t kSyncBit = 0x0002;
constexpr uint16_t kRunBits = 0x0101;
constexpr uint8_t kDataPort = 0;

// Nanoseconds of link time per word, times the speed in kbps: 12.75 bit times per word.
constexpr uint64_t kWordNanosTimesKbps = 12'750'000;

}  // namespace

ModuleSession::ModuleSession(std::shared_ptr<SimulatedModule> module,
                             std::shared_ptr<const SignalTable> signal,
                             std::shared_ptr<Clock> clock)
    : module_(std::move(module)),
      signal_(std::move(signal)),
      clock_(std::move(clock)),
      config_(module_->config()) {}

uint32_t ModuleSession::usableError(Nanos now) const {
    if (closed_) return kUsbErrorInvalidHandle;
    if (!module_->presentAt(now)) return kUsbErrorDisconnected;
    return kUsbErrorNone;
}

uint64_t ModuleSession::framesFor(uint32_t length) const {
    const uint32_t frameBytes = signal_->frameBytes();
    return (length + frameBytes - 1) / frameBytes;
}

Nanos ModuleSession::linkTime(uint64_t frames) const {
    const unsigned __int128 words = static_cast<unsigned __int128>(frames) * config_.wordsPerFrame;
    const auto nanos = static_cast<int64_t>(words * kWordNanosTimesKbps / config_.kbps);
    if (config_.pace.factor == 1.0) return Nanos{nanos};
    return Nanos{std::llround(static_cast<double>(nanos) / config_.pace.factor)};
}

uint64_t ModuleSession::framesCarriedBy(Nanos now) const {
    if (now <= streamStart_) return 0;
    const long double nanos = static_cast<long double>((now - streamStart_).count());
    const long double frameNanos = static_cast<long double>(kWordNanosTimesKbps) *
                                   config_.wordsPerFrame / config_.kbps / config_.pace.factor;
    return static_cast<uint64_t>(std::floor(nanos / frameNanos));
}

bool ModuleSession::stalled() const {
    return config_.faults.stallAfter && blocksStreamed_ >= *config_.faults.stallAfter;
}

// When the link will have carried the oldest queued read's data; nothing while it never will.
std::optional<Nanos> ModuleSession::headDueTime() const {
    if (!streaming_ || pending_.empty() || stalled()) return std::nullopt;
    if (config_.pace.fast) return Nanos::min();
    return streamStart_ + linkTime(streamFrames_ + framesFor(pending_.front().length));
}

bool ModuleSession::completeHeadBy(Nanos until) {
    const std::optional<Nanos> due = headDueTime();
    if (!due || *due > until) return false;
    finishHead(framesFor(pending_.front().length), pending_.front().length);
    return true;
}

// Hands the next `frames` frames of the stream to the oldest read: `bytes` of them land in its
// buffer, unless this is the block that is set to fail.
void ModuleSession::finishHead(uint64_t frames, uint32_t bytes) {
    const Transfer transfer = pending_.front();
    pending_.pop_front();
    ++blocksStreamed_;
    Outcome outcome{kUsbErrorNone, bytes};
    if (blocksStreamed_ == config_.faults.failBlock) {
        outcome = Outcome{kUsbErrorTransferFailed, 0};
    } else {
        signal_->copy(signalFrame_, transfer.destination, bytes);
    }
    streamFrames_ += frames;
    signalFrame_ += frames;
    finished_[transfer.id] = outcome;
}

// Completes, in queue order, the reads up to and including `transaction` whose data the link
// has carried by `until`. Returns whether any read completed.
bool ModuleSession::completeThrough(uint8_t transaction, Nanos until) {
    bool progressed = false;
    while (!pending_.empty()) {
        const bool last = pending_.front().id == transaction;
        if (!completeHeadBy(until)) break;
        progressed = true;
        if (last) break;
    }
    return progressed;
}

void ModuleSession::startStream(Nanos now) {
    streaming_ = true;
    streamStart_ = now;
    streamFrames_ = 0;
}

// The run bits were cleared: reads whose data the link carried complete as usual, the read the
// link was filling gets the frames carried so far, and the rest fail at once, so that nobody
// waits for a block that will never come.
void ModuleSession::stopStream(Nanos now) {
    while (completeHeadBy(now)) {
    }
    if (!pending_.empty() && !stalled()) {
        const uint64_t carried = framesCarriedBy(now);
        const uint64_t available = carried > streamFrames_ ? carried - streamFrames_ : 0;
        const uint64_t partial = std::min(available, framesFor(pending_.front().length) - 1);
        if (partial > 0) {
            finishHead(partial, static_cast<uint32_t>(partial * signal_->frameBytes()));
        }
    }
    for (const Transfer &transfer : pending_) {
        finished_[transfer.id] = Outcome{kUsbErrorStreamStopped, 0};
    }
    pending_.clear();
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

// Forgets a pending read: its buffer is never touched again.
void ModuleSession::drop(uint8_t transaction) {
    std::erase_if(pending_, [transaction](const Transfer &t) { return t.id == transaction; });
    inUse_.reset(transaction);
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
    pending_.push_back(Transfer{*id, destination, length});
    *transaction = *id;
    return kUsbErrorNone;
}

// Before the stream runs the receiver hands over at once what its buffer holds: the current
// frames when in sync, nothing otherwise. While it runs the read queues behind the others.
uint32_t ModuleSession::readData(uint8_t *destination, uint32_t *length) {
    if (destination == nullptr || length == nullptr) return kUsbErrorInvalidArgument;
    if (*length > kMaxTransferBytes) return kUsbErrorInvalidArgument;
    Lock lock(mutex_);
    if (const uint32_t error = usableError(clock_->now())) return error;
    if (*length == 0) return kUsbErrorNone;
    if (!streaming_) {
        if (config_.faults.noSync) {
            *length = 0;
            return kUsbErrorNone;
        }
        signal_->copy(signalFrame_, destination, *length);
        signalFrame_ += framesFor(*length);
        return kUsbErrorNone;
    }
    uint8_t id = 0;
    if (const uint32_t error = enqueue(destination, *length, &id)) return error;
    return waitLocked(lock, id, 0, length);
}

uint32_t ModuleSession::queueRead(uint8_t *destination, uint32_t length, uint8_t *transaction) {
    if (destination == nullptr || transaction == nullptr) return kUsbErrorInvalidArgument;
    if (length == 0 || length > kMaxTransferBytes) return kUsbErrorInvalidArgument;
    Lock lock(mutex_);
    if (const uint32_t error = usableError(clock_->now())) return error;
    if (++queueCalls_ == config_.faults.queueFail) return kUsbErrorQueueFailed;
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

void ModuleSession::close() {
    Lock lock(mutex_);
    closed_ = true;
    pending_.clear();
    for (std::optional<Outcome> &outcome : finished_) outcome.reset();
    inUse_.reset();
    streaming_ = false;
    changed_.notify_all();
}

void ModuleSession::wake() {
    Lock lock(mutex_);
    changed_.notify_all();
}

}  // namespace ostrel::sim
