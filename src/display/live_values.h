// What the channel displays show for one frame: the percent text of a plain
// channel and the engineering values and texts of the steering slots. Pure
// functions on a copy of the frame; texts live in fixed buffers, so the
// refresh allocates nothing to format them. Any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "telemetry/stream_buffers.h"
#include "telemetry/tables.h"

namespace ostrel {

// Steering layouts 0..5 (telemetry types 4..9).
inline constexpr int steering_layout_count = 6;

// One display text, NUL-terminated in a buffer wider than any text of a frame
// (the widest is a sign, four digits, point, two decimals and " °/s").
struct LiveText {
    std::array<char, 32> chars{};
    std::string_view view() const { return chars.data(); }
};

// A percent value as a plain channel shows it: seven places right-aligned, two decimals and
// '.' whatever the locale ("  50.04"), then " %".
LiveText percentText(float percent);

// The text of a plain channel carrying raw word `word`.
LiveText channelText(uint16_t word);

// The ten steering slots of one frame: values in their units (Nm, °, °/s, g,
// °/s^2), indexed by slot, and the texts of the slots' displays.
struct SteeringReadout {
    std::array<float, steering_slot_count> values{};
    std::array<LiveText, steering_slot_count> texts{};
};

// Converts words 0..9 of `frame` for steering layout `layout`. Every slot is
// computed, the acceleration slots of layouts 4 and 5 included. A layout
// outside 0..5 gives zero values and empty texts.
SteeringReadout steeringTexts(int layout, const FrameWords &frame);

// Slots a chart of `layout` can show: 10, or 6 for the layouts without
// accelerations (4, 5); 0 for a layout outside 0..5.
int steeringChartSlots(int layout);

}  // namespace ostrel
