#pragma once
// Whole rotations of the sensor, assembled from its records as they come,
// in the shape a ROS 2 LaserScan consumer wants: every scan kPoints points
// 0.18 degrees apart, the first at -180 degrees, so that every scan of a
// run has the same angles and all of them lie within [-pi, pi].
//
// The sensor marks each rotation by changing its scan state; the record
// that changes it is point 0, at -90 degrees (see RosMessages.h), and the
// rotation's n-th record is point n. A scan from -180 degrees is therefore
// the last quarter of one rotation (its points kFirstPoint to kPoints-1)
// followed by the first three quarters of the next: consecutive records,
// so each point's time is the scan's stamp plus its index times the time
// increment, as a LaserScan says.
//
// Records lost on the way (a jump in the record numbers) leave their points
// NaN, as does a point the rotation did not reach (it turned in fewer than
// kPoints records); a point out of range is +Inf (REP 117). A scan is given
// out only when it is known from its first point to its last: none before
// the first change of scan state, none across a loss of more records than a
// rotation holds or across a change of state that fell among lost records
// (where the rotation began is then unknown).

#include <chrono>
#include <cstdint>
#include <vector>

#include "RawRecord.h"

namespace skarvdds {

// The sensor's DeltTime unit, and so the unit of rotation times: 10 us.
inline constexpr double kSecondsPerTimeUnit = 1e-5;

// One scan of kPoints points: ranges in metres (NaN lost or not reached,
// +Inf out of range), intensities the widths (0 where there is no range),
// the time of the first point and the time from one point to the next, in
// the sensor's own time (its records' DeltTime).
struct T_ScanPoints {
  std::vector<float> ranges;
  std::vector<float> intensities;
  std::chrono::system_clock::time_point stamp;
  double timeIncrement = 0.0;  // seconds
};

class CRotationScanner {
 public:
  static constexpr uint32_t kPoints = 2000;
  // The point of a rotation at -180 degrees: three quarters of a turn on
  // from its point 0 at -90 degrees.
  static constexpr uint32_t kFirstPoint = kPoints * 3 / 4;

  explicit CRotationScanner(double rangeScale);

  // Takes the next record, measured at `time`. True when it completed a
  // scan, which Completed() then holds until the next call.
  bool Add(const kiv::T_RawRecord& record, std::chrono::system_clock::time_point time);
  const T_ScanPoints& Completed() const { return mCompleted; }

 private:
  // Where the rotation is lost track of: nothing is placed until the next
  // clean change of scan state, and the scan under way is dropped.
  void LoseTrack();
  // Starts scan `scan` with the record at `slot`; the one under way, if
  // whole, becomes Completed(). True when it did.
  bool StartScan(int64_t scan);
  void Place(uint32_t slot, const kiv::T_RawRecord& record, std::chrono::system_clock::time_point time);

  const double mRangeScale;
  bool mHaveRecord = false;
  uint16_t mLastCount = 0;
  uint8_t mLastState = 0;
  // The rotation and the point within it of the last record, when known;
  // rotations are numbered on across a loss of track, and scans are known
  // from the first rotation that began in view after it.
  bool mTracking = false;
  int64_t mRotation = 0;
  uint64_t mPoint = 0;
  int64_t mFirstKnownRotation = 0;
  // The scan being filled: the rotation whose last quarter it begins with,
  // its first filled point and its host time, and the sensor time and the
  // records from it to the last one placed.
  bool mFilling = false;
  int64_t mScan = 0;
  uint32_t mFirstSlot = 0;
  std::chrono::system_clock::time_point mFirstTime;
  uint64_t mUnitsSinceFirst = 0;
  uint64_t mRecordsSinceFirst = 0;
  // Sensor time and records from the last placed record to this one.
  uint64_t mUnitsSinceLast = 0;
  uint64_t mRecordsSinceLast = 0;
  T_ScanPoints mFilled;
  T_ScanPoints mCompleted;
};

}  // namespace skarvdds
