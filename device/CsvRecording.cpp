// Recording every sample record as a line of a numbered CSV file.

#include <cerrno>
#include <cstdio>

#include "CsvLine.h"
#include "GeneralException.h"
#include "SkarvIO.h"

namespace {

const char kHeader[] =
    "Count,DeltTime,Distance,Width,AnaTemp,ScanState,LaserPower,SupplyVoltage,AccelX,AccelY,AccelZ,IMUTemp,GyroX,"
    "GyroY,GyroZ,MagX,MagY,MagZ\n";

}  // namespace

void CSkarvIO::RequestRecording(bool record) {
  mMutex.Wait();
  mWriteFile = record;
  mMutex.Release();
}

void CSkarvIO::UpdateFileState() {
  // Under mMutex, so that the control panel never sees the file half opened
  // or its name half written.
  mMutex.Wait();
  struct CRelease {
    CClassMutex& mutex;
    ~CRelease() { mutex.Release(); }
  } release{mMutex};

  if (mWriteFile.load()) {
    if (mSaveFile.load()) {
      return;
    }
    ++mFileCount;
    std::snprintf(mFileName, sizeof mFileName, kFileNamePfStrPtr, mFileCount);
    FILE* file = std::fopen(mFileName, "w");
    if (!file) {
      throw GeneralException("Error opening save data file.  errno = %x", errno);
    }
    std::fputs(kHeader, file);
    mSaveFile = file;
  } else if (mSaveFile.load()) {
    CloseRecordingFile();
  }
}

void CSkarvIO::CloseRecordingFile() {
  if (FILE* file = mSaveFile.exchange(nullptr)) {
    std::fclose(file);
  }
}

void CSkarvIO::SaveFileTimeIncrement() {
  FILE* file = mSaveFile.load(std::memory_order_relaxed);
  if (!file) {
    return;
  }
  const T_CsvFields fields{mRecordCount,
                           mSampleDeltTime,
                           mCurDistance,
                           mCurWidth,
                           mTemperature,
                           mScanState,
                           mLaserPower,
                           mSupplyVoltage,
                           {mIMUData.AccelX, mIMUData.AccelY, mIMUData.AccelZ, mIMUData.IMUTemp, mIMUData.GyroX,
                            mIMUData.GyroY, mIMUData.GyroZ, mIMUData.MagX, mIMUData.MagY, mIMUData.MagZ}};
  char line[kCsvLineCapacity];
  std::fwrite(line, 1, FormatCsvLine(fields, line), file);
}
