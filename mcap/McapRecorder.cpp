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

void CMcapRecorder::FollowCsvFile() {
  const std::string csv = mCsvPath();
  if (csv == mBeside) return;
  mBeside = csv;
  if (mRecording.IsOpen() && !mRecording.Close()) NoteFailure();
  if (csv.size() < 4 || csv.compare(csv.size() - 4, 4, ".csv") != 0) return;
  if (mRecording.Open(csv.substr(0, csv.size() - 4) + ".mcap") != 0) {
    NoteFailure();
    return;
  }
  std::lock_guard<std::mutex> lock(mMutex);
  mFile = mRecording.Path();
  mRecords = 0;
}

void CMcapRecorder::OpenNumberedFile() {
  mTried = true;
  const std::string prefix = mDirectory.empty() ? "" : mDirectory + (mDirectory.back() == '/' ? "" : "/");
  int error = EEXIST;
  for (int number = 1; number < INT_MAX && error == EEXIST; ++number) {
    error = mRecording.Open(prefix + "SkarvData-" + std::to_string(number) + ".mcap");
  }
  if (error != 0) {
    NoteFailure();
    return;
  }
  std::lock_guard<std::mutex> lock(mMutex);
  mFile = mRecording.Path();
}

void CMcapRecorder::OnRecords(std::span<const kiv::T_RawRecord> records, const std::string& serial) {
  if (records.empty()) return;
  if (mCsvPath) {
    FollowCsvFile();
  } else if (!mTried) {
    OpenNumberedFile();
  }
  if (!mRecording.IsOpen()) return;
  mRecording.Add(records, std::chrono::system_clock::now(), serial);
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mRecords = mRecording.Records();
  }
  if (mRecording.Failed()) NoteFailure();
}

void CMcapRecorder::NoteFailure() {
  std::lock_guard<std::mutex> lock(mMutex);
  mFailure = mRecording.Error();
  DiagPrintf(EDiagLevel::eAlways, "%s\n", mFailure.c_str());
}

std::string CMcapRecorder::Close() {
  if (mRecording.IsOpen() && !mRecording.Close()) NoteFailure();
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
