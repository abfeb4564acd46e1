#include "sim/signal_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include "telemetry/link_timing.h"
#include "usb/usb_error.h"

namespace ostrel::sim {

namespace {

constexpr double kHalfScale = 2047.5;  // half the 12-bit range
constexpr uint16_t kMidScale = 0x8000;
constexpr double kTwoPi = 2 * std::numbers::pi;

enum class Waveform { Sine, Triangle, Square, Ramp };

// One plain channel: a waveform of a period that divides the table, with its phase and size.
struct Channel {
    Waveform waveform;
    double periodFrames;
    double phase;      // fraction of a period
    double amplitude;  // fraction of full scale
};

Channel makeChannel(uint32_t seed, int channel) {
    static constexpr int kDivisors[] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::mt19937 rng(seed * 7919u + static_cast<uint32_t>(channel));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Channel result{};
    result.waveform = static_cast<Waveform>((static_cast<uint32_t>(channel) + seed) % 4);
    const int divisor = kDivisors[(static_cast<uint32_t>(channel) * 3 + seed) % 8];
    result.periodFrames = static_cast<double>(SignalTable::kFrames) / divisor;
    result.phase = unit(rng);
    result.amplitude = 0.55 + 0.4 * unit(rng);
    return result;
}

// The waveform at `x` periods from its start, in -1..+1.
double waveAt(Waveform waveform, double x) {
    const double fraction = x - std::floor(x);
    switch (waveform) {
        case Waveform::Sine:
            return std::sin(kTwoPi * fraction);
        case Waveform::Triangle:
            return 1.0 - 4.0 * std::abs(fraction - 0.5);
        case Waveform::Square:
            return fraction < 0.5 ? 1.0 : -1.0;
        case Waveform::Ramp:
            return 2.0 * fraction - 1.0;
    }
    return 0.0;
}

uint16_t sampleWord(long sample) {
    return static_cast<uint16_t>(std::clamp(sample, 0L, 4095L) << 4);
}

// The steering quantities at one instant, in engineering units.
struct SteeringState {
    double torqueNm, angleDeg, speedDegS, accelXg, accelYg, accelZg, angularAccelDegS2;
};

// The wheel sweeps back and forth (one slow and one faster component); speed and angular
// acceleration are its exact derivatives, torque follows angle and speed, and the lateral
// acceleration follows the angle. Gravity keeps Z near 1 g.
SteeringState steeringAt(double seconds, double periodSeconds, double phase) {
    const double w1 = kTwoPi / periodSeconds;
    const double w2 = 5 * w1;
    const double a1 = 360.0, a2 = 100.0;
    SteeringState s{};
    s.angleDeg = a1 * std::sin(w1 * seconds) + a2 * std::sin(w2 * seconds + phase);
    s.speedDegS = a1 * w1 * std::cos(w1 * seconds) + a2 * w2 * std::cos(w2 * seconds + phase);
    s.angularAccelDegS2 =
        -a1 * w1 * w1 * std::sin(w1 * seconds) - a2 * w2 * w2 * std::sin(w2 * seconds + phase);
    s.torqueNm = 0.04 * s.angleDeg + 0.02 * s.speedDegS;
    s.accelXg = 0.2 * std::sin(2 * w1 * seconds);
    s.accelYg = 0.002 * s.angleDeg;
    s.accelZg = 1.0 + 0.05 * std::sin(7 * w1 * seconds);
    return s;
}

}  // namespace

uint16_t encodeSample(double value, double fullScale) {
    return sampleWord(std::lround(kHalfScale + value / fullScale * kHalfScale));
}

SignalTable::SignalTable(const ModuleConfig &config)
    : wordsPerFrame_(config.wordsPerFrame), bytes_(kFrames * frameBytes()) {
    if (config.signal == SignalKind::Steering) {
        fillSteering(config);
    } else {
        fillPlain(config);
    }
}

void SignalTable::put(uint64_t frame, int word, uint16_t value) {
    uint8_t *at = &bytes_[frame * frameBytes() + static_cast<size_t>(word) * 2];
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t SignalTable::word(uint64_t frame, int word) const {
    const uint8_t *at = &bytes_[(frame % kFrames) * frameBytes() + static_cast<size_t>(word) * 2];
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

void SignalTable::fillPlain(const ModuleConfig &config) {
    std::mt19937 noiseSource(config.seed);
    std::uniform_int_distribution<long> noise(-1, 1);
    for (int c = 0; c < wordsPerFrame_; ++c) {
        const Channel channel = makeChannel(config.seed, c);
        for (uint64_t f = 0; f < kFrames; ++f) {
            const double wave = waveAt(
                channel.waveform, static_cast<double>(f) / channel.periodFrames + channel.phase);
            const long sample = std::lround(kHalfScale + channel.amplitude * kHalfScale * wave);
            put(f, c, sampleWord(sample + noise(noiseSource)));
        }
    }
}

// Words 0..9 in the order of the steering slots, each on the full scale of its slot (the
// low-range words saturate), repeated in words 10..19 and 20..29; words 30 and 31 mid-scale.
void SignalTable::fillSteering(const ModuleConfig &config) {
    const double frameSeconds = wordsPerFrame_ * linkWordSeconds(config.kbps);
    const double periodSeconds = static_cast<double>(kFrames) * frameSeconds;
    const double phase = kTwoPi * (config.seed % 360) / 360.0;
    for (uint64_t f = 0; f < kFrames; ++f) {
        const SteeringState s =
            steeringAt(static_cast<double>(f) * frameSeconds, periodSeconds, phase);
        const uint16_t group[10] = {
            encodeSample(s.torqueNm, 100.0),   encodeSample(s.torqueNm, 10.0),
            encodeSample(s.angleDeg, 1000.0),  encodeSample(s.angleDeg, 100.0),
            encodeSample(s.speedDegS, 1000.0), encodeSample(s.speedDegS, 500.0),
            encodeSample(s.accelXg, 5.0),      encodeSample(s.accelYg, 5.0),
            encodeSample(s.accelZg, 5.0),      encodeSample(s.angularAccelDegS2, 10000.0),
        };
        for (int w = 0; w < 30; ++w) put(f, w, group[w % 10]);
        put(f, 30, kMidScale);
        put(f, 31, kMidScale);
    }
}

void SignalTable::copy(uint64_t frame, uint8_t *destination, size_t bytes) const {
    size_t offset = (frame % kFrames) * frameBytes();
    while (bytes > 0) {
        const size_t chunk = std::min(bytes, bytes_.size() - offset);
        std::memcpy(destination, bytes_.data() + offset, chunk);
        destination += chunk;
        bytes -= chunk;
        offset = 0;
    }
}

namespace {

// The table seen as a session's source; the table itself stays shared and immutable.
class TableSource final : public FrameSource {
  public:
    explicit TableSource(std::shared_ptr<const SignalTable> table) : table_(std::move(table)) {}
    uint32_t frameBytes() const override { return table_->frameBytes(); }
    uint64_t frames() const override { return SignalTable::kFrames; }
    uint32_t copy(uint64_t frame, uint8_t *destination, std::size_t bytes) override {
        table_->copy(frame, destination, bytes);
        return kUsbErrorNone;
    }

  private:
    const std::shared_ptr<const SignalTable> table_;
};

}  // namespace

std::unique_ptr<FrameSource> tableSource(std::shared_ptr<const SignalTable> table) {
    return std::make_unique<TableSource>(std::move(table));
}

}  // namespace ostrel::sim
