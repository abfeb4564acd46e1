// The telemetry vocabulary and the numbers the display and the log header make of it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <utility>

#include "telemetry/number_text.h"
#include "telemetry/scaling.h"
#include "telemetry/tables.h"

namespace ostrel {
namespace {

// The fixed-point texts printf's "%*.*f" writes in the C locale, whatever the locale: rounded
// as printf rounds (the double's exact value, ties to even), wider numbers kept whole, and
// cut only at the end of the caller's buffer.
TEST(FixedText, AsPrintfWritesItInTheCLocale) {
    const struct {
        double value;
        int decimals;
        int width;
        const char *text;
    } cases[] = {
        {50.044, 2, 7, "  50.04"},
        {-0.0244, 2, 7, "  -0.02"},
        {-1234.5, 1, 3, "-1234.5"},
        {0.125, 2, 0, "0.12"},
        {159.375, 2, 0, "159.38"},
        {2.5, 0, 0, "2"},
        {-0.0, 2, 6, " -0.00"},
        {1e21, 1, 0, "1000000000000000000000.0"},
        {0.5, 40, 0, "0.50000000000000000"},  // at most kMaxFixedDecimals
        {7.0, -1, 2, " 7"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(fixedText(c.value, c.decimals, c.width), c.text) << c.value;
        char buffer[64];
        EXPECT_EQ(std::string(buffer, putFixed(buffer, buffer + sizeof buffer, c.value, c.decimals,
                                               c.width)),
                  c.text)
            << c.value;
    }
    char small[4];
    EXPECT_EQ(std::string(small, putFixed(small, small + sizeof small, 50.044, 2, 7)), "  50");
    EXPECT_EQ(std::string(small, putFixed(small, small + sizeof small, -1234.5, 1)), "-123");
}

TEST(Percent, ExactValuesAndTextsRisingSymmetricallyIgnoringTheLowNibble) {
    // The low nibble's part, the symmetry and the rise: the loop below. The last three rows:
    // computed in double, rounded once; float arithmetic is one step off.
    constexpr float half_step = 0.02442002482712269f;  // 0.5 / 20.475 as a float
    const struct {
        uint16_t word;
        float percent;
        const char *text;
    } cases[] = {
        {0x0000, -100.0f, "-100.00"},       {0x7FF0, -half_step, "  -0.02"},
        {0x8000, half_step, "   0.02"},     {0xFFF0, 100.0f, " 100.00"},
        {6 << 4, -99.7069626f, " -99.71"},  {13 << 4, -99.3650818f, " -99.37"},
        {36 << 4, -98.2417603f, " -98.24"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(percentOf(c.word), c.percent) << std::hex << c.word;
        EXPECT_EQ(fixedText(percentOf(c.word), 2, 7), c.text) << std::hex << c.word;
    }
    for (int sample = 1; sample <= 4095; ++sample) {
        const float value = percentOf(uint16_t(sample << 4));
        ASSERT_GT(value, percentOf(uint16_t((sample - 1) << 4))) << sample;
        ASSERT_EQ(value, -percentOf(uint16_t((4095 - sample) << 4))) << sample;
        ASSERT_EQ(percentOf(uint16_t(sample << 4 | 0xF)), value) << sample;
    }
}

// The texts of every speed are the time-base display's (tests/display).
TEST(DiagramTimeBase, ZeroOutsideItsRangesAndNoOverflow) {
    EXPECT_EQ(diagramTimeBase(1, 0), 0.0f) << "factor before start-up";
    EXPECT_EQ(diagramTimeBase(-1, 8), 0.0f);
    EXPECT_EQ(diagramTimeBase(speed_count, 8), 0.0f);
    // 81600 x 1 000 000 does not fit 32 bits; the result must still be the product.
    EXPECT_EQ(diagramTimeBase(0, 1'000'000), 81'600'000.0f);
}

TEST(SamplePeriod, EqualsTheClosedFormExactlyAndRoundsHalfwayUpInTheLogHeader) {
    const double rates[speed_count] = {40000, 160000, 320000, 640000};
    for (int type = 0; type < telemetry_type_count; ++type) {
        const double words = type < first_steering_type ? (4 << type) : 32;
        for (int speed = 0; speed < speed_count; ++speed) {
            EXPECT_EQ(samplePeriodMicros(type, speed), 12'750'000.0 * words / rates[speed])
                << type << "," << speed;
        }
    }
    for (auto [type, speed] : {std::pair{-1, 0}, {telemetry_type_count, 0}, {0, -1}, {0, 4}}) {
        EXPECT_EQ(samplePeriodMicros(type, speed), 0.0) << type << "," << speed;
    }
    EXPECT_EQ(fixedText(samplePeriodMicros(1, 1), 2), "637.50");  // 637.5
    EXPECT_EQ(fixedText(samplePeriodMicros(3, 0), 2), "10200.00");
    EXPECT_EQ(fixedText(samplePeriodMicros(0, 2), 2), "159.38");  // 159.375
    EXPECT_EQ(fixedText(samplePeriodMicros(0, 3), 2), "79.69");   // 79.6875
}

// The steering half-ranges are what the steering values reach (below); elsewhere 100.
TEST(FullScale, Is100OutsideTheSteeringTable) {
    for (int type = 0; type < telemetry_type_count; ++type) {
        for (int item : {-1, 10, 11, 31, INT_MIN, INT_MAX}) {
            EXPECT_EQ(fullScale(item, type), 100) << item << "," << type;
        }
        for (int item = 0; type < first_steering_type && item < 10; ++item) {
            EXPECT_EQ(fullScale(item, type), 100) << item << "," << type;
        }
    }
    for (int type : {-1, 10, INT_MAX}) EXPECT_EQ(fullScale(3, type), 100) << type;
}

// Full scale per layout and slot (the chart table gives the half-ranges), the float
// arithmetic of every slot, and the neutral 0 outside the tables.
TEST(SteeringValue, FullScaleOfEveryLayoutAndSlotAndZeroOutside) {
    for (int layout = 0; layout < telemetry_type_count - first_steering_type; ++layout) {
        const int type = layout + first_steering_type;
        for (int slot = 0; slot < steering_slot_count; ++slot) {
            const float full = float(fullScale(slot, type));
            EXPECT_EQ(steeringValue(layout, slot, 0xFFF0), full) << layout << "," << slot;
            EXPECT_EQ(steeringValue(layout, slot, 0x000F), -full) << layout << "," << slot;
        }
    }
    const float p = percentOf(0x8000);
    EXPECT_EQ(steeringValue(0, 0, 0x8000), p / 10.0f);
    EXPECT_EQ(steeringValue(1, 1, 0x8000), p * 2.0f);
    EXPECT_EQ(steeringValue(2, 3, 0x8000), p * 12.0f);
    EXPECT_EQ(steeringValue(5, 6, 0x8000), p / 20.0f);
    // The angle low of the commercial layouts: the product in double, stored once as float.
    const uint16_t word = 1234 << 4;
    EXPECT_EQ(steeringValue(3, 2, word), static_cast<float>(percentOf(word) * 1.2));
    EXPECT_EQ(steeringValue(2, 2, 0x0000), -120.0f);  // the float product is -120.00001
    for (const auto &[layout, slot] :
         {std::pair{-1, 0}, {6, 0}, {INT_MIN, 1}, {0, -1}, {0, 10}, {4, INT_MAX}}) {
        EXPECT_EQ(steeringValue(layout, slot, 0xFFFF), 0.0f) << layout << "," << slot;
    }
}

}  // namespace
}  // namespace ostrel
