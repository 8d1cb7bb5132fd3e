#pragma once
// A program's MCAP recording, fed by the data path. Beside the controller's
// CSV recording, it follows it: while a CSV file is open its records go to
// the file of the same name with .mcap, so both files of one recording
// carry the same number and the same records, and a new CSV file (the
// panel's button) starts a new MCAP file. On its own, its one file opens at
// the first update that brings records, numbered SkarvData-<n>.mcap with the
// first number whose file does not exist yet. An existing file is never
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

class CDataPath;

namespace skarvmcap {

class CMcapRecorder {
 public:
  // `csvPath` gives the path of the CSV file being recorded (empty while
  // there is none), for a file beside it; without one the file is numbered
  // on its own in `directory` (empty: the working directory).
  CMcapRecorder(const skarvdds::T_DdsOptions& options, std::string version, std::string directory,
                std::function<std::string()> csvPath);

  // Subscribes to the data path's records, before it starts. The recorder
  // must outlive the data path's thread.
  void Attach(CDataPath& path);
  void OnRecords(std::span<const kiv::T_RawRecord> records, const std::string& serial);
  // Once the data path has stopped: finishes the file; why that failed, now
  // or before, or "".
  std::string Close();

  std::string Failure() const;
  std::string File() const;
  uint64_t Records() const;

 private:
  void FollowCsvFile();
  void OpenNumberedFile();
  // Says the recording's failure, and keeps it for Failure().
  void NoteFailure();

  const std::string mDirectory;
  const std::function<std::string()> mCsvPath;
  CMcapRecording mRecording;  // the data path's thread, then Close's
  bool mTried = false;  // the numbered file was opened, or tried
  std::string mBeside;  // the CSV file the open file is beside
  mutable std::mutex mMutex;  // guards the three below
  std::string mFailure;
  std::string mFile;
  uint64_t mRecords = 0;
};

}  // namespace skarvmcap
