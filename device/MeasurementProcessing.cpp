// Turning each sample record into the current measurements, the distance
// filters and the points of the rotation scan.

#include <cmath>
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
  // The device's words are two's-complement values: keep their low 16 bits signed.
  auto channel = [&](int index) { return static_cast<int16_t>(static_cast<uint16_t>(header.IMU[index])); };
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

  if (mCurDistance < kMaxDistance) {
    const double d = mCurDistance;
    const double f = kDistFiltDec * mFilteredDist + d * kDistFiltInc;
    mFilteredDist = f;
    const double e = d - f;
    const double v = e * e * kVarFiltInc + mDistVariance * kVarFiltDec;
    mDistVariance = v;
    mStdDev = std::sqrt(v);
  }
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
