#include "telemetry/scaling.h"

#include <array>

#include "telemetry/link_timing.h"
#include "telemetry/tables.h"

namespace ostrel {

namespace {
constexpr double mid_scale_sample = 2047.5;     // between samples 2047 and 2048
constexpr double samples_per_percent = 20.475;  // 2047.5 / 100
constexpr double micros_per_second = 1000000.0;
constexpr double micros_per_milli = 1000.0;

constexpr int steering_layout_total = telemetry_type_count - first_steering_type;

// Scale factors that differ between steering layouts. The angle-low factor is a double:
// its product with the float percent is taken in double and only then stored as float.
struct LayoutFactors {
    float torqueHigh;
    double angleLow;
    float angleHigh;
};

constexpr std::array<LayoutFactors, steering_layout_total> layout_factors{{
    {1.0f, 1.0, 10.0f},  // Personal Car 100 Nm
    {2.0f, 1.0, 10.0f},  // Personal Car 200 Nm
    {1.0f, 1.2, 12.0f},  // Commercial 100 Nm
    {2.0f, 1.2, 12.0f},  // Commercial 200 Nm
    {1.0f, 1.0, 10.0f},  // Module 100 Nm
    {2.0f, 1.0, 10.0f},  // Module 200 Nm
}};
}  // namespace

float percentOf(uint16_t word) {
    const int sample = word >> 4;
    return static_cast<float>((sample - mid_scale_sample) / samples_per_percent);
}

float steeringValue(int layout, int slot, uint16_t word) {
    if (layout < 0 || layout >= steering_layout_total) return 0.0f;
    if (slot < 0 || slot >= steering_slot_count) return 0.0f;
    const LayoutFactors &f = layout_factors[layout];
    const float p = percentOf(word);
    switch (slot) {
        case 0:  // Torque low
            return p / 10.0f;
        case 1:  // Torque high
            return p * f.torqueHigh;
        case 2:  // Angle low
            return static_cast<float>(p * f.angleLow);
        case 3:  // Angle high
            return p * f.angleHigh;
        case 4:  // Speed low
            return p * 5.0f;
        case 5:  // Speed high
            return p * 10.0f;
        case 9:  // Ang. Accel.
            return p * 100.0f;
        default:  // X, Y, Z Accel.
            return p / 20.0f;
    }
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
