// Percent conversion, frames per logged cycle, diagram time base, sample period and the idle
// block, with the texts the display and the log header make of them.

#include "telemetry/scaling.h"

#include <gtest/gtest.h>

#include <array>
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
    // Computed in double and rounded to float once; float arithmetic lands one step off.
    EXPECT_EQ(percentOf(6 << 4), -99.7069626f);
    EXPECT_EQ(percentOf(13 << 4), -99.3650818f);
    EXPECT_EQ(percentOf(36 << 4), -98.2417603f);
}

TEST(Percent, RisesStrictlyAndSymmetricallyAndIgnoresTheLowNibble) {
    float previous = -1000.0f;
    for (int sample = 0; sample <= 4095; ++sample) {
        const float value = percentOf(static_cast<uint16_t>(sample << 4));
        ASSERT_GT(value, previous) << sample;
        ASSERT_EQ(value, -percentOf(static_cast<uint16_t>((4095 - sample) << 4))) << sample;
        for (int nibble = 1; nibble < 16; ++nibble) {
            ASSERT_EQ(percentOf(static_cast<uint16_t>(sample << 4 | nibble)), value) << sample;
        }
        previous = value;
    }
}

TEST(FramesPerLoggedCycle, EveryTypeFillsTheFrameBufferExactly) {
    const uint64_t expected[telemetry_type_count] = {8192, 4096, 2048, 1024, 1024,
                                                     1024, 1024, 1024, 1024, 1024};
    for (int type = 0; type < telemetry_type_count; ++type) {
        EXPECT_EQ(framesPerLoggedCycle(type), expected[type]) << type;
    }
    EXPECT_EQ(framesPerLoggedCycle(-1), 0u);
    EXPECT_EQ(framesPerLoggedCycle(telemetry_type_count), 0u);
}

TEST(DiagramTimeBase, AllSpeedsAtTheStartUpFactorAndTheEdges) {
    const int factor = blocksize >> 9;
    ASSERT_EQ(factor, 8);
    const char *texts[speed_count] = {" 652.80", " 163.20", "  81.60", "  40.80"};  // "%7.2f"
    const float millis[speed_count] = {652.8f, 163.2f, 81.6f, 40.8f};
    for (int speed = 0; speed < speed_count; ++speed) {
        EXPECT_EQ(diagramTimeBase(speed, factor), millis[speed]) << speed;
        EXPECT_EQ(format("%7.2f", diagramTimeBase(speed, factor)), texts[speed]) << speed;
    }
    EXPECT_EQ(format("%7.2f", diagramTimeBase(1, 0)), "   0.00") << "factor before start-up";
    EXPECT_EQ(diagramTimeBase(-1, 8), 0.0f);
    EXPECT_EQ(diagramTimeBase(speed_count, 8), 0.0f);
    // 81600 x 1 000 000 does not fit 32 bits; the result must still be the product.
    EXPECT_EQ(diagramTimeBase(0, 1'000'000), 81'600'000.0f);
}

TEST(SamplePeriod, EveryTypeAndSpeedEqualsTheClosedFormExactly) {
    const double rates[speed_count] = {40000, 160000, 320000, 640000};
    for (int type = 0; type < telemetry_type_count; ++type) {
        const double words = isPlainType(type) ? (4 << type) : 32;
        for (int speed = 0; speed < speed_count; ++speed) {
            EXPECT_EQ(samplePeriodMicros(type, speed), 12'750'000.0 * words / rates[speed])
                << "type " << type << " speed " << speed;
        }
    }
    EXPECT_EQ(samplePeriodMicros(-1, 0), 0.0);
    EXPECT_EQ(samplePeriodMicros(telemetry_type_count, 0), 0.0);
    EXPECT_EQ(samplePeriodMicros(0, -1), 0.0);
    EXPECT_EQ(samplePeriodMicros(0, speed_count), 0.0);
    // The log header's "%.2f" rounds the exact halfway values up.
    EXPECT_EQ(format("%.2f", samplePeriodMicros(1, 1)), "637.50");
    EXPECT_EQ(format("%.2f", samplePeriodMicros(3, 0)), "10200.00");
    EXPECT_EQ(format("%.2f", samplePeriodMicros(0, 2)), "159.38");
    EXPECT_EQ(format("%.2f", samplePeriodMicros(0, 3)), "79.69");
}

// Leaves the idle block and `data` as the program starts with them.
TEST(IdleBlock, ShowsMidScaleBeforeStartUpAndAfterFillIdleBlock) {
    EXPECT_EQ(data.load(), dummydata.data());
    EXPECT_EQ(format("%7.2f", percentOf(data.load()[0])), "   0.02");
    static std::array<uint16_t, block_words> transfer_block{};
    data = transfer_block.data();
    dummydata.front() = 0x1234;
    dummydata.back() = 0xFFFF;
    fillIdleBlock();
    EXPECT_EQ(data.load(), dummydata.data());
    for (std::size_t i = 0; i < block_words; ++i) ASSERT_EQ(dummydata[i], 0x8000) << i;
}

}  // namespace
}  // namespace ostrel
