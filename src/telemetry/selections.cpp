#include "telemetry/selections.h"

#include "telemetry/tables.h"

namespace ostrel {

static_assert(block_words * bufcnt == LOGCOUNT, "the frame buffer holds one ring of blocks");
static_assert(bufcnt <= 16, "the frame buffer has room for 16 blocks");

constinit std::atomic<int32_t> channel_index{default_telemetry_type};
constinit std::atomic<int32_t> channels{telemetry_types[default_telemetry_type].item_value};
constinit std::atomic<uint64_t> channel_blocks{1};
constinit std::atomic<int32_t> block_speed_index{0};
constinit std::atomic<int32_t> block_speed_factor{0};
constinit std::atomic<float> block_timer_value{0.0f};
constinit std::atomic<int32_t> chart_index_1{0};
constinit std::atomic<int32_t> chart_index_2{1};
constinit std::atomic<int32_t> display_change{0};

constinit std::array<uint16_t, block_words> dummydata = [] {
    std::array<uint16_t, block_words> block{};
    block.fill(idle_word);
    return block;
}();

void fillIdleBlock() {
    dummydata.fill(idle_word);
}

}  // namespace ostrel
