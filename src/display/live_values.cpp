#include "display/live_values.h"

#include <algorithm>
#include <cstddef>

#include "telemetry/number_text.h"
#include "telemetry/scaling.h"

namespace ostrel {
namespace {

constexpr std::string_view percent_unit = " %";

// The field of a number: minimum width (wider numbers keep every digit) and decimals.
struct NumberField {
    int width;
    int decimals;
};

constexpr NumberField standard_field{7, 2};
constexpr NumberField wide_field{8, 2};
constexpr NumberField whole_field{7, 0};

static_assert(steering_layout_count == telemetry_type_count - first_steering_type);

constexpr bool isSteeringLayout(int layout) {
    return layout >= 0 && layout < steering_layout_count;
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
    char *const last = text.chars.data() + text.chars.size() - 1;  // the NUL stays
    char *end = putFixed(text.chars.data(), last, double(value), field.decimals, field.width);
    std::copy_n(unit.data(), std::min(unit.size(), std::size_t(last - end)), end);
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
        const float value = steeringValue(layout, slot, frame[quantity.frame_word]);
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
