#include "McapRecorder.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "DataPath.h"
#include "Diagnostics.h"

namespace skarvmcap {

CMcapRecorder::CMcapRecorder(const skarvdds::T_DdsOptions& options, std::string version, std::string directory,
                             std::function<std::string()> csvPath)
    : mDirectory(std::move(directory)), mCsvPath(std::move(csvPath)), mRecording(options, std::move(version)) {}

void CMcapRecorder::Attach(CDataPath& path) {
  CDataPath* source = &path;
  path.SubscribeRecords([this, source](std::span<const kiv::T_RawRecord> records) {
    OnRecords(records, source->SensorSerial());
  });
}

int CMcapRecorder::OpenFile() {
  if (mCsvPath) {
    std::string path = mCsvPath();
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".csv") != 0) {
      return EAGAIN;  // no CSV file yet: nor its records
    }
    path.replace(path.size() - 4, 4, ".mcap");
    return mRecording.Open(path);
  }
  const std::string prefix = mDirectory.empty() ? "" : mDirectory + (mDirectory.back() == '/' ? "" : "/");
  int error = EEXIST;
  for (int number = 1; number < INT_MAX && error == EEXIST; ++number) {
    error = mRecording.Open(prefix + "SkarvData-" + std::to_string(number) + ".mcap");
  }
  return error;
}

void CMcapRecorder::OnRecords(std::span<const kiv::T_RawRecord> records, const std::string& serial) {
  if (records.empty()) return;
  if (!mRecording.IsOpen()) {
    if (mTried) return;  // ended: the recording is not started again
    if (const int error = OpenFile(); error != 0) {
      if (error == EAGAIN) return;
      mTried = true;
      NoteFailure();
      return;
    }
    mTried = true;
    std::lock_guard<std::mutex> lock(mMutex);
    mFile = mRecording.Path();
  }
  mRecording.Add(records, std::chrono::system_clock::now(), serial);
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mRecords = mRecording.Records();
  }
  if (mRecording.Failed()) NoteFailure();
}

void CMcapRecorder::NoteFailure() {
  std::lock_guard<std::mutex> lock(mMutex);
  if (mFailure.empty()) {
    mFailure = mRecording.Error();
    DiagPrintf(EDiagLevel::eAlways, "%s\n", mFailure.c_str());
  }
}

std::string CMcapRecorder::Close() {
  if (!mRecording.Close()) NoteFailure();
  std::lock_guard<std::mutex> lock(mMutex);
  return mFailure;
}

std::string CMcapRecorder::Failure() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mFailure;
}

std::string CMcapRecorder::File() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mFile;
}

uint64_t CMcapRecorder::Records() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mRecords;
}

}  // namespace skarvmcap
