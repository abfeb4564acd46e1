#pragma once

#include <cstdint>

// The receiver's port word, read and written with UsbReadPort / UsbWritePort on its data port.
namespace ostrel {

inline constexpr uint8_t kDataPort = 0;
// Set by the receiver while it is in sync with the transmitter; writing it has no effect.
inline constexpr uint16_t kSyncBit = 0x0002;
// Both run bits set start the stream; clearing either ends it.
inline constexpr uint16_t kRunBits = 0x0101;
inline constexpr uint16_t kRunBitsCleared = 0xFEFE;

}  // namespace ostrel
