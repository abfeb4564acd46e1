// Where an open module's frames come from: a generated signal, one table shared by every
// session of the module, or a recording played back, streamed from its file by each session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ostrel::sim {

class SignalTable;

// Frames of one period, numbered from 0, each frameBytes() bytes of little-endian words.
// Used by one session under its lock: not thread-safe.
class FrameSource {
  public:
    virtual ~FrameSource() = default;

    virtual uint32_t frameBytes() const = 0;
    // Frames in one period: the generated signal's table, or the recording's records.
    virtual uint64_t frames() const = 0;
    // Copies `bytes` bytes of the signal from frame `frame` on, wrapping round the period.
    // Returns kUsbErrorNone, or the error that left `destination` incomplete (a recording
    // that can no longer be read).
    virtual uint32_t copy(uint64_t frame, uint8_t *destination, std::size_t bytes) = 0;
};

// A source over a precomputed table, which other sessions may share.
std::unique_ptr<FrameSource> tableSource(std::shared_ptr<const SignalTable> table);

}  // namespace ostrel::sim
