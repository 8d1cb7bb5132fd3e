#pragma once
// When the ROS 2 messages of the sensor fall due, followed record by record
// in the sensor's own time: the IMU messages at the IMU rate (the records'
// DeltTime summed, each from the record at that moment), and a LaserScan at
// each whole rotation (RotationScanner.h). The publisher on DDS and the MCAP
// recording follow the records through one of these each, so both carry the
// same messages for the same records.
//
// An update's records were taken in together at `now`: the record k units
// of sensor time before the update's last is stamped `now` less k units.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <span>

#include "RawRecord.h"
#include "RotationScanner.h"

namespace skarvdds {

std::chrono::system_clock::time_point Before(std::chrono::system_clock::time_point now, uint64_t units);

// `time`, or just after `last` when it is not later: a stamp is the host's
// time of its update less the sensor time since its record, and a late
// update followed by a timely one would step back in time. Sets `last`.
std::chrono::system_clock::time_point NotBefore(std::chrono::system_clock::time_point time,
                                                std::chrono::system_clock::time_point& last);

class CMessageTimeline {
 public:
  CMessageTimeline(double rangeScale, double imuRate);

  // Follows one update's records, taken in at `now`: calls
  // imu(record, unitsBeforeNow) for each record an IMU message is due at,
  // and scan(points, rotationUnits) for each scan completed (the last
  // rotation's time in 10 us units with it).
  template <typename ImuDue, typename ScanDone>
  void Follow(std::span<const kiv::T_RawRecord> records, std::chrono::system_clock::time_point now, ImuDue&& imu,
              ScanDone&& scan) {
    uint64_t total = 0;
    for (const kiv::T_RawRecord& record : records) {
      total += record.DeltTime();
    }
    uint64_t elapsed = 0;
    for (const kiv::T_RawRecord& record : records) {
      elapsed += record.DeltTime();
      const uint64_t before = total - elapsed;
      if (Step(record)) {
        imu(record, before);
      }
      // Scans are followed whether or not anyone wants them, so that one
      // who comes gets the next whole rotation.
      if (mScanner.Add(record, Before(now, before))) {
        scan(mScanner.Completed(), mLastRotationUnits);
      }
    }
  }

 private:
  // Counts the record's sensor time: true when an IMU message is due at it.
  bool Step(const kiv::T_RawRecord& record);

  CRotationScanner mScanner;
  uint64_t mImuPeriodUnits = 1000;
  uint64_t mUnitsSinceImu = 0;
  uint64_t mUnitsSinceScanEdge = 0;  // sensor time since the last scan-state change
  uint32_t mLastRotationUnits = 0;   // sensor time of the last completed rotation
  int mLastScanState = -1;
};

}  // namespace skarvdds
