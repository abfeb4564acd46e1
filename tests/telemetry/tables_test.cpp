// Telemetry type, speed, full-scale and steering slot tables: the rules that tie the
// tables to each other and to the stream, rather than the lists themselves.

#include "telemetry/tables.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "telemetry/selections.h"

namespace ostrel {
namespace {

TEST(TelemetryTypes, PredicatesPartitionEveryValue) {
    struct Case {
        int type;
        bool valid, plain, accelerations;
        int layout;
    };
    const Case cases[] = {
        {INT_MIN, false, false, false, -1}, {-1, false, false, false, -1},
        {0, true, true, false, -1},         {3, true, true, false, -1},
        {4, true, false, true, 0},          {7, true, false, true, 3},
        {8, true, false, false, 4},         {9, true, false, false, 5},
        {10, false, false, false, -1},      {INT_MAX, false, false, false, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(isValidType(c.type), c.valid);
        EXPECT_EQ(isPlainType(c.type), c.plain);
        EXPECT_EQ(isSteeringType(c.type), c.valid && !c.plain);
        EXPECT_EQ(hasAccelerations(c.type), c.accelerations);
        EXPECT_EQ(steeringLayout(c.type), c.layout);
        if (!c.valid) continue;
        const TelemetryType &info = telemetry_types[c.type];
        EXPECT_EQ(block_words % info.words_per_frame, 0u) << "a block holds whole frames";
        EXPECT_EQ(info.item_value, c.plain           ? info.words_per_frame
                                   : c.accelerations ? steering_slot_count
                                                     : module_slot_count);
    }
}

TEST(TelemetrySpeeds, BlockTimeIsTheLinkTimeOf512Bytes) {
    for (int speed = 0; speed < speed_count; ++speed) {
        SCOPED_TRACE(speed);
        EXPECT_EQ(int64_t{block_time[speed]} * pcm_speed[speed], 3'264'000'000);
        EXPECT_EQ(pcm_speed[speed], telemetry_speeds[speed].item_value * 1000);
        EXPECT_EQ(telemetry_speeds[speed].label,
                  std::to_string(telemetry_speeds[speed].item_value) + " kbps");
    }
    EXPECT_FALSE(isValidSpeed(-1));
    EXPECT_FALSE(isValidSpeed(speed_count));
}

// Plain types: 100 everywhere. Steering axes are those of "Personal Car 100 Nm" except torque high
// (x2 for "200 Nm") and the angles (x1.2 for "Commercial"); table_ssK is the row of chart item K-1.
TEST(FullScale, SteeringAxesFollowTheTypeLabel) {
    const FullScaleRow *named[] = {&table_ss1, &table_ss2, &table_ss3, &table_ss4, &table_ss5,
                                   &table_ss6, &table_ss7, &table_ss8, &table_ss9, &table_ss10};
    for (int type = 0; type < telemetry_type_count; ++type) {
        const std::string_view label = telemetry_types[type].label;
        const bool torque200 = label.ends_with("200 Nm");
        const bool commercial = label.find("Commercial") != std::string_view::npos;
        for (int item = 0; item < scaled_chart_item_count; ++item) {
            SCOPED_TRACE(testing::Message() << "item " << item << " type " << type);
            int32_t expected = isPlainType(type) ? 100 : fullScale(item, first_steering_type);
            if (item == 1 && torque200) expected *= 2;
            if ((item == 2 || item == 3) && commercial) expected = expected * 6 / 5;
            EXPECT_EQ(fullScale(item, type), expected);
            EXPECT_EQ((*named[item])[type], expected);
        }
    }
}

TEST(FullScale, ItemsOutside0To9AndUnknownTypesGive100) {
    for (int item : {-1, 10, 11, 31, INT_MIN, INT_MAX}) {
        for (int type = 0; type < telemetry_type_count; ++type) {
            EXPECT_EQ(fullScale(item, type), 100) << item << "," << type;
        }
    }
    for (int type : {-1, 10, INT_MAX}) EXPECT_EQ(fullScale(3, type), 100) << type;
}

TEST(SteeringSlots, HighIsTheEvenWordAndLowTheOddWordAfterIt) {
    for (int pair = 0; pair < module_slot_count / 2; ++pair) {
        const SteeringSlot &low = steering_slots[2 * pair];
        const SteeringSlot &high = steering_slots[2 * pair + 1];
        EXPECT_EQ(high.frame_word, 2 * pair) << high.label;
        EXPECT_EQ(low.frame_word, 2 * pair + 1) << low.label;
        EXPECT_TRUE(low.label.ends_with(" low") && high.label.ends_with(" high")) << low.label;
    }
    for (int slot = module_slot_count; slot < steering_slot_count; ++slot) {
        EXPECT_EQ(steering_slots[slot].frame_word, slot);
    }
}

TEST(SteeringSlots, LabelsAndUtf8Units) {
    const std::u8string_view units[steering_slot_count] = {
        u8" Nm", u8" Nm", u8" °", u8" °", u8" °/s", u8" °/s", u8" g", u8" g", u8" g", u8" °/s^2"};
    for (int slot = 0; slot < steering_slot_count; ++slot) {
        const std::u8string_view unit = units[slot];
        EXPECT_EQ(steering_slots[slot].unit,
                  std::string_view(reinterpret_cast<const char *>(unit.data()), unit.size()));
        EXPECT_EQ(steering_slots[slot].chart2_label,
                  slot == 9 ? "Ang. Acceleration" : steering_slots[slot].label);
    }
    EXPECT_EQ(steering_slots[2].unit, std::string_view(" \xC2\xB0"));
    EXPECT_EQ(steering_slots[9].label, "Ang. Accel.");
}

}  // namespace
}  // namespace ostrel
