#pragma once
// Every multi-byte value on the sensor's wire, in both directions, is a
// big-endian unsigned 16-bit word.

#include <cstdint>

namespace kiv {

inline uint16_t ReadWireWord(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

inline void WriteWireWord(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value & 0xFF);
}

}  // namespace kiv
