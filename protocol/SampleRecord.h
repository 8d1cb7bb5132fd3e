#pragma once
// The decoded sample record: one per sample entry of a frame, each carrying
// a copy of the status and IMU block that heads its frame. Plain data, with
// the scale constants that turn the raw wire words into readings.

#include <cstdint>

namespace kiv {

inline constexpr double kScaleRawSupplyVoltage = 0.0022711;
inline constexpr double kScaleSupplyOffset = 1.06;
inline constexpr double kScaleRawLaserTemperature = 0.01162;
inline constexpr double kTemperatureOffset = -27.0;
inline constexpr double kScaleRawLaserDistance = 0.1;
inline constexpr double kScaleRawWidth = 1.0;

// The ten IMU channels, in wire order and in the order of every IMU array.
enum eIMUIndices {
  eAccelX = 0,
  eAccelY,
  eAccelZ,
  eIMUTemp,
  eGyroX,
  eGyroY,
  eGyroZ,
  eMagX,
  eMagY,
  eMagZ,
  eNumIMUChannels
};

// The status and IMU block heading a frame; copied into every record of it.
struct T_IMURecord {
  double SupplyVoltage;
  double AnaTemp;
  int32_t IMU[eNumIMUChannels];  // raw words, zero-extended
  int32_t LaserPower;
  int32_t AuxWord;
};

// One decoded sample.
struct T_Record {
  T_IMURecord IMURecord;
  double Distance;
  int32_t Count;      // 16-bit sequence number
  int32_t Width;
  int32_t ScanState;  // bit 15 of the flags word
  int32_t DeltTime;   // bits 14..1 of the flags word
};

}  // namespace kiv
