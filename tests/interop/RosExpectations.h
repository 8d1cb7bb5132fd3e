#pragma once
// What the client's ROS topics should carry for a run's records, worked out
// from the records alone as the README and the controller's scan rules
// describe them: where each scan begins and ends, which record each IMU
// sample comes from, and the mount's rotation as a quaternion.

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "RawRecord.h"

namespace interop {

// One DeltTime unit, 10 us.
inline constexpr double kSecondsPerUnit = 1e-5;

// A scan: the records [first, end), the record that ended the scan before
// it first; its rotation time in DeltTime units (the ending record's time
// counts towards the scan it ends; 10000 and more read 0).
struct T_ExpectedScan {
  size_t first = 0;
  size_t end = 0;
  uint32_t rotationUnits = 0;
};

// A scan ends at each change of the scan-state bit (from 0 at the start)
// and once it holds 1999 points; an empty one is not a scan.
inline std::vector<T_ExpectedScan> ExpectedScans(const std::vector<kiv::T_RawRecord>& records) {
  std::vector<T_ExpectedScan> scans;
  unsigned previousState = 0;
  uint32_t accumulated = 0;
  size_t first = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    accumulated += records[i].DeltTime();
    if (records[i].ScanState() != previousState || i - first == 1999) {
      if (i > first) scans.push_back({first, i, accumulated < 10000 ? accumulated : 0});
      accumulated = 0;
      previousState = records[i].ScanState();
      first = i;
    }
  }
  return scans;
}

// The record each IMU sample is taken from: sample k at the record whose
// DeltTime brings the sensor's time since the first record to (k + 1)
// periods of `rateHz`.
inline std::vector<size_t> ImuSampleRecords(const std::vector<kiv::T_RawRecord>& records, double rateHz) {
  const double period = 1.0 / rateHz / kSecondsPerUnit;
  std::vector<size_t> samples;
  uint64_t time = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    time += records[i].DeltTime();
    if (static_cast<double>(time) >= static_cast<double>(samples.size() + 1) * period) samples.push_back(i);
  }
  return samples;
}

// Roll about x, then pitch about y, then yaw about z (REP 103's fixed axes,
// as tf2 takes roll, pitch and yaw): x, y, z, w.
inline std::array<double, 4> QuaternionOf(double roll, double pitch, double yaw) {
  const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
  const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
  return {sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy, cr * cp * sy - sr * sp * cy,
          cr * cp * cy + sr * sp * sy};
}

// Each received item matched, in order, to the first expected one after
// the last matched that `same` accepts: the expected index of each, or
// an empty list when one finds none.
template <typename Same>
std::vector<size_t> MatchInOrder(size_t received, size_t expected, Same same) {
  std::vector<size_t> matched;
  size_t next = 0;
  for (size_t j = 0; j < received; ++j) {
    while (next < expected && !same(j, next)) ++next;
    if (next == expected) return {};
    matched.push_back(next++);
  }
  return matched;
}

}  // namespace interop
