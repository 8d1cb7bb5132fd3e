// Turning each sample record into the current measurements, the distance
// filters and the points of the rotation scan.

#include <utility>

#include "Diagnostics.h"
#include "SkarvIO.h"

void CSkarvIO::PopulateMemberVariables(CUSBKivDataPipe::T_Record* record) {
  const CUSBKivDataPipe::T_IMURecord& header = record->IMURecord;
  mRecordCount = record->Count;
  mScanState = static_cast<uint32_t>(record->ScanState);
  mSampleDeltTime = static_cast<uint16_t>(record->DeltTime);
  mCurDistance = record->Distance;
  mCurWidth = record->Width;
  mTemperature = header.AnaTemp;
  mLaserPower = static_cast<uint16_t>(header.LaserPower);
  mSupplyVoltage = header.SupplyVoltage;
  auto channel = [&](int index) { return panel::ImuValue(header.IMU[index]); };
  mIMUData.AccelX = channel(CUSBKivDataPipe::eAccelX);
  mIMUData.AccelY = channel(CUSBKivDataPipe::eAccelY);
  mIMUData.AccelZ = channel(CUSBKivDataPipe::eAccelZ);
  mIMUData.IMUTemp = channel(CUSBKivDataPipe::eIMUTemp);
  mIMUData.GyroX = channel(CUSBKivDataPipe::eGyroX);
  mIMUData.GyroY = channel(CUSBKivDataPipe::eGyroY);
  mIMUData.GyroZ = channel(CUSBKivDataPipe::eGyroZ);
  mIMUData.MagX = channel(CUSBKivDataPipe::eMagX);
  mIMUData.MagY = channel(CUSBKivDataPipe::eMagY);
  mIMUData.MagZ = channel(CUSBKivDataPipe::eMagZ);

  mLaserOn = mCurDistance != kLaserOffDist;

  CDistanceFilter::Step(mCurDistance, mFilteredDist, mDistVariance, mStdDev);
}

int CSkarvIO::UpdateScanData() {
  int result = 0;
  mRotTimeAccum += mSampleDeltTime;
  if (mScanState != mPrevScanState || mScanDataSize >= kMaxScanPoints) {
    DiagPrintf(EDiagLevel::ePerUpdate, "Edge Found IndexTime = %u Data size = %d\n", mScanState, mScanDataSize);
    mCurRotTime = mRotTimeAccum < kMaxRotationTime ? mRotTimeAccum : 0;
    mRotTimeAccum = 0;
    mPrevScanState = mScanState;
    std::swap(mCurScanDist, mLastScanDist);
    std::swap(mCurScanWidth, mLastScanWidth);
    result = mScanDataSize;
    mFoundScanSize = mScanDataSize;
    mScanDataSize = 0;
    DiagPrintf(EDiagLevel::ePerUpdate, "foundScanSize = %d\n", result);
  }
  // Out-of-range points stay in the scan as zero, one point per record.
  if (OutOfRange(mCurDistance, static_cast<double>(mCurWidth))) {
    mCurDistance = 0.0;
    mCurWidth = 0;
  }
  mCurScanDist[mScanDataSize] = mCurDistance;
  mCurScanWidth[mScanDataSize] = static_cast<double>(mCurWidth);
  ++mScanDataSize;
  return result;
}
