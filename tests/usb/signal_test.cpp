// The steering module's frames: the word layout and consistent quantities.
#include <cmath>

#include "sim_test_support.h"
#include "usb/sim/signal_table.h"

namespace ostrel::sim::test {
namespace {

// Words 0..9 repeat in 10..19 and 20..29, words 30 and 31 stay mid-scale; the low-range words
// carry the high-range quantity at higher sensitivity and saturate beyond it; the speed is the
// angle's rate of change.
TEST(Signal, SteeringFramesHoldConsistentQuantities) {
    const SignalTable table(simModule("S:signal=steering"));
    const auto decode = [](uint16_t word, double fullScale) {
        return ((word >> 4) - 2047.5) / 2047.5 * fullScale;
    };
    const struct {
        int high, low;
        double highScale, lowScale;
    } pairs[] = {{0, 1, 100, 10}, {2, 3, 1000, 100}, {4, 5, 1000, 500}};
    std::array<int, 3> saturatedFrames{};
    for (uint64_t f = 0; f < SignalTable::kFrames; ++f) {
        for (int w = 0; w < 10; ++w) {
            ASSERT_EQ(table.word(f, w), table.word(f, w + 10));
            ASSERT_EQ(table.word(f, w), table.word(f, w + 20));
        }
        ASSERT_EQ(table.word(f, 30), 0x8000);
        ASSERT_EQ(table.word(f, 31), 0x8000);
        for (size_t i = 0; i < std::size(pairs); ++i) {
            const auto &p = pairs[i];
            const double high = decode(table.word(f, p.high), p.highScale);
            const uint16_t lowWord = table.word(f, p.low);
            if (std::abs(high) < 0.95 * p.lowScale) {
                ASSERT_NEAR(decode(lowWord, p.lowScale), high, p.highScale / 2047.5) << f;
            } else if (std::abs(high) > 1.05 * p.lowScale) {
                ASSERT_TRUE(lowWord == 0x0000 || lowWord == 0xFFF0) << f;
                ++saturatedFrames[i];
            }
        }
    }
    for (const int count : saturatedFrames) EXPECT_GT(count, 0) << "a low range never saturates";
    // The speed (word 4) is the rate of change of the angle (word 2), in degrees per second.
    const double spanSeconds = 2 * 100 * 32 * wordSeconds(640);
    for (uint64_t f = 100; f + 100 < SignalTable::kFrames; f += 211) {
        const double rate =
            (decode(table.word(f + 100, 2), 1000) - decode(table.word(f - 100, 2), 1000)) /
            spanSeconds;
        ASSERT_NEAR(decode(table.word(f, 4), 1000), rate, 15.0) << f;
    }
}

}  // namespace
}  // namespace ostrel::sim::test
