#pragma once
// What the acquisition thread hands to its readers: the first frame of the last completed
// block (for the display refresh) and the frame buffer of one logged cycle (for the log
// writer). Threads: acquisition (writer), timer (display refresh), main (stop).

#include <array>
#include <atomic>
#include <cstdint>

#include "telemetry/tables.h"

namespace ostrel {

// Words of one frame of the widest type: all the display refresh ever reads of a block.
inline constexpr std::size_t frame_words = 32;
using FrameWords = std::array<uint16_t, frame_words>;

// 1 once a block of the current measurement has completed; the display refresh works only
// while it is 1. Writers: acquisition (set), main or acquisition (cleared by start and
// stop). Reader: timer.
extern std::atomic<int32_t> data_received;

// Publishes a copy of the first frame_words words of a completed block. The display reads
// this copy, never a transfer buffer, so a buffer may be re-queued or released while the
// display runs. Any thread; takes a small lock for the copy.
void publishFrame(const uint16_t *block);

// Publishes the idle frame (every word idle_word): the display's state between
// measurements, set by the stop before the transfer buffers are released.
void publishIdleFrame();

// The frame published last (the idle frame until the first block). Any thread.
FrameWords currentFrame();

// The frame buffer: one logged cycle, 16 blocks of 2048 words, block k at word k x 2048.
// Written and read only by the acquisition thread (copy, then the log writer).
extern std::array<uint16_t, LOGCOUNT> dataout;

}  // namespace ostrel
