#include "display/live_values.h"

#include <cstdio>

#include "telemetry/scaling.h"

namespace ostrel {
namespace {

constexpr std::string_view percent_unit = " %";

// printf field of a number: minimum width (wider numbers keep every digit) and
// decimals.
struct NumberField {
    int width;
    int decimals;
};

constexpr NumberField standard_field{7, 2};
constexpr NumberField wide_field{8, 2};
constexpr NumberField whole_field{7, 0};

// Scale factors that differ between layouts. The angle-low factor is a double
// (1.2 for the commercial layouts): its product with the float percent is
// taken in double and only then stored as float.
struct LayoutFactors {
    float torqueHigh;
    double angleLow;
    float angleHigh;
};

constexpr std::array<LayoutFactors, steering_layout_count> layout_factors{{
    {1.0f, 1.0, 10.0f},  // Personal Car 100 Nm
    {2.0f, 1.0, 10.0f},  // Personal Car 200 Nm
    {1.0f, 1.2, 12.0f},  // Commercial 100 Nm
    {2.0f, 1.2, 12.0f},  // Commercial 200 Nm
    {1.0f, 1.0, 10.0f},  // Module 100 Nm
    {2.0f, 1.0, 10.0f},  // Module 200 Nm
}};

constexpr bool isSteeringLayout(int layout) {
    return layout >= 0 && layout < steering_layout_count;
}

// The value of `slot` from its word's percent `p`, in float arithmetic except
// the angle-low product.
float slotValue(int layout, int slot, float p) {
    const LayoutFactors &f = layout_factors[layout];
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

// Layout 0 shows the angle low one place wider and the angle high one
// narrower than the other layouts.
NumberField slotField(int layout, int slot) {
    if (slot == 2) return layout == 0 ? wide_field : standard_field;
    if (slot == 3) return layout == 0 ? standard_field : wide_field;
    if (slot == 9) return whole_field;
    return standard_field;
}

LiveText numberText(float value, NumberField field, std::string_view unit) {
    LiveText text;
    std::snprintf(text.chars.data(), text.chars.size(), "%*.*f%.*s", field.width, field.decimals,
                  static_cast<double>(value), static_cast<int>(unit.size()), unit.data());
    return text;
}

}  // namespace

LiveText percentText(float percent) {
    return numberText(percent, standard_field, percent_unit);
}

LiveText channelText(uint16_t word) {
    return percentText(percentOf(word));
}

SteeringReadout steeringTexts(int layout, const FrameWords &frame) {
    SteeringReadout readout;
    if (!isSteeringLayout(layout)) return readout;
    for (int slot = 0; slot < steering_slot_count; ++slot) {
        const SteeringSlot &quantity = steering_slots[slot];
        const float value = slotValue(layout, slot, percentOf(frame[quantity.frame_word]));
        readout.values[slot] = value;
        readout.texts[slot] = numberText(value, slotField(layout, slot), quantity.unit);
    }
    return readout;
}

int steeringChartSlots(int layout) {
    if (!isSteeringLayout(layout)) return 0;
    return hasAccelerations(layout + first_steering_type) ? steering_slot_count : module_slot_count;
}

}  // namespace ostrel
