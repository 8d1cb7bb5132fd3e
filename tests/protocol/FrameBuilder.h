#pragma once
// Lays out sample frames the way the sensor puts them on the wire: a header
// of fourteen big-endian words (supply, temperature, laser power, aux word,
// ten IMU words) followed by four-word sample entries.

#include <array>
#include <cstdint>
#include <vector>

struct TestEntry {
  uint16_t count = 0;
  uint16_t distance = 0;
  uint16_t width = 0;
  uint16_t flags = 0;
};

class FrameBuilder {
 public:
  static constexpr int kHeaderWords = 14;

  FrameBuilder& Header(int index, uint16_t value) {
    mHeader[index] = value;
    return *this;
  }
  FrameBuilder& Entry(const TestEntry& entry) {
    mEntries.push_back(entry);
    return *this;
  }
  FrameBuilder& Counts(std::initializer_list<uint16_t> counts) {
    for (uint16_t count : counts) {
      mEntries.push_back(TestEntry{count, 0, 0, 0});
    }
    return *this;
  }
  // The frame bytes, followed by `trailing` bytes of 0xEE.
  std::vector<uint8_t> Bytes(size_t trailing = 0) const {
    std::vector<uint8_t> bytes;
    for (uint16_t word : mHeader) {
      Put(bytes, word);
    }
    for (const TestEntry& entry : mEntries) {
      Put(bytes, entry.count);
      Put(bytes, entry.distance);
      Put(bytes, entry.width);
      Put(bytes, entry.flags);
    }
    bytes.insert(bytes.end(), trailing, 0xEE);
    return bytes;
  }

 private:
  static void Put(std::vector<uint8_t>& bytes, uint16_t word) {
    bytes.push_back(static_cast<uint8_t>(word >> 8));
    bytes.push_back(static_cast<uint8_t>(word & 0xFF));
  }

  std::array<uint16_t, kHeaderWords> mHeader{};
  std::vector<TestEntry> mEntries;
};
