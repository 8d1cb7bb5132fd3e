#include "McapRecorder.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "DataPath.h"
#include "Diagnostics.h"

namespace skarvmcap {

CMcapRecorder::CMcapRecorder(const skarvdds::T_DdsOptions& options, std::string version, std::string directory,
                             std::function<std::string()> csvPath, T_RecordingSplit split)
    : mDirectory(std::move(directory)),
      mCsvPath(std::move(csvPath)),
      mSplit(split),
      mRecording(options, std::move(version)) {}

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
  CloseFile();
  if (csv.size() < 4 || csv.compare(csv.size() - 4, 4, ".csv") != 0) return;
  if (mRecording.Open(csv.substr(0, csv.size() - 4) + ".mcap") != 0) {
    NoteFailure();
    return;
  }
  Opened();
}

void CMcapRecorder::OpenNumberedFile() {
  const std::string prefix = mDirectory.empty() ? "" : mDirectory + (mDirectory.back() == '/' ? "" : "/");
  int error = EEXIST;
  for (; mNextNumber < INT_MAX && error == EEXIST; ++mNextNumber) {
    error = mRecording.Open(prefix + "SkarvData-" + std::to_string(mNextNumber) + ".mcap");
  }
  if (error != 0) {
    mFailed = true;
    NoteFailure();
    return;
  }
  Opened();
}

void CMcapRecorder::Opened() {
  mRunFiles.Opened(mRecording.Path(), mSplit.maxFiles);
  mFileUnits = 0;
  std::lock_guard<std::mutex> lock(mMutex);
  mFile = mRecording.Path();
  ++mFiles;
}

void CMcapRecorder::CloseFile() {
  if (!mRecording.IsOpen()) return;
  const bool closed = mRecording.Close();
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mEarlierRecords += mRecording.Records();
    mRecords = mEarlierRecords;
  }
  if (!closed) NoteFailure();
}

void CMcapRecorder::OnRecords(std::span<const kiv::T_RawRecord> records, const std::string& serial) {
  if (records.empty()) return;
  if (mCsvPath) {
    FollowCsvFile();
  } else if (!mFailed) {
    if (mRecording.IsOpen() && mSplit.Due(mRecording.Bytes(), mFileUnits)) {
      CloseFile();  // between two updates: the next file takes the next record
      mFailed = !mRecording.Error().empty();
    }
    if (!mRecording.IsOpen() && !mFailed) OpenNumberedFile();
  }
  if (!mRecording.IsOpen()) return;
  mRecording.Add(records, std::chrono::system_clock::now(), serial);
  for (const kiv::T_RawRecord& record : records) mFileUnits += record.DeltTime();
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mRecords = mEarlierRecords + mRecording.Records();
    mBytes = mRecording.Bytes();
  }
  if (mRecording.Failed()) {
    mFailed = true;
    NoteFailure();
  }
}

void CMcapRecorder::NoteFailure() {
  std::lock_guard<std::mutex> lock(mMutex);
  mFailure = mRecording.Error();
  DiagPrintf(EDiagLevel::eAlways, "%s\n", mFailure.c_str());
}

std::string CMcapRecorder::Close() {
  CloseFile();
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

uint64_t CMcapRecorder::Bytes() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mBytes;
}

uint32_t CMcapRecorder::Files() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mFiles;
}

uint64_t CMcapRecorder::Records() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mRecords;
}

}  // namespace skarvmcap
