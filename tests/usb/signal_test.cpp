// The simulated signals: plain waveforms and steering quantities.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "sim_test_support.h"
#include "usb/sim/signal_table.h"

namespace ostrel::sim::test {
namespace {

// The value a word shows on a scale of -fullScale..+fullScale, as the display converts it.
double decode(uint16_t word, double fullScale) {
    return ((word >> 4) - 2047.5) / 20.475 / 100.0 * fullScale;
}

bool saturated(uint16_t word) {
    return word == 0x0000 || word == 0xFFF0;
}

TEST(Signal, PlainChannelsMoveEachInItsOwnWay) {
    const ModuleConfig config = plainModule("M", 32, 640);
    const SignalTable table(config);
    std::set<std::vector<uint16_t>> shapes;
    for (int channel = 0; channel < 32; ++channel) {
        std::vector<uint16_t> samples;
        for (uint64_t f = 0; f < SignalTable::kFrames; f += 97) {
            const uint16_t word = table.word(f, channel);
            ASSERT_EQ(word & 0x000F, 0);
            samples.push_back(word);
        }
        const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
        EXPECT_GT(*high - *low, 0x4000) << "channel " << channel << " hardly moves";
        shapes.insert(samples);
    }
    EXPECT_EQ(shapes.size(), 32u);
}

TEST(Signal, PlainSignalWrapsWithoutAJumpAndDependsOnTheSeed) {
    ModuleConfig config = plainModule("M", 8, 160);
    const SignalTable table(config);
    for (int channel = 0; channel < 8; ++channel) {
        const int last = table.word(SignalTable::kFrames - 1, channel) >> 4;
        const int first = table.word(0, channel) >> 4;
        const int step = std::abs(table.word(1, channel) - table.word(0, channel)) >> 4;
        // Square waves may switch at the seam; every other shape continues smoothly.
        if (std::abs(first - last) > 3 + step) {
            EXPECT_GE(std::abs(first - last), 1000) << channel;
        }
    }
    config.seed = 2;
    const SignalTable other(config);
    uint8_t a[512], b[512];
    table.copy(0, a, sizeof a);
    other.copy(0, b, sizeof b);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    const SignalTable again(plainModule("M", 8, 160));
    again.copy(0, b, sizeof b);
    EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
}

TEST(Signal, SteeringGroupIsRepeatedAndTheLastWordsAreMidScale) {
    const SignalTable table(withConfig("S:signal=steering"));
    for (uint64_t f = 0; f < SignalTable::kFrames; ++f) {
        for (int w = 0; w < 10; ++w) {
            ASSERT_EQ(table.word(f, w), table.word(f, w + 10));
            ASSERT_EQ(table.word(f, w), table.word(f, w + 20));
        }
        ASSERT_EQ(table.word(f, 30), 0x8000);
        ASSERT_EQ(table.word(f, 31), 0x8000);
    }
}

// Low-range words carry the high-range quantity at higher sensitivity and saturate beyond it.
TEST(Signal, SteeringLowRangesAgreeWithHighRangesOrSaturate) {
    const SignalTable table(withConfig("S:signal=steering"));
    struct Pair {
        int high, low;
        double highScale, lowScale;
    };
    const Pair pairs[] = {{0, 1, 100, 10}, {2, 3, 1000, 100}, {4, 5, 1000, 500}};
    for (const Pair &p : pairs) {
        int saturatedFrames = 0;
        for (uint64_t f = 0; f < SignalTable::kFrames; ++f) {
            const double high = decode(table.word(f, p.high), p.highScale);
            const uint16_t lowWord = table.word(f, p.low);
            if (std::abs(high) < 0.95 * p.lowScale) {
                ASSERT_NEAR(decode(lowWord, p.lowScale), high, p.highScale / 2047.5) << f;
            } else if (std::abs(high) > 1.05 * p.lowScale) {
                ASSERT_TRUE(saturated(lowWord)) << f;
                ++saturatedFrames;
            }
        }
        EXPECT_GT(saturatedFrames, 0) << "word " << p.low << " never reaches full scale";
    }
}

TEST(Signal, SteeringSpeedIsTheRateOfChangeOfTheAngle) {
    const ModuleConfig config = withConfig("S:signal=steering");
    const SignalTable table(config);
    const double frameSeconds = 32 * wordSeconds(config.kbps);
    const uint64_t span = 100;
    for (uint64_t f = span; f + span < SignalTable::kFrames; f += 211) {
        const double before = decode(table.word(f - span, 2), 1000);
        const double after = decode(table.word(f + span, 2), 1000);
        const double rate = (after - before) / (2 * span * frameSeconds);
        ASSERT_NEAR(decode(table.word(f, 4), 1000), rate, 15.0) << f;
    }
}

TEST(Signal, SteeringAccelerationsAreSmall) {
    const SignalTable table(withConfig("S:signal=steering"));
    for (uint64_t f = 0; f < SignalTable::kFrames; f += 7) {
        EXPECT_LT(std::abs(decode(table.word(f, 6), 5)), 1.0);
        EXPECT_LT(std::abs(decode(table.word(f, 7), 5)), 1.0);
        EXPECT_NEAR(decode(table.word(f, 8), 5), 1.0, 0.1);
        EXPECT_LT(std::abs(decode(table.word(f, 9), 10000)), 3000.0);
    }
}

}  // namespace
}  // namespace ostrel::sim::test
