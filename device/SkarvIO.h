#pragma once
// The device controller: the one object through which the windows reach the
// sensor. It owns the USB port and the three pipes, runs the continuous
// update that turns sample records into current measurements, rotation scans
// and CSV lines, numbers and sends commands and follows their acknowledgement.
//
// Threads: the data path (UpdateContiniousData, the scan buffers, device
// arrival and removal, the recording file) runs on one thread; the getters,
// the command operations and HandleStatusPipe on another. mMutex guards the
// record loop, every getter, the recording request and the file state. The
// interrupt pipes hold their own locks, so a command or status poll never
// overlaps the data path's attach or clean-up of the same pipe (lock order:
// mMutex is never held while a port or pipe lock is taken).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClassMutex.h"
#include "DeviceStatus.h"
#include "DistanceFilter.h"
#include "GeneralException.h"
#include "KivCmdPipe.h"
#include "KivDataPipe.h"
#include "PanelReadings.h"
#include "RawRecord.h"
#include "RecordingSplit.h"
#include "RollingFiles.h"
#include "UsbPort.h"

struct T_Command;

class CSkarvIO {
 public:
  struct T_IMUData {
    int16_t AccelX, AccelY, AccelZ, IMUTemp, GyroX, GyroY, GyroZ, MagX, MagY, MagZ;
  };

  static constexpr int kVendorId = 0xE785;
  static constexpr int kProductId = 0x64F2;

  // Measurement processing.
  static constexpr double kLaserOffDist = 6000.0;
  static constexpr double kMaxDistance = panel::kMaxDistance;
  static constexpr double kErrorWidth = panel::kErrorWidth;
  static constexpr double kDistFiltInc = CDistanceFilter::kDistFiltInc;
  static constexpr double kDistFiltDec = CDistanceFilter::kDistFiltDec;
  static constexpr double kVarFiltInc = CDistanceFilter::kVarFiltInc;
  static constexpr double kVarFiltDec = CDistanceFilter::kVarFiltDec;
  static constexpr int kScanBufferSize = 2000;
  static constexpr int kMaxScanPoints = kScanBufferSize - 1;
  static constexpr int kMaxRotationTime = 10000;
  static constexpr double kIMUTempScale = panel::kIMUTempScale;
  static constexpr double kIMUTempOffset = panel::kIMUTempOffset;
  static_assert(kMaxDistance == CDistanceFilter::kMaxDistance);
  // A sample the scans hold as out of range (at 0): beyond kMaxDistance,
  // or wider than kErrorWidth.
  static constexpr bool OutOfRange(double distance, double width) { return panel::OutOfRange(distance, width); }

  // Command handshake states.
  static constexpr int32_t kStatusIdle = 0;
  static constexpr int32_t kStatusAwaitEcho = 1;
  static constexpr int32_t kStatusRequest = 2;
  static constexpr int32_t kStatusFresh = 3;
  static constexpr int kMaxStatusRetries = 20;

  // Why an operator's command is not sent to a remote sensor.
  static constexpr const char* kRemoteSensorRefusal = "the sensor is on another machine and takes no commands from here";

  // Recording.
  static constexpr const char* kFileNamePfStrPtr = "SkarvData-%d.csv";
  static constexpr int kFileNameLength = 1024;

  CSkarvIO();
  ~CSkarvIO();
  CSkarvIO(const CSkarvIO&) = delete;
  CSkarvIO& operator=(const CSkarvIO&) = delete;

  // Which of several sensors to open, before Initialize (none: the first
  // free one).
  void ChooseSensor(const T_SensorChoice& choice) { mPort.Choose(choice); }
  void Initialize(int msPerSample);

  // Getters, each under mMutex.
  bool LaserIsOn();
  std::string GetCurrentFileName();
  double GetCurDistance();
  int GetCurWidth();
  double GetFilteredDist();
  double GetStdDev();
  double GetTemperature();
  int GetCurRotTime();
  int GetSampleDeltTime();
  double GetTemperatureIMU();
  int GetLaserPower();
  double GetSupplyVoltage();
  int GetAccelX();
  int GetAccelY();
  int GetAccelZ();
  int GetGyroX();
  int GetGyroY();
  int GetGyroZ();
  int GetMagnX();
  int GetMagnY();
  int GetMagnZ();
  // The serial number of the sensor open now ("" while none is), for the
  // thread that runs the continuous update (which sets it) alone.
  const std::string& OpenSensorSerial() const { return mSensorSerial; }
  // The state the status line shows, read in one piece under mMutex.
  T_DeviceStatus GetDeviceStatus();
  // Keeps `text` as the last error the operator is shown (any thread).
  void SetLastError(const std::string& text);
  // Start-up of a sensor on another machine (its published records played
  // here): the operator's commands are not sent, each is reported as not
  // sent with the reason, and the status says "Remote sensor". Set before
  // the threads start.
  void SetRemoteSensor(bool remote);

  // Measurement processing, called per record with mMutex held.
  void PopulateMemberVariables(CUSBKivDataPipe::T_Record* record);
  // The raw record the record loop is at (the one PopulateMemberVariables
  // was given, unscaled): SaveFileTimeIncrement writes its line from it.
  const kiv::T_RawRecord* mRawRecord = nullptr;
  int UpdateScanData();

  // Commands (control panel thread). A command is numbered only when its
  // write is started; one that cannot be sent is reported on the console
  // and kept as the last error, and its number is left for the next one.
  void WriteCommand(uint8_t command, uint16_t value);
  void LaserOn();
  void LaserOff();
  void SetFarGain(int valueToSet);
  void SetCloseGain(int valueToSet);
  void SetThreshold(int valueToSet);
  void SetAPDVoltage(int valueToSet);
  void SetRotationRate(int valueToSet);
  void SetCalDistGain(int valueToSet);
  void SetCalWidthGain(int valueToSet);
  void SetCalOffset(int valueToSet);
  void RestoreParams();
  void SaveParams();
  bool HandleStatusPipe();

  // Recording (data path thread).
  void UpdateFileState();
  void SaveFileTimeIncrement();
  // The control panel's request to start (true) or stop (false) recording.
  void RequestRecording(bool record);
  // The folder new recording files go to; empty (the default) is the
  // working directory. The file's name (mFileName, GetCurrentFileName) then
  // holds the folder too. Takes effect with the next file opened.
  void SetRecordingDirectory(const std::string& directory);
  // The clock the open recording's check for a deleted file is timed on:
  // the steady clock unless set (a test on a manual-clock bus gives its bus
  // time). Set before the data path starts.
  using RecordingClock = std::function<std::chrono::steady_clock::time_point()>;
  void SetRecordingClock(RecordingClock now);
  // Splitting a long recording into numbered files, and how many a run
  // keeps (RecordingSplit.h); takes effect with the next file opened.
  void SetRecordingSplit(const T_RecordingSplit& split);
  // Files written beside each recording file under its name with another
  // extension (".mcap"): a number is passed over when one of them exists
  // already, so that the files of one recording share their number.
  void SetRecordingCompanions(std::vector<std::string> extensions);

  // The step of the data path: returns the size of the last non-empty scan
  // completed in this call, or 0.
  int UpdateContiniousData();
  // Part of the record loop: reports a gap between the previous record's
  // number and the current one, modulo 65536, and remembers the current.
  void ReportGap();

  CUSBKivCmdPipe::T_Parameters mParameters{};
  int32_t mStatusState = 0;
  char mFileName[kFileNameLength] = {};
  CClassMutex mMutex;
  // The pipes come before the port, so that the port, which detaches them
  // when it goes, is destroyed first.
  CUSBKivCmdPipe mCmdPipe;
  CUSBKivCmdPipe mStatusPipe;
  CUSBKivDataPipe mDataPipe;
  CUSBPort mPort;
  uint16_t mCmdNumber = 0;
  int32_t mFileCount = 0;
  std::atomic<FILE*> mSaveFile{nullptr};
  // The open recording's stream buffer, made with the first recording and
  // kept for the next. It holds the lines of a whole update (the most
  // records a collection gives, each line well under 256 bytes), so the
  // record loop only copies into it and the flush after the loop, outside
  // mMutex, is the one write of the update.
  static constexpr size_t kRecordingBufferBytes =
      static_cast<size_t>(CUSBKivDataPipe::kRecordCapacity) * 256 + 64 * 1024;
  std::unique_ptr<char[]> mRecordingBuffer;
  std::atomic<bool> mWriteFile{false};
  double mCurDistance = 0.0;
  int32_t mCurWidth = 0;
  uint32_t mScanState = 0;
  uint32_t mPrevScanState = 0;
  double mStdDev = 0.0;
  double mFilteredDist = 0.0;
  double mDistVariance = 0.0;
  double mTemperature = 0.0;
  bool mLaserOn = true;
  int32_t mRecordCount = 0;
  int32_t mCurRotTime = 0;
  uint16_t mSampleDeltTime = 0;
  double mSupplyVoltage = 0.0;
  uint16_t mLaserPower = 0;
  T_IMUData mIMUData{};
  double mScanDist[2][kScanBufferSize] = {};
  double mScanWidth[2][kScanBufferSize] = {};
  double* mCurScanDist = mScanDist[0];
  double* mCurScanWidth = mScanWidth[0];
  double* mLastScanDist = mScanDist[1];
  double* mLastScanWidth = mScanWidth[1];
  int32_t mFoundScanSize = 0;
  // The number of records the last UpdateContiniousData processed; they stay
  // in mDataPipe.mRecordStorage until the next update (data path thread).
  int32_t mUpdateRecords = 0;
  int32_t mRotTimeAccum = 0;
  int32_t mScanDataSize = 0;
  uint16_t mLastRecordCount = 0;
  // False until the first record after the sensor was opened: that record
  // sets the gap reference without a report.
  bool mGapReferenceSet = false;
  int32_t mStatusRetries = 0;

  // Status line state, under mMutex: the open sensor's serial number (set by
  // the data path when it opens the sensor), records processed since start,
  // bytes of the open (or last) recording known to be in its file (at its
  // last successful flush, or what was left after a failure cut it back), the
  // last error and its number.
  bool mSensorOpen = false;
  std::string mSensorSerial;
  uint64_t mRecordsProcessed = 0;
  uint64_t mFileBytes = 0;
  std::string mLastError;
  bool mRemoteSensor = false;  // written before the threads start, then read only
  uint32_t mErrorNumber = 0;
  // Recording counters for a front end's summary, under mMutex (see
  // T_DeviceStatus), and the folder recordings go to. A record counts once
  // it is in the file: the bytes and records handed to the open file's
  // stream since its last successful flush wait in mBufferedBytes and
  // mBufferedRecords; mFileRecords are those of the open (or last) file.
  uint32_t mFilesWritten = 0;
  uint64_t mRecordsRecorded = 0;
  uint64_t mFileRecords = 0;
  uint64_t mBufferedBytes = 0;
  uint64_t mBufferedRecords = 0;
  int mWriteError = 0;  // of the open file's last write, data path thread only
  uint64_t mGapsReported = 0;
  uint32_t mRecordingFailures = 0;
  std::string mRecordingDirectory;
  // When the data path's flush next looks whether the open file still has a
  // name (at most once a second), and on which clock.
  // The split asked for (under mMutex), and the one of the open file with
  // the sensor time its records cover (data path thread).
  T_RecordingSplit mSplit;
  std::vector<std::string> mCompanions;  // under mMutex
  T_RecordingSplit mFileSplit;
  uint64_t mFileUnits = 0;
  CRollingFiles mRunFiles;  // data path thread
  static constexpr std::chrono::seconds kDeletedFileCheckInterval{1};
  std::chrono::steady_clock::time_point mNextDeletedFileCheck{};
  RecordingClock mRecordingClock;

 private:
  // How a recording file comes to be closed: in order (a stop, the end of
  // the program), after a write or flush that failed (already reported), or
  // after its name was removed from the disk (already reported).
  enum class EFileEnd { eOrderly, eFailed, eDeleted };
  template <typename T>
  T Locked(const T& member);
  void ProcessRecords(int count, int& result);
  // Copies the port's open or closed state and the sensor's serial number
  // into the status line's members.
  void NoteSensorPresence();
  // Keeps a sensor that is present but would not open as the last error,
  // with what the operator can do about it.
  void NoteOpenFailure(const GeneralException& e);
  // Recording: opens the next free numbered file with its header; writes a
  // piece of text, or flushes (counting what the flush put in the file),
  // ending the recording on a failure; ends the recording after a failed
  // write (reported once, the file cut back to its last complete line);
  // closes the file, reporting a failed close or a file deleted meanwhile.
  void OpenNextRecordingFile();
  // False (and nothing counted) once a write of the open file has failed:
  // the failure, kept in mWriteError, ends the recording at the next flush.
  bool WriteRecordingText(const char* text, size_t length);
  void FlushRecordingFile();
  void FailRecording(int error);
  void CloseRecordingFile(EFileEnd end = EFileEnd::eOrderly);
  // Once a second at most: ends the recording if its open file has been
  // deleted (no name left on the disk).
  void LookForDeletedFile(FILE* file);
  // Says once that the recording stopped and why (the console line, and the
  // last error with `note` after the reason), counts it as a failed
  // recording and withdraws the request.
  void ReportRecordingStopped(const std::string& reason, const char* note);
  // The records and bytes given to the stream are in the file.
  void CountBufferedAsRecorded();
  // After a failure: cuts the file on `fd` back to its last complete line
  // and counts the records left in it; a file left without its whole header
  // line is removed.
  void KeepCompleteLines(int fd);
  // The open file was deleted: none of its records count any more.
  void ForgetRecordingFile();
  void ReportCommandNotSent(uint8_t command, const std::string& why);
  // Sends an entry of the command table: a setting with the value asked for,
  // cut to 16 bits, or a command without a box with its own value.
  void SendSetting(const T_Command& command, int valueToSet);
  void SendCommand(const T_Command& command);
};

// The controller of the running program.
extern CSkarvIO gSkarvIO;
