#pragma once
// Vocabulary of the telemetry stream: the ten telemetry types, the four link speeds,
// the chart full-scale table and the steering slots. Constant data, safe to read from
// any thread.

#include <array>
#include <cstdint>
#include <string_view>

#include "telemetry/link_timing.h"

namespace ostrel {

// ---------------------------------------------------------------------------------------
// Telemetry types (index = selected item of the type ring CH_SLIDE)
// ---------------------------------------------------------------------------------------

enum class TypeFamily { plain, steering };

struct TelemetryType {
    std::string_view label;   // item label of CH_SLIDE
    int32_t item_value;       // item value of CH_SLIDE: channel displays shown (`channels`)
    int32_t words_per_frame;  // 16-bit words in one frame of this type
    TypeFamily family;
};

inline constexpr int telemetry_type_count = 10;
inline constexpr int default_telemetry_type = 1;  // " 8 Channel"
inline constexpr int first_steering_type = 4;     // types 4..9 are steering layouts 0..5
inline constexpr int first_module_type = 8;       // steering types without accelerations

inline constexpr std::array<TelemetryType, telemetry_type_count> telemetry_types{{
    {" 4 Channel", 4, 4, TypeFamily::plain},
    {" 8 Channel", 8, 8, TypeFamily::plain},
    {"16 Channel", 16, 16, TypeFamily::plain},
    {"32 Channel", 32, 32, TypeFamily::plain},
    {"Steering Personal Car 100 Nm", 10, 32, TypeFamily::steering},
    {"Steering Personal Car 200 Nm", 10, 32, TypeFamily::steering},
    {"Steering Commercial 100 Nm", 10, 32, TypeFamily::steering},
    {"Steering Commercial 200 Nm", 10, 32, TypeFamily::steering},
    {"Steering Module 100 Nm", 6, 32, TypeFamily::steering},
    {"Steering Module 200 Nm", 6, 32, TypeFamily::steering},
}};

// Words per frame, indexed by telemetry type.
inline constexpr std::array<int32_t, telemetry_type_count> number_of_channels = [] {
    std::array<int32_t, telemetry_type_count> words{};
    for (int t = 0; t < telemetry_type_count; ++t) words[t] = telemetry_types[t].words_per_frame;
    return words;
}();

// Raw words per logged cycle: the size of the frame buffer (16 blocks of 2048 words).
inline constexpr uint64_t LOGCOUNT = 32768;

// ---------------------------------------------------------------------------------------
// Telemetry speeds (index = selected item of the speed ring SPEED_SLIDE)
// ---------------------------------------------------------------------------------------

struct TelemetrySpeed {
    std::string_view label;  // item label of SPEED_SLIDE
    int32_t item_value;      // item value of SPEED_SLIDE, kbit/s
    int32_t bit_rate;        // link bit rate, bit/s
};

inline constexpr int speed_count = 4;
inline constexpr int default_speed_index = 1;   // "160 kbps"
inline constexpr int steering_speed_index = 3;  // steering types always run at 640 kbps

inline constexpr std::array<TelemetrySpeed, speed_count> telemetry_speeds{{
    {"40 kbps", 40, 40000},
    {"160 kbps", 160, 160000},
    {"320 kbps", 320, 320000},
    {"640 kbps", 640, 640000},
}};

// Link bit rate in bit/s, indexed by speed.
inline constexpr std::array<int32_t, speed_count> pcm_speed = [] {
    std::array<int32_t, speed_count> rates{};
    for (int s = 0; s < speed_count; ++s) rates[s] = telemetry_speeds[s].bit_rate;
    return rates;
}();

// Microseconds per 512 bytes (256 words) of stream, indexed by speed: the link time of
// 8 groups of 32 words, 3 264 000 000 / bit rate.
inline constexpr std::array<int32_t, speed_count> block_time = [] {
    std::array<int32_t, speed_count> times{};
    for (int s = 0; s < speed_count; ++s) {
        times[s] = int32_t(linkNanos(256, uint64_t(telemetry_speeds[s].bit_rate)) / 1000);
    }
    return times;
}();
static_assert(block_time[0] == 81600 && block_time[3] == 5100);

// ---------------------------------------------------------------------------------------
// Chart full scale: half-range R of a chart axis (-R..+R), per chart item and type
// ---------------------------------------------------------------------------------------

inline constexpr int scaled_chart_item_count = 10;  // chart items 0..9 have a table
inline constexpr int32_t default_full_scale = 100;  // percent; every other chart item

using FullScaleRow = std::array<int32_t, telemetry_type_count>;

// Row k belongs to chart item k (the steering slot k), column = telemetry type.
inline constexpr std::array<FullScaleRow, scaled_chart_item_count> full_scale_table{{
    {100, 100, 100, 100, 10, 10, 10, 10, 10, 10},                    // Torque low
    {100, 100, 100, 100, 100, 200, 100, 200, 100, 200},              // Torque high
    {100, 100, 100, 100, 100, 100, 120, 120, 100, 100},              // Angle low
    {100, 100, 100, 100, 1000, 1000, 1200, 1200, 1000, 1000},        // Angle high
    {100, 100, 100, 100, 500, 500, 500, 500, 500, 500},              // Speed low
    {100, 100, 100, 100, 1000, 1000, 1000, 1000, 1000, 1000},        // Speed high
    {100, 100, 100, 100, 5, 5, 5, 5, 5, 5},                          // X Accel.
    {100, 100, 100, 100, 5, 5, 5, 5, 5, 5},                          // Y Accel.
    {100, 100, 100, 100, 5, 5, 5, 5, 5, 5},                          // Z Accel.
    {100, 100, 100, 100, 10000, 10000, 10000, 10000, 10000, 10000},  // Ang. Accel.
}};

inline constexpr const FullScaleRow &table_ss1 = full_scale_table[0];
inline constexpr const FullScaleRow &table_ss2 = full_scale_table[1];
inline constexpr const FullScaleRow &table_ss3 = full_scale_table[2];
inline constexpr const FullScaleRow &table_ss4 = full_scale_table[3];
inline constexpr const FullScaleRow &table_ss5 = full_scale_table[4];
inline constexpr const FullScaleRow &table_ss6 = full_scale_table[5];
inline constexpr const FullScaleRow &table_ss7 = full_scale_table[6];
inline constexpr const FullScaleRow &table_ss8 = full_scale_table[7];
inline constexpr const FullScaleRow &table_ss9 = full_scale_table[8];
inline constexpr const FullScaleRow &table_ss10 = full_scale_table[9];

// ---------------------------------------------------------------------------------------
// Steering slots: the quantities of the steering types, in display and chart-item order
// ---------------------------------------------------------------------------------------

struct SteeringSlot {
    std::string_view label;         // channel display label and chart 1 item label
    std::string_view chart2_label;  // chart 2 item label
    int32_t frame_word;             // word of the frame carrying the quantity
    std::string_view unit;          // unit text after the number, UTF-8
};

inline constexpr int steering_slot_count = 10;  // layouts with accelerations (types 4..7)
inline constexpr int module_slot_count = 6;     // layouts without accelerations (types 8, 9)

// A high/low pair shares a sensor: the high quantity is the even word, the low the odd
// word after it. "\xC2\xB0" is the degree sign in UTF-8 (a hex escape ends at "/").
inline constexpr std::array<SteeringSlot, steering_slot_count> steering_slots{{
    {"Torque low", "Torque low", 1, " Nm"},
    {"Torque high", "Torque high", 0, " Nm"},
    {"Angle low", "Angle low", 3, " \xC2\xB0"},
    {"Angle high", "Angle high", 2, " \xC2\xB0"},
    {"Speed low", "Speed low", 5, " \xC2\xB0/s"},
    {"Speed high", "Speed high", 4, " \xC2\xB0/s"},
    {"X Accel.", "X Accel.", 6, " g"},
    {"Y Accel.", "Y Accel.", 7, " g"},
    {"Z Accel.", "Z Accel.", 8, " g"},
    {"Ang. Accel.", "Ang. Acceleration", 9, " \xC2\xB0/s^2"},
}};

// ---------------------------------------------------------------------------------------
// Questions about a type. Every function accepts any int; an index outside the tables
// never reads out of bounds.
// ---------------------------------------------------------------------------------------

bool isValidType(int type);
bool isValidSpeed(int speedIndex);

// Plain 4/8/16/32-channel type (0..3).
bool isPlainType(int type);

// Steering type (4..9).
bool isSteeringType(int type);

// Steering type with the four acceleration slots (4..7).
bool hasAccelerations(int type);

// Steering layout 0..5 of a steering type; -1 for any other value.
int steeringLayout(int type);

// Half-range of a chart axis showing chart item `chartItem` for telemetry type `type`.
// Items outside 0..9 (channels 11..32 of the plain types) and unknown types give 100.
int32_t fullScale(int chartItem, int type);

}  // namespace ostrel
