#include "telemetry/scaling.h"

#include "telemetry/link_timing.h"
#include "telemetry/tables.h"

namespace ostrel {

namespace {
constexpr double mid_scale_sample = 2047.5;     // between samples 2047 and 2048
constexpr double samples_per_percent = 20.475;  // 2047.5 / 100
constexpr double micros_per_second = 1000000.0;
constexpr double micros_per_milli = 1000.0;
}  // namespace

float percentOf(uint16_t word) {
    const int sample = word >> 4;
    return static_cast<float>((sample - mid_scale_sample) / samples_per_percent);
}

uint64_t framesPerLoggedCycle(int type) {
    if (!isValidType(type)) return 0;
    return LOGCOUNT / static_cast<uint64_t>(number_of_channels[type]);
}

float diagramTimeBase(int speedIndex, int blockSpeedFactor) {
    if (!isValidSpeed(speedIndex)) return 0.0f;
    // 64-bit product: equal to the 32-bit one for every factor that fits, and no
    // overflow for the others.
    const int64_t micros = int64_t{block_time[speedIndex]} * blockSpeedFactor;
    return static_cast<float>(static_cast<double>(micros) / micros_per_milli);
}

double samplePeriodMicros(int type, int speedIndex) {
    if (!isValidType(type) || !isValidSpeed(speedIndex)) return 0.0;
    // The order of evaluation is part of the result: every value comes out exact, so
    // the log header's two-decimal text rounds 159.375 up to 159.38.
    double seconds = 1.0 / pcm_speed[speedIndex];
    seconds *= link_bit_factor_a;
    seconds *= link_bit_factor_b;
    seconds *= number_of_channels[type];
    seconds /= link_words_per_group;
    return seconds * micros_per_second;
}

}  // namespace ostrel
