#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/frame_source.h"
#include "sim/sim_config.h"

namespace ostrel::sim {

// One period of a module's signal, precomputed as the bytes of whole frames: every word a 12-bit
// sample in bits 15..4, stored little-endian. Streaming is then a copy out of this table
// (tableSource in sim/frame_source.h). Immutable after construction, so sessions on any
// thread may share it.
class SignalTable {
  public:
    // Frames in one period of a generated signal; every waveform period divides it, so the
    // table wraps seamlessly.
    static constexpr uint64_t kFrames = 15120;

    explicit SignalTable(const ModuleConfig &config);

    uint32_t frameBytes() const { return static_cast<uint32_t>(wordsPerFrame_) * 2; }
    // Copies `bytes` bytes of the signal starting at frame `frame`, wrapping round the period.
    void copy(uint64_t frame, uint8_t *destination, size_t bytes) const;

    // Word `word` of frame `frame`.
    uint16_t word(uint64_t frame, int word) const;

  private:
    void fillPlain(const ModuleConfig &config);
    void fillSteering(const ModuleConfig &config);
    void put(uint64_t frame, int word, uint16_t value);

    int wordsPerFrame_;
    std::vector<uint8_t> bytes_;
};

// The 12-bit sample for `value` on a scale of -fullScale..+fullScale, saturating, as a word.
uint16_t encodeSample(double value, double fullScale);

}  // namespace ostrel::sim
