#pragma once
// How the control panel reads the IMU words and the range limits of a
// record: the controller's getters and the trend store share these, so a
// trend shows what the panel shows.

#include <cstdint>

namespace panel {

// A device word of the IMU is a two's-complement value: its low 16 bits,
// signed (0xFFFF is -1).
constexpr int16_t ImuValue(int32_t word) { return static_cast<int16_t>(static_cast<uint16_t>(word)); }

// The IMU temperature in degrees Celsius of its signed count.
inline constexpr double kIMUTempScale = 0.005294086505373498;  // the double nearest 1/188.89
inline constexpr double kIMUTempOffset = 95.0;
constexpr double ImuTemperature(int16_t count) { return count * kIMUTempScale + kIMUTempOffset; }

// A sample the scans and the current readings hold as out of range (at 0):
// beyond the largest distance, or wider than the error width.
inline constexpr double kMaxDistance = 2000.0;
inline constexpr double kErrorWidth = 300.0;
constexpr bool OutOfRange(double distance, double width) { return distance > kMaxDistance || width > kErrorWidth; }

}  // namespace panel
