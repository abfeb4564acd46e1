#pragma once
// Pure computations on the telemetry tables: raw word to percent and to a steering
// quantity, frames per logged cycle, diagram time base and sample period. No state;
// callable from any thread.

#include <cstdint>

namespace ostrel {

// Percent of full scale of one raw stream word: the 12-bit sample in bits 15..4 maps
// 0..4095 onto -100..+100; bits 3..0 are ignored. Computed in double, returned as float.
float percentOf(uint16_t word);

// The value of steering slot `slot` (0..9, in `steering_slots` order) of steering layout
// `layout` (0..5, type - first_steering_type) carried by raw word `word`, in the slot's
// unit (Nm, °, °/s, g, °/s^2). The window and the converter share it, so both show the
// same float: percentOf(word) scaled in float, except the angle-low product, which is
// taken in double (factor 1.2 for the commercial layouts) and then stored as float.
// 0 for a layout or slot outside the tables.
float steeringValue(int layout, int slot, uint16_t word);

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
