// Construction, initialisation and the getters of the device controller.

#include "SkarvIO.h"

#include "Diagnostics.h"
#include "GeneralException.h"

CSkarvIO::CSkarvIO() { mMutex.Initialize(); }

CSkarvIO::~CSkarvIO() {
  // An orderly end of the program closes, and so flushes, the recording.
  CloseRecordingFile();
  // The port, declared last, goes first and detaches the pipes.
}

void CSkarvIO::Initialize(int /*msPerSample*/) {
  mCurScanDist = mScanDist[0];
  mCurScanWidth = mScanWidth[0];
  mLastScanDist = mScanDist[1];
  mLastScanWidth = mScanWidth[1];
  mParameters.CmdCount = 9;
  mStatusState = kStatusRequest;
  mFileName[0] = '\0';
  mCmdNumber = 10;
  mPrevScanState = 0;
  mStdDev = 0.0;
  mFilteredDist = 0.0;
  mDistVariance = 0.0;
  mTemperature = 0.0;
  mLaserOn = true;
  mCurRotTime = 0;
  mFoundScanSize = 0;
  mRotTimeAccum = 0;
  mScanDataSize = 0;
  mStatusRetries = 0;
  mGapReferenceSet = false;
  try {
    mCmdPipe.Initialize(0x01);
    mStatusPipe.Initialize(0x81);
    mDataPipe.Initialize(0x82);
    if (mPort.mPipeList.empty()) {
      mPort.AddPipe(&mCmdPipe);
      mPort.AddPipe(&mStatusPipe);
      mPort.AddPipe(&mDataPipe);
    }
    mPort.Initialize(kVendorId, kProductId);
  } catch (const GeneralException& e) {
    NoteOpenFailure(e);
    e.OutputText(DiagOut());
  }
}

template <typename T>
T CSkarvIO::Locked(const T& member) {
  CClassMutex::CGuard lock(mMutex);
  return member;
}

bool CSkarvIO::LaserIsOn() { return Locked(mLaserOn); }

std::string CSkarvIO::GetCurrentFileName() {
  CClassMutex::CGuard lock(mMutex);
  return std::string(mFileName);
}

double CSkarvIO::GetCurDistance() { return Locked(mCurDistance); }
int CSkarvIO::GetCurWidth() { return Locked(mCurWidth); }
double CSkarvIO::GetFilteredDist() { return Locked(mFilteredDist); }
double CSkarvIO::GetStdDev() { return Locked(mStdDev); }
double CSkarvIO::GetTemperature() { return Locked(mTemperature); }
int CSkarvIO::GetCurRotTime() { return Locked(mCurRotTime); }
int CSkarvIO::GetSampleDeltTime() { return Locked(mSampleDeltTime); }
double CSkarvIO::GetTemperatureIMU() { return panel::ImuTemperature(Locked(mIMUData.IMUTemp)); }
int CSkarvIO::GetLaserPower() { return Locked(mLaserPower); }
double CSkarvIO::GetSupplyVoltage() { return Locked(mSupplyVoltage); }
int CSkarvIO::GetAccelX() { return Locked(mIMUData.AccelX); }
int CSkarvIO::GetAccelY() { return Locked(mIMUData.AccelY); }
int CSkarvIO::GetAccelZ() { return Locked(mIMUData.AccelZ); }
int CSkarvIO::GetGyroX() { return Locked(mIMUData.GyroX); }
int CSkarvIO::GetGyroY() { return Locked(mIMUData.GyroY); }
int CSkarvIO::GetGyroZ() { return Locked(mIMUData.GyroZ); }
int CSkarvIO::GetMagnX() { return Locked(mIMUData.MagX); }
int CSkarvIO::GetMagnY() { return Locked(mIMUData.MagY); }
int CSkarvIO::GetMagnZ() { return Locked(mIMUData.MagZ); }

T_DeviceStatus CSkarvIO::GetDeviceStatus() {
  CClassMutex::CGuard lock(mMutex);
  T_DeviceStatus status;
  status.SensorOpen = mSensorOpen;
  status.Serial = mSensorSerial;
  status.RecordsProcessed = mRecordsProcessed;
  status.Recording = mSaveFile.load() != nullptr;
  status.FileName = mFileName;
  status.FileBytes = mFileBytes;
  status.LastError = mLastError;
  status.ErrorNumber = mErrorNumber;
  status.Remote = mRemoteSensor;
  status.FilesWritten = mFilesWritten;
  status.RecordsRecorded = mRecordsRecorded;
  status.Gaps = mGapsReported;
  status.RecordingFailures = mRecordingFailures;
  return status;
}

void CSkarvIO::SetRemoteSensor(bool remote) { mRemoteSensor = remote; }

void CSkarvIO::SetLastError(const std::string& text) {
  CClassMutex::CGuard lock(mMutex);
  mLastError = text;
  ++mErrorNumber;
}
