#include "RotationScanner.h"

#include <limits>

#include "SampleRecord.h"
#include "SkarvIO.h"

namespace skarvdds {

CRotationScanner::CRotationScanner(double rangeScale) : mRangeScale(rangeScale) {
  for (T_ScanPoints* points : {&mFilled, &mCompleted}) {
    points->ranges.assign(kPoints, std::numeric_limits<float>::quiet_NaN());
    points->intensities.assign(kPoints, 0.0f);
  }
}

bool CRotationScanner::Add(const kiv::T_RawRecord& record, std::chrono::system_clock::time_point time) {
  mUnitsSinceLast += record.DeltTime();
  ++mRecordsSinceLast;
  const uint16_t lost = mHaveRecord ? static_cast<uint16_t>(record.count - mLastCount - 1) : 0;
  const uint8_t state = record.ScanState();
  const bool edge = mHaveRecord && state != mLastState;
  mHaveRecord = true;
  mLastCount = record.count;
  mLastState = state;
  if (edge) {
    if (lost > 0) {
      LoseTrack();  // the rotation began somewhere among the lost records
      return false;
    }
    ++mRotation;
    if (!mTracking) {
      mTracking = true;
      mFirstKnownRotation = mRotation;
    }
    mPoint = 0;
  } else {
    if (!mTracking) {
      return false;
    }
    if (lost >= kPoints) {
      LoseTrack();  // a rotation or more went by unseen
      return false;
    }
    mPoint += 1u + lost;
  }
  if (mPoint >= kPoints) {
    return false;  // a rotation longer than a turn: the rest has no point to go to
  }
  const bool lastQuarter = mPoint >= kFirstPoint;
  const int64_t scan = lastQuarter ? mRotation : mRotation - 1;
  const uint32_t slot = static_cast<uint32_t>(lastQuarter ? mPoint - kFirstPoint : mPoint + (kPoints - kFirstPoint));
  bool completed = false;
  if (!mFilling || scan != mScan) {
    completed = StartScan(scan);
  }
  Place(slot, record, time);
  return completed;
}

void CRotationScanner::LoseTrack() {
  mTracking = false;
  mFilling = false;
}

bool CRotationScanner::StartScan(int64_t scan) {
  // A scan is whole when the rotation it begins with began in view.
  const bool completed = mFilling && mScan >= mFirstKnownRotation;
  if (completed) {
    // The time from one record to the next: lost records' times are not
    // known, and points a rotation does not reach take none.
    mFilled.timeIncrement =
        mRecordsSinceFirst > 0 ? mUnitsSinceFirst * kSecondsPerTimeUnit / mRecordsSinceFirst : 0.0;
    mFilled.stamp = mFirstTime - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                     std::chrono::duration<double>(mFilled.timeIncrement * mFirstSlot));
    std::swap(mFilled, mCompleted);
  }
  mFilling = true;
  mScan = scan;
  mFirstSlot = kPoints;
  mFilled.ranges.assign(kPoints, std::numeric_limits<float>::quiet_NaN());
  mFilled.intensities.assign(kPoints, 0.0f);
  return completed;
}

void CRotationScanner::Place(uint32_t slot, const kiv::T_RawRecord& record,
                             std::chrono::system_clock::time_point time) {
  if (mFirstSlot == kPoints) {
    mFirstSlot = slot;
    mFirstTime = time;
    mUnitsSinceFirst = 0;
    mRecordsSinceFirst = 0;
  } else {
    mUnitsSinceFirst += mUnitsSinceLast;
    mRecordsSinceFirst += mRecordsSinceLast;
  }
  mUnitsSinceLast = 0;
  mRecordsSinceLast = 0;
  const double distance = record.rawDistance * kiv::kScaleRawLaserDistance;
  const double width = record.width * kiv::kScaleRawWidth;
  if (distance <= 0.0 || CSkarvIO::OutOfRange(distance, width)) {
    mFilled.ranges[slot] = std::numeric_limits<float>::infinity();
    mFilled.intensities[slot] = 0.0f;
  } else {
    mFilled.ranges[slot] = static_cast<float>(distance * mRangeScale);
    mFilled.intensities[slot] = static_cast<float>(width);
  }
}

}  // namespace skarvdds
