#pragma once
// Pure computations on the telemetry tables: raw word to percent, frames per logged
// cycle, diagram time base and sample period. No state; callable from any thread.

#include <cstdint>

namespace ostrel {

// Percent of full scale of one raw stream word: the 12-bit sample in bits 15..4 maps
// 0..4095 onto -100..+100; bits 3..0 are ignored. Computed in double, returned as float.
float percentOf(uint16_t word);

// Frames (records) per logged cycle of `type`: LOGCOUNT / words per frame.
// 0 for an unknown type.
uint64_t framesPerLoggedCycle(int type);

// Diagram time base in milliseconds: link time of one transfer block at `speedIndex`,
// block_time x blockSpeedFactor / 1000 (blockSpeedFactor = block size in 512-byte units).
// 0 for an unknown speed.
float diagramTimeBase(int speedIndex, int blockSpeedFactor);

// Time between two frames of `type` at `speedIndex`, in microseconds: the log's time base.
// 0 for an unknown type or speed.
double samplePeriodMicros(int type, int speedIndex);

}  // namespace ostrel
