#include "RecordWords.h"

#include <algorithm>
#include <cmath>

namespace skarvdds {

namespace {

uint16_t Unscale(double value, double scale, double offset) {
  const double raw = std::nearbyint((value - offset) / scale);
  return static_cast<uint16_t>(std::clamp(raw, 0.0, 65535.0));
}

}  // namespace

sim::T_PlaybackRecord RawWordsOf(const kiv::T_Record& record) {
  sim::T_PlaybackRecord words;
  words.count = static_cast<uint16_t>(record.Count);
  words.rawDistance = Unscale(record.Distance, kiv::kScaleRawLaserDistance, 0.0);
  words.width = static_cast<uint16_t>(record.Width);
  words.scanState = static_cast<uint8_t>(record.ScanState & 1);
  words.deltTime = static_cast<uint16_t>(record.DeltTime & 0x3FFF);
  const kiv::T_IMURecord& header = record.IMURecord;
  words.rawSupplyVoltage = Unscale(header.SupplyVoltage, kiv::kScaleRawSupplyVoltage, kiv::kScaleSupplyOffset);
  words.rawAnaTemp = Unscale(header.AnaTemp, kiv::kScaleRawLaserTemperature, kiv::kTemperatureOffset);
  words.laserPower = static_cast<uint16_t>(header.LaserPower);
  words.auxWord = static_cast<uint16_t>(header.AuxWord);
  for (int i = 0; i < kiv::eNumIMUChannels; ++i) {
    words.imu[static_cast<size_t>(i)] = static_cast<uint16_t>(header.IMU[i]);
  }
  return words;
}

}  // namespace skarvdds
