#pragma once
// What the client's ROS topics should carry for a run's records, worked out
// from the records alone as the README describes them: which record lies at
// each point of each scan, which record each IMU sample comes from, and the
// mount's rotation as a quaternion.

#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "RawRecord.h"

namespace interop {

// One DeltTime unit, 10 us.
inline constexpr double kSecondsPerUnit = 1e-5;

// Every LaserScan holds 2000 points from -180 degrees; a rotation's first
// record (where the scan state changes) is at -90 degrees, its n-th record
// at point n of the turn, so a scan is the last quarter of one rotation
// (from its point 1500) and the first three quarters of the next.
inline constexpr uint32_t kScanPoints = 2000;
inline constexpr uint32_t kScanFirstPoint = 1500;

// A scan as the records make it: the record at each point it has one for;
// the time of the rotation it begins with (the record that changes the
// scan state counts towards the rotation it ends), and the time from one
// record to the next over its records, in DeltTime units.
struct T_ExpectedScan {
  std::vector<std::pair<size_t, uint32_t>> points;  // record, point
  uint64_t rotationUnits = 0;
  double unitsPerRecord = 0;
};

// The scans of the rotations seen from their start, each given out once a
// record of the next scan has come.
inline std::vector<T_ExpectedScan> ExpectedScans(const std::vector<kiv::T_RawRecord>& records) {
  std::vector<size_t> edges;  // the first record of each rotation
  for (size_t i = 1; i < records.size(); ++i) {
    if (records[i].ScanState() != records[i - 1].ScanState()) edges.push_back(i);
  }
  const auto point = [&](size_t i, size_t edge) {
    return static_cast<uint16_t>(records[i].count - records[edge].count);
  };
  std::vector<T_ExpectedScan> scans;
  for (size_t k = 0; k + 1 < edges.size(); ++k) {
    const size_t next = edges[k + 1];
    const size_t nextEnd = k + 2 < edges.size() ? edges[k + 2] : records.size();
    bool given = k + 2 < edges.size();
    T_ExpectedScan scan;
    for (size_t i = edges[k]; i < next; ++i) {
      const uint32_t p = point(i, edges[k]);
      if (p >= kScanFirstPoint && p < kScanPoints) scan.points.emplace_back(i, p - kScanFirstPoint);
    }
    for (size_t i = next; i < nextEnd; ++i) {
      const uint32_t p = point(i, next);
      if (p < kScanFirstPoint) scan.points.emplace_back(i, p + kScanPoints - kScanFirstPoint);
      if (p >= kScanFirstPoint && p < kScanPoints) given = true;
    }
    if (!given || scan.points.empty()) break;
    for (size_t i = edges[k] + 1; i <= next; ++i) scan.rotationUnits += records[i].DeltTime();
    const size_t first = scan.points.front().first, last = scan.points.back().first;
    uint64_t units = 0;
    for (size_t i = first + 1; i <= last; ++i) units += records[i].DeltTime();
    scan.unitsPerRecord = last > first ? static_cast<double>(units) / static_cast<double>(last - first) : 0.0;
    scans.push_back(std::move(scan));
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
