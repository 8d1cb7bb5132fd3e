#pragma once
// The quantities the trends follow, as the control panel shows them, and
// the bucket of sensor time they are gathered in: per quantity the least,
// the greatest and the sum of its values over the bucket's records, so that
// a chart column covering any number of buckets shows every extreme in it.

#include <array>
#include <cstdint>
#include <limits>

namespace trends {

enum EChannel : int {
  eDistance,  // the current distance (0 for a sample out of range, as on the panel)
  eFiltered,  // the filtered distance
  eStdDev,    // its standard deviation
  eWidth,
  eLaserTemp,
  eImuTemp,
  eSupply,
  eAccelX,
  eAccelY,
  eAccelZ,
  eGyroX,
  eGyroY,
  eGyroZ,
  eMagX,
  eMagY,
  eMagZ,
  kChannels
};

// The name of a channel in an exported file's header ("distance").
const char* ChannelName(int channel);

// The sensor's time unit (DeltTime) is 10 us; a bucket holds 10 ms of it.
inline constexpr int64_t kUnitsPerSecond = 100000;
inline constexpr int64_t kBucketUnits = 1000;
inline constexpr double kBucketSeconds = static_cast<double>(kBucketUnits) / kUnitsPerSecond;

struct T_Bucket {
  int64_t index = -1;     // sensor time / kBucketUnits; -1 for a bucket that holds nothing
  uint32_t records = 0;   // records received in it
  uint32_t gaps = 0;      // of those, the ones whose count did not follow the one before
  uint32_t missing = 0;   // records lost at those gaps
  std::array<float, kChannels> min;
  std::array<float, kChannels> max;
  std::array<double, kChannels> sum;

  void Clear(int64_t at) {
    index = at;
    records = gaps = missing = 0;
    min.fill(std::numeric_limits<float>::infinity());
    max.fill(-std::numeric_limits<float>::infinity());
    sum.fill(0.0);
  }
  // Takes `count` records that all have `value` in `channel`.
  void Take(int channel, double value, uint32_t count) {
    const float v = static_cast<float>(value);
    if (v < min[channel]) min[channel] = v;
    if (v > max[channel]) max[channel] = v;
    sum[channel] += value * count;
  }
  double Mean(int channel) const { return records > 0 ? sum[channel] / records : 0.0; }
  double StartSeconds() const { return static_cast<double>(index) * kBucketSeconds; }
};

}  // namespace trends
