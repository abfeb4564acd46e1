// Telemetry type, speed, full-scale and steering slot tables: the rules that tie the
// tables to each other and to the stream, rather than the lists themselves.

#include "telemetry/tables.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "telemetry/selections.h"

namespace ostrel {
namespace {

std::string u8text(std::u8string_view text) {
    return std::string(reinterpret_cast<const char *>(text.data()), text.size());
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// --- Telemetry types -------------------------------------------------------------------

TEST(TelemetryTypes, FramesFitBlocksAndItemValuesFollowTheFamily) {
    for (int type = 0; type < telemetry_type_count; ++type) {
        SCOPED_TRACE(type);
        const TelemetryType &info = telemetry_types[type];
        EXPECT_EQ(number_of_channels[type], info.words_per_frame);
        EXPECT_EQ(block_words % info.words_per_frame, 0u) << "block must hold whole frames";
        if (info.family == TypeFamily::plain) {
            EXPECT_EQ(info.item_value, info.words_per_frame);
            char label[16];
            std::snprintf(label, sizeof label, "%2d Channel", info.words_per_frame);
            EXPECT_EQ(info.label, label);
        } else {
            EXPECT_EQ(info.words_per_frame, 32);
            EXPECT_EQ(info.item_value,
                      hasAccelerations(type) ? steering_slot_count : module_slot_count);
            EXPECT_TRUE(info.label.starts_with("Steering "));
        }
    }
    EXPECT_EQ(telemetry_types[default_telemetry_type].label, " 8 Channel");
}

TEST(TelemetryTypes, PredicatesPartitionEveryValue) {
    struct Case {
        int type;
        bool valid, plain, steering, accelerations;
        int layout;
    };
    const Case cases[] = {
        {INT_MIN, false, false, false, false, -1}, {-1, false, false, false, false, -1},
        {0, true, true, false, false, -1},         {3, true, true, false, false, -1},
        {4, true, false, true, true, 0},           {7, true, false, true, true, 3},
        {8, true, false, true, false, 4},          {9, true, false, true, false, 5},
        {10, false, false, false, false, -1},      {INT_MAX, false, false, false, false, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(isValidType(c.type), c.valid);
        EXPECT_EQ(isPlainType(c.type), c.plain);
        EXPECT_EQ(isSteeringType(c.type), c.steering);
        EXPECT_EQ(hasAccelerations(c.type), c.accelerations);
        EXPECT_EQ(steeringLayout(c.type), c.layout);
    }
    for (int type = 0; type < telemetry_type_count; ++type) {
        EXPECT_EQ(isPlainType(type), telemetry_types[type].family == TypeFamily::plain);
    }
}

// --- Speeds ----------------------------------------------------------------------------

TEST(TelemetrySpeeds, BlockTimeIsLinkTimeOf512Bytes) {
    for (int speed = 0; speed < speed_count; ++speed) {
        SCOPED_TRACE(speed);
        EXPECT_EQ(int64_t{block_time[speed]} * pcm_speed[speed], 3'264'000'000);
        EXPECT_EQ(pcm_speed[speed], telemetry_speeds[speed].item_value * 1000);
        EXPECT_EQ(telemetry_speeds[speed].label,
                  std::to_string(telemetry_speeds[speed].item_value) + " kbps");
    }
    EXPECT_EQ(telemetry_speeds[steering_speed_index].label, "640 kbps");
    EXPECT_EQ(telemetry_speeds[default_speed_index].label, "160 kbps");
    EXPECT_FALSE(isValidSpeed(-1));
    EXPECT_FALSE(isValidSpeed(speed_count));
}

// --- Full scale ------------------------------------------------------------------------

// Full scale of a steering slot = 100 x the slot's scale factor of the steering display:
// torque high x2 for the 200 Nm layouts, angle x1.2 for the commercial layouts.
int32_t expectedSteeringFullScale(int slot, int layout) {
    const bool torque200 = layout == 1 || layout == 3 || layout == 5;
    const bool commercial = layout == 2 || layout == 3;
    switch (slot) {
        case 0:
            return 10;
        case 1:
            return torque200 ? 200 : 100;
        case 2:
            return commercial ? 120 : 100;
        case 3:
            return commercial ? 1200 : 1000;
        case 4:
            return 500;
        case 5:
            return 1000;
        case 6:
        case 7:
        case 8:
            return 5;
        default:
            return 10000;
    }
}

TEST(FullScale, EveryTableEntryFollowsTheSlotScale) {
    for (int item = 0; item < scaled_chart_item_count; ++item) {
        for (int type = 0; type < telemetry_type_count; ++type) {
            SCOPED_TRACE(testing::Message() << "item " << item << " type " << type);
            const int32_t expected =
                isPlainType(type) ? 100 : expectedSteeringFullScale(item, steeringLayout(type));
            EXPECT_EQ(fullScale(item, type), expected);
        }
    }
}

TEST(FullScale, NamedTablesAreTheRowsOfChartItems) {
    const FullScaleRow *named[] = {&table_ss1, &table_ss2, &table_ss3, &table_ss4, &table_ss5,
                                   &table_ss6, &table_ss7, &table_ss8, &table_ss9, &table_ss10};
    for (int item = 0; item < scaled_chart_item_count; ++item) {
        for (int type = 0; type < telemetry_type_count; ++type) {
            EXPECT_EQ((*named[item])[type], fullScale(item, type)) << item << "," << type;
        }
    }
}

TEST(FullScale, RatingInTheTypeLabelMatchesTheAxes) {
    for (int type = first_steering_type; type < telemetry_type_count; ++type) {
        SCOPED_TRACE(type);
        const std::string_view label = telemetry_types[type].label;
        EXPECT_EQ(fullScale(1, type), endsWith(label, "200 Nm") ? 200 : 100);
        const bool commercial = label.find("Commercial") != std::string_view::npos;
        EXPECT_EQ(fullScale(3, type), commercial ? 1200 : 1000);
    }
}

TEST(FullScale, ItemsWithoutTableAndUnknownTypesGive100) {
    for (int item : {-1, 10, 11, 31, INT_MIN, INT_MAX}) {
        for (int type = 0; type < telemetry_type_count; ++type) {
            EXPECT_EQ(fullScale(item, type), 100) << item << "," << type;
        }
    }
    for (int type : {-1, 10, INT_MAX}) {
        EXPECT_EQ(fullScale(3, type), 100) << type;
        EXPECT_EQ(fullScale(9, type), 100) << type;
    }
}

// --- Steering slots --------------------------------------------------------------------

TEST(SteeringSlots, HighIsEvenWordAndLowTheOddWordAfterIt) {
    for (int pair = 0; pair < module_slot_count / 2; ++pair) {
        const SteeringSlot &low = steering_slots[2 * pair];
        const SteeringSlot &high = steering_slots[2 * pair + 1];
        EXPECT_EQ(high.frame_word, 2 * pair) << high.label;
        EXPECT_EQ(low.frame_word, 2 * pair + 1) << low.label;
        EXPECT_EQ(low.unit, high.unit) << "a pair shares its unit";
        EXPECT_TRUE(endsWith(low.label, " low")) << low.label;
        EXPECT_TRUE(endsWith(high.label, " high")) << high.label;
    }
    std::set<int32_t> words;
    for (int slot = module_slot_count; slot < steering_slot_count; ++slot) {
        EXPECT_EQ(steering_slots[slot].frame_word, slot);
    }
    for (const SteeringSlot &slot : steering_slots) words.insert(slot.frame_word);
    EXPECT_EQ(words.size(), 10u);
    EXPECT_EQ(*words.rbegin(), 9) << "slots read only words 0..9 of a frame";
}

TEST(SteeringSlots, ChartTwoDiffersOnlyInTheAngularAcceleration) {
    for (int slot = 0; slot < steering_slot_count - 1; ++slot) {
        EXPECT_EQ(steering_slots[slot].chart2_label, steering_slots[slot].label);
    }
    EXPECT_EQ(steering_slots[9].label, "Ang. Accel.");
    EXPECT_EQ(steering_slots[9].chart2_label, "Ang. Acceleration");
}

TEST(SteeringSlots, UnitsAreUtf8WithTheDegreeSign) {
    struct Case {
        int slot;
        std::u8string_view unit;
    };
    const Case cases[] = {{0, u8" Nm"},  {1, u8" Nm"}, {2, u8" °"}, {3, u8" °"}, {4, u8" °/s"},
                          {5, u8" °/s"}, {6, u8" g"},  {7, u8" g"}, {8, u8" g"}, {9, u8" °/s^2"}};
    for (const Case &c : cases) {
        EXPECT_EQ(steering_slots[c.slot].unit, u8text(c.unit)) << c.slot;
    }
    EXPECT_EQ(steering_slots[2].unit, std::string_view(" \xC2\xB0"));
}

}  // namespace
}  // namespace ostrel
