#pragma once
// What every device that stands for the sensor on the virtual bus shows the
// host: its identifiers, its three endpoints and their packet sizes, and the
// layout of its isochronous frames. The live virtual sensor and the playback
// sensor both present themselves through this one description.

#include <cstddef>
#include <cstdint>
#include <string>

#include "VirtualDevice.h"

namespace sim {

struct SensorIdentity {
  static constexpr uint16_t kVendorId = 0xE785;
  static constexpr uint16_t kProductId = 0x64F2;
  static constexpr uint8_t kCommandEndpoint = 0x01;
  static constexpr uint8_t kStatusEndpoint = 0x81;
  static constexpr uint8_t kDataEndpoint = 0x82;
  static constexpr uint16_t kInterruptPacketSize = 64;
  static constexpr uint16_t kIsoPacketSize = 1023;
  static constexpr size_t kHeaderBytes = 28;
  static constexpr size_t kEntryBytes = 8;
  // Whole entries a frame can carry after its header.
  static constexpr size_t kMaxEntriesPerFrame = (kIsoPacketSize - kHeaderBytes) / kEntryBytes;
  // Unit of the per-sample time field: 10 microseconds.
  static constexpr unsigned kTimeUnitsPerMs = 100;
};

// The sensor's description with the given serial number (also its instance
// id) and product text.
DeviceDescription SensorDescription(const std::string& serialNumber, const std::string& description);

// Writes `value` as the big-endian 16-bit word of the wire; a negative value
// goes out as its two's complement.
inline void PutWireWord(uint8_t* out, int value) {
  const auto word = static_cast<uint16_t>(value);
  out[0] = static_cast<uint8_t>(word >> 8);
  out[1] = static_cast<uint8_t>(word & 0xFF);
}

}  // namespace sim
