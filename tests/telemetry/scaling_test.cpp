// Percent conversion, frames per logged cycle, diagram time base and sample period, with
// the texts the display and the log header make of them.

#include "telemetry/scaling.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "telemetry/selections.h"
#include "telemetry/tables.h"

namespace ostrel {
namespace {

std::string format(const char *pattern, double value) {
    char text[32];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// --- Percent ---------------------------------------------------------------------------

TEST(Percent, EdgeWordsGiveExactValuesAndTexts) {
    struct Case {
        uint16_t word;
        float percent;
        const char *text;  // "%7.2f"
    };
    constexpr float half_step = 0.02442002482712269f;  // 0.5 / 20.475 as a float
    const Case cases[] = {
        {0x0000, -100.0f, "-100.00"},    {0x000F, -100.0f, "-100.00"},
        {0x7FF0, -half_step, "  -0.02"}, {0x7FFF, -half_step, "  -0.02"},
        {0x8000, half_step, "   0.02"},  {0x800F, half_step, "   0.02"},
        {0xFFF0, 100.0f, " 100.00"},     {0xFFFF, 100.0f, " 100.00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.word);
        EXPECT_EQ(percentOf(c.word), c.percent);
        EXPECT_EQ(format("%7.2f", percentOf(c.word)), c.text);
    }
    EXPECT_NEAR(percentOf(0x8000), 0.0244, 5e-5);
}

TEST(Percent, IsComputedInDoubleAndRoundedToFloatOnce) {
    // Samples where float arithmetic would land one step off the double result.
    EXPECT_EQ(percentOf(6 << 4), -99.7069626f);
    EXPECT_EQ(percentOf(13 << 4), -99.3650818f);
    EXPECT_EQ(percentOf(36 << 4), -98.2417603f);
}

TEST(Percent, LowNibbleNeverChangesTheValue) {
    for (uint32_t word = 0; word <= 0xFFFF; ++word) {
        ASSERT_EQ(percentOf(static_cast<uint16_t>(word)),
                  percentOf(static_cast<uint16_t>(word & 0xFFF0)))
            << std::hex << word;
    }
}

TEST(Percent, RisesStrictlyAndSymmetricallyWithoutLeavingFullScale) {
    float previous = -1000.0f;
    for (int sample = 0; sample <= 4095; ++sample) {
        const float value = percentOf(static_cast<uint16_t>(sample << 4));
        const float mirror = percentOf(static_cast<uint16_t>((4095 - sample) << 4));
        ASSERT_GT(value, previous) << sample;
        ASSERT_EQ(value, -mirror) << sample;
        ASSERT_GE(value, -100.0f) << sample;
        ASSERT_LE(value, 100.0f) << sample;
        previous = value;
    }
}

// --- Frames per logged cycle -----------------------------------------------------------

TEST(FramesPerLoggedCycle, EveryTypeFillsTheFrameBufferExactly) {
    const uint64_t expected[telemetry_type_count] = {8192, 4096, 2048, 1024, 1024,
                                                     1024, 1024, 1024, 1024, 1024};
    for (int type = 0; type < telemetry_type_count; ++type) {
        EXPECT_EQ(framesPerLoggedCycle(type), expected[type]) << type;
        EXPECT_EQ(framesPerLoggedCycle(type) * number_of_channels[type], LOGCOUNT) << type;
    }
    EXPECT_EQ(framesPerLoggedCycle(-1), 0u);
    EXPECT_EQ(framesPerLoggedCycle(telemetry_type_count), 0u);
}

// --- Diagram time base -----------------------------------------------------------------

TEST(DiagramTimeBase, AllSpeedsAtTheStartUpFactor) {
    struct Case {
        int speed;
        float millis;
        const char *text;  // "%7.2f"
    };
    const Case cases[] = {{0, 652.8f, " 652.80"},
                          {1, 163.2f, " 163.20"},
                          {2, 81.6f, "  81.60"},
                          {3, 40.8f, "  40.80"}};
    const int factor = blocksize >> 9;
    ASSERT_EQ(factor, 8);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.speed);
        EXPECT_EQ(diagramTimeBase(c.speed, factor), c.millis);
        EXPECT_EQ(format("%7.2f", diagramTimeBase(c.speed, factor)), c.text);
    }
}

TEST(DiagramTimeBase, IsTheLinkTimeOfOneTransferBlock) {
    const int factor = blocksize >> 9;
    const int frames_per_block = static_cast<int>(block_words) / 32;
    for (int speed = 0; speed < speed_count; ++speed) {
        const double block_micros = samplePeriodMicros(3, speed) * frames_per_block;
        EXPECT_FLOAT_EQ(diagramTimeBase(speed, factor), block_micros / 1000.0) << speed;
    }
}

TEST(DiagramTimeBase, UnsetFactorUnknownSpeedAndHugeFactor) {
    EXPECT_EQ(diagramTimeBase(1, 0), 0.0f) << "factor before start-up";
    EXPECT_EQ(format("%7.2f", diagramTimeBase(1, 0)), "   0.00");
    EXPECT_EQ(diagramTimeBase(-1, 8), 0.0f);
    EXPECT_EQ(diagramTimeBase(speed_count, 8), 0.0f);
    // 81600 x 1 000 000 does not fit 32 bits; the result must still be the product.
    EXPECT_EQ(diagramTimeBase(0, 1'000'000), 81'600'000.0f);
    EXPECT_EQ(diagramTimeBase(0, INT_MAX), static_cast<float>(81600.0 * INT_MAX / 1000.0));
}

// --- Sample period ---------------------------------------------------------------------

TEST(SamplePeriod, EveryTypeAndSpeedEqualsTheClosedFormExactly) {
    const double rates[speed_count] = {40000, 160000, 320000, 640000};
    for (int type = 0; type < telemetry_type_count; ++type) {
        const double words = isPlainType(type) ? (4 << type) : 32;
        for (int speed = 0; speed < speed_count; ++speed) {
            SCOPED_TRACE(testing::Message() << "type " << type << " speed " << speed);
            EXPECT_EQ(samplePeriodMicros(type, speed), 12'750'000.0 * words / rates[speed]);
        }
    }
}

TEST(SamplePeriod, LogHeaderTextsRoundHalfwayValuesUp) {
    struct Case {
        int type, speed;
        double micros;
        const char *text;  // "%.2f", as in the log header
    };
    const Case cases[] = {
        {1, 1, 637.5, "637.50"},   {3, 0, 10200.0, "10200.00"}, {0, 0, 1275.0, "1275.00"},
        {0, 2, 159.375, "159.38"}, {1, 3, 159.375, "159.38"},   {0, 3, 79.6875, "79.69"},
        {2, 3, 318.75, "318.75"},  {4, 3, 637.5, "637.50"},     {9, 3, 637.5, "637.50"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " speed " << c.speed);
        EXPECT_EQ(samplePeriodMicros(c.type, c.speed), c.micros);
        EXPECT_EQ(format("%.2f", samplePeriodMicros(c.type, c.speed)), c.text);
    }
}

TEST(SamplePeriod, UnknownTypeOrSpeedGivesZero) {
    EXPECT_EQ(samplePeriodMicros(-1, 0), 0.0);
    EXPECT_EQ(samplePeriodMicros(telemetry_type_count, 0), 0.0);
    EXPECT_EQ(samplePeriodMicros(0, -1), 0.0);
    EXPECT_EQ(samplePeriodMicros(0, speed_count), 0.0);
}

}  // namespace
}  // namespace ostrel
