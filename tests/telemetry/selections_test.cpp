// Program-wide selections and the idle block.

#include "telemetry/selections.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "telemetry/scaling.h"
#include "telemetry/tables.h"

namespace ostrel {
namespace {

// Puts every global back as the test found it, so the cases run in any order.
class Selections : public testing::Test {
  protected:
    void SetUp() override {
        saved_.index = channel_index;
        saved_.channels = channels;
        saved_.blocks = channel_blocks;
        saved_.block = dummydata;
        saved_.data = data;
    }
    void TearDown() override {
        channel_index = saved_.index;
        channels = saved_.channels;
        channel_blocks = saved_.blocks;
        dummydata = saved_.block;
        data = saved_.data;
    }

  private:
    struct {
        int32_t index, channels;
        uint64_t blocks;
        std::array<uint16_t, block_words> block;
        const uint16_t *data;
    } saved_{};
};

TEST_F(Selections, StartInTheDefaultTypeWithNoFramesComputed) {
    EXPECT_EQ(channel_index, default_telemetry_type);
    EXPECT_EQ(channels, telemetry_types[channel_index].item_value);
    EXPECT_EQ(channel_blocks, 1u) << "holds 1 before the first computation";
    EXPECT_EQ(chart_index_1, 0);
    EXPECT_EQ(chart_index_2, 1);
    EXPECT_EQ(block_speed_factor, 0);
    EXPECT_EQ(block_timer_value, 0.0f);
    EXPECT_EQ(display_change, 0);
    EXPECT_EQ(data.load(), dummydata.data());
}

TEST_F(Selections, FillIdleBlockResetsEveryWordAndRepointsData) {
    std::array<uint16_t, block_words> transfer_block{};
    data = transfer_block.data();
    dummydata.front() = 0x1234;
    dummydata[block_words / 2] = 0x0000;
    dummydata.back() = 0xFFFF;

    fillIdleBlock();

    EXPECT_EQ(data.load(), dummydata.data());
    for (std::size_t i = 0; i < block_words; ++i) ASSERT_EQ(dummydata[i], 0x8000) << i;
}

TEST_F(Selections, IdleBlockShowsMidScaleOnEveryChannel) {
    fillIdleBlock();
    const uint16_t *frame = data.load();
    for (int word = 0; word < 32; ++word) {
        char text[16];
        std::snprintf(text, sizeof text, "%7.2f", percentOf(frame[word]));
        EXPECT_EQ(std::string(text), "   0.02") << word;
    }
}

TEST_F(Selections, SharedValuesAreLockFree) {
    // Readers on the timer thread must never block behind the main thread's writes.
    EXPECT_TRUE(channel_index.is_lock_free());
    EXPECT_TRUE(channel_blocks.is_lock_free());
    EXPECT_TRUE(block_timer_value.is_lock_free());
    EXPECT_TRUE(data.is_lock_free());
}

}  // namespace
}  // namespace ostrel
