#pragma once
// The sensor's raw record: the words it sent for one sample, with the words
// of the header of the frame the sample came in, exactly as they were on the
// wire, and the host time the frame was taken in. Every consumer takes the
// record in this form: the controller's measurements are scaled from it, a
// recording's line and a DDS batch are written from it, and a replay or a
// subscription reads it back and plays it as the sensor sent it.

#include <array>
#include <cstdint>

namespace kiv {

struct T_RawRecord {
  // The sample entry.
  uint16_t count = 0;        // sequence number
  uint16_t rawDistance = 0;  // distance = raw x 0.1
  uint16_t width = 0;
  uint16_t flags = 0;        // bit 15 the scan state, bits 14..1 DeltTime (10 us units), bit 0 unused
  // The header of the frame.
  uint16_t rawSupplyVoltage = 0;  // supply voltage = raw x 0.0022711 + 1.06
  uint16_t rawAnaTemp = 0;        // laser temperature = raw x 0.01162 - 27.0
  uint16_t laserPower = 0;
  uint16_t auxWord = 0;
  std::array<uint16_t, 10> imu{};  // AccelX..MagZ, two's-complement words
  // When the host took the frame in: nanoseconds since 1970 on the system
  // clock; 0 for a record not taken in from a sensor (read from a file).
  int64_t hostTimeNs = 0;

  uint8_t ScanState() const { return static_cast<uint8_t>(flags >> 15); }
  uint16_t DeltTime() const { return static_cast<uint16_t>(flags >> 1 & 0x3FFF); }
  // The flags word of a scan state (its low bit) and a DeltTime (its low 14 bits).
  static constexpr uint16_t FlagsOf(unsigned scanState, unsigned deltTime) {
    return static_cast<uint16_t>((scanState & 1) << 15 | (deltTime & 0x3FFF) << 1);
  }
  // The words of the frame header are the same: the two records can share a frame.
  bool SameHeader(const T_RawRecord& other) const {
    return rawSupplyVoltage == other.rawSupplyVoltage && rawAnaTemp == other.rawAnaTemp &&
           laserPower == other.laserPower && auxWord == other.auxWord && imu == other.imu;
  }
  // The same words (the host time aside).
  bool SameWords(const T_RawRecord& other) const {
    return count == other.count && rawDistance == other.rawDistance && width == other.width &&
           flags == other.flags && SameHeader(other);
  }
};

}  // namespace kiv
