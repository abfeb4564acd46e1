#pragma once
// Program-wide current selections and the stream vocabulary shared by several threads.
// The main thread writes the selections while the display refresh (timer thread) and the
// acquisition thread read them, so every shared value is atomic. Threads named below:
// main = event loop and control callbacks, timer = display refresh and module scan,
// acquisition = the pool thread of a measurement.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ostrel {

// ---------------------------------------------------------------------------------------
// Stream constants
// ---------------------------------------------------------------------------------------

inline constexpr uint32_t blocksize = 4096;                // bytes per transfer block
inline constexpr int bufcnt = 16;                          // blocks in the transfer ring
inline constexpr std::size_t block_words = blocksize / 2;  // 16-bit words per block
inline constexpr uint16_t idle_word = 0x8000;              // mid-scale sample 2048

// ---------------------------------------------------------------------------------------
// Current selections
// ---------------------------------------------------------------------------------------

// Telemetry type 0..9 (CH_SLIDE index). Writer: main. Readers: timer, acquisition.
extern std::atomic<int32_t> channel_index;

// Channel displays shown for the type (CH_SLIDE value). Writer: main. Readers: timer.
extern std::atomic<int32_t> channels;

// Frames per logged cycle of the type; 1 until first computed. Writer: main.
// Readers: acquisition (log writer).
extern std::atomic<uint64_t> channel_blocks;

// Telemetry speed 0..3 (SPEED_SLIDE index). Writer: main. Readers: main.
extern std::atomic<int32_t> block_speed_index;

// Transfer block size in 512-byte units (blocksize >> 9), 0 until start-up sets it.
// Writer: main. Readers: main.
extern std::atomic<int32_t> block_speed_factor;

// Diagram time base in milliseconds. Writer: main. Readers: main.
extern std::atomic<float> block_timer_value;

// Item index of chart ring 1: the word (plain) or slot (steering) on chart 1.
// Writer: main. Readers: timer.
extern std::atomic<int32_t> chart_index_1;

// Item index of chart ring 2: the word or slot on chart 2. Writer: main. Readers: timer.
extern std::atomic<int32_t> chart_index_2;

// 1 while the panel layout is being rebuilt; the display refresh then does nothing.
// Writer: main. Readers: timer.
extern std::atomic<int32_t> display_change;

// ---------------------------------------------------------------------------------------
// Idle block
// ---------------------------------------------------------------------------------------

// One block of idle_word: the target of the acquisition thread's warm-up reads, whose words
// nobody reads. (What the display shows is the published frame of stream_buffers.h.)
// Writers: main (fillIdleBlock at start-up), acquisition (warm-up reads). Readers: none.
extern std::array<uint16_t, block_words> dummydata;

// Sets every word of dummydata to idle_word. Main thread, while no acquisition thread runs.
void fillIdleBlock();

}  // namespace ostrel
