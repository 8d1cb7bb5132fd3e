#pragma once
// A program's MCAP recording, fed by the data path. Beside the controller's
// CSV recording, it follows it: while a CSV file is open its records go to
// the file of the same name with .mcap, so both files of one recording
// carry the same number and the same records, and a new CSV file (the
// panel's button, or a split) starts a new MCAP file. On its own, its file
// opens at the first update that brings records, numbered SkarvData-<n>.mcap
// with the first number whose file does not exist yet, and is split by the
// same rules as the CSV files (RecordingSplit.h). An existing file is never
// replaced; each failure is said once.
//
// The data path's thread writes; the state a front end reads (the file,
// its records, the last failure) is read from any thread.

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

#include "DdsOptions.h"
#include "McapRecording.h"
#include "RawRecord.h"
#include "RecordingSplit.h"
#include "RollingFiles.h"

class CDataPath;

namespace skarvmcap {

class CMcapRecorder {
 public:
  // `csvPath` gives the path of the CSV file being recorded (empty while
  // there is none), for a file beside it; without one the file is numbered
  // on its own in `directory` (empty: the working directory).
  CMcapRecorder(const skarvdds::T_DdsOptions& options, std::string version, std::string directory,
                std::function<std::string()> csvPath, T_RecordingSplit split = {});

  // Subscribes to the data path's records, before it starts. The recorder
  // must outlive the data path's thread.
  void Attach(CDataPath& path);
  void OnRecords(std::span<const kiv::T_RawRecord> records, const std::string& serial);
  // Once the data path has stopped: finishes the file; why that failed, now
  // or before, or "".
  std::string Close();

  std::string Failure() const;
  std::string File() const;      // the last file opened
  uint64_t Records() const;      // of every file
  uint32_t Files() const;        // opened
  uint64_t Bytes() const;        // in the open (or last) file

 private:
  void FollowCsvFile();
  void OpenNumberedFile();
  void Opened();     // counts the file opened, among the run's files
  void CloseFile();  // finishes the open file, if any
  // Says the recording's failure, and keeps it for Failure().
  void NoteFailure();

  const std::string mDirectory;
  const std::function<std::string()> mCsvPath;
  const T_RecordingSplit mSplit;
  CRollingFiles mRunFiles;
  int mNextNumber = 1;      // the next number tried, on its own
  uint64_t mFileUnits = 0;  // sensor time in the open file
  uint64_t mEarlierRecords = 0;  // in the files closed
  CMcapRecording mRecording;  // the data path's thread, then Close's
  bool mFailed = false;  // on its own: a file failed, and no next one is opened
  std::string mBeside;  // the CSV file the open file is beside
  mutable std::mutex mMutex;  // guards the three below
  std::string mFailure;
  std::string mFile;
  uint64_t mRecords = 0;
  uint32_t mFiles = 0;
  uint64_t mBytes = 0;
};

}  // namespace skarvmcap
