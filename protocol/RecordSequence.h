#pragma once
// The sensor numbers its samples with a 16-bit count that runs on by one,
// modulo 65536: a record whose count does not follow the one before it
// marks a gap, records lost on the way.

#include <cstdint>

namespace kiv {

// How many records were lost between one with count `previous` and the next
// one received, with count `count`: 0 when it follows by one.
constexpr uint16_t MissingRecords(uint16_t previous, uint16_t count) {
  return static_cast<uint16_t>(count - previous - 1);
}

}  // namespace kiv
