#pragma once
// Small helpers for driving the virtual sensor (or another device standing
// for the sensor) the way a host would.

#include <cstdint>
#include <vector>

#include "VirtualSensor.h"

namespace sim::test {

inline uint16_t Word(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

// Word `field` (0 count, 1 distance, 2 width, 3 flags) of sample entry `entry`.
inline uint16_t EntryWord(const std::vector<uint8_t>& frame, size_t entry, size_t field) {
  return Word(frame, 28 + 8 * entry + 2 * field);
}

inline size_t Entries(const std::vector<uint8_t>& frame) { return (frame.size() - 28) / 8; }

inline std::vector<uint8_t> NextFrame(CVirtualDevice& sensor, size_t capacity = 1023) {
  std::vector<uint8_t> bytes(capacity);
  bytes.resize(sensor.ProduceIsoPacket(0x82, 0, bytes.data(), capacity));
  return bytes;
}

inline bool Command(CVirtualDevice& sensor, char command, uint16_t data, uint16_t number) {
  const uint8_t frame[5] = {static_cast<uint8_t>(command), static_cast<uint8_t>(data >> 8),
                            static_cast<uint8_t>(data & 0xFF), static_cast<uint8_t>(number >> 8),
                            static_cast<uint8_t>(number & 0xFF)};
  return sensor.ReceiveOut(0x01, frame, sizeof frame);
}

// The parameter frame of one status read; empty when the device NAKs.
inline std::vector<uint8_t> ReadStatus(CVirtualDevice& sensor, size_t capacity = 64) {
  std::vector<uint8_t> bytes(capacity);
  size_t length = 0;
  if (!sensor.SendIn(0x81, bytes.data(), capacity, length)) {
    return {};
  }
  bytes.resize(length);
  return bytes;
}

}  // namespace sim::test
