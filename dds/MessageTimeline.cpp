#include "MessageTimeline.h"

#include <climits>

namespace skarvdds {

std::chrono::system_clock::time_point Before(std::chrono::system_clock::time_point now, uint64_t units) {
  return now - std::chrono::microseconds(units * 10);
}

std::chrono::system_clock::time_point NotBefore(std::chrono::system_clock::time_point time,
                                                std::chrono::system_clock::time_point& last) {
  last = std::max(time, last + std::chrono::nanoseconds(1));
  return last;
}

CMessageTimeline::CMessageTimeline(double rangeScale, double imuRate) : mScanner(rangeScale) {
  mImuPeriodUnits = std::max<uint64_t>(1, static_cast<uint64_t>(1.0 / kSecondsPerTimeUnit / imuRate + 0.5));
}

bool CMessageTimeline::Step(const kiv::T_RawRecord& record) {
  const uint64_t delt = record.DeltTime();
  // The rotation time, measured as the controller does: the record that
  // changes the scan state ends the rotation and counts towards it.
  mUnitsSinceScanEdge += delt;
  const int scanState = record.ScanState();
  if (mLastScanState >= 0 && scanState != mLastScanState) {
    mLastRotationUnits = static_cast<uint32_t>(std::min<uint64_t>(mUnitsSinceScanEdge, UINT32_MAX));
    mUnitsSinceScanEdge = 0;
  }
  mLastScanState = scanState;
  mUnitsSinceImu += delt;
  if (mUnitsSinceImu < mImuPeriodUnits) {
    return false;
  }
  mUnitsSinceImu -= mImuPeriodUnits;
  if (mUnitsSinceImu >= mImuPeriodUnits) {
    mUnitsSinceImu = 0;  // a jump in time: start the pace again here
  }
  return true;
}

}  // namespace skarvdds
