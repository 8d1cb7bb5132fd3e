#include "RecordingIndex.h"

#include <algorithm>
#include <chrono>

#include "ThreadName.h"

namespace recording {

CRecordingIndex::CRecordingIndex(Opener open) {
  mThread = std::thread([this, open = std::move(open)] {
    NameThisThread("index");
    Build(open);
  });
}

CRecordingIndex::~CRecordingIndex() {
  mStop = true;
  mThread.join();
}

std::string CRecordingIndex::Error() const {
  std::lock_guard lock(mMutex);
  return mError;
}

void CRecordingIndex::Add(const T_Entry& entry) {
  std::lock_guard lock(mMutex);
  mEntries.push_back(entry);
  if (entry.scanStart) {
    mScanStarts.push_back(entry.record);
  }
}

void CRecordingIndex::Build(const Opener& open) {
  std::string why;
  std::unique_ptr<CRecordSource> source = open(why);
  kiv::T_RawRecord record;
  uint64_t n = 0;
  uint64_t time = 0;
  uint64_t lastEntry = 0;
  uint8_t previousState = 0;
  T_RecordPosition at;
  while (source && !mStop.load(std::memory_order_relaxed)) {
    const bool placed = source->Position(at);
    const CRecordSource::EResult result = source->Next(record);
    if (result != CRecordSource::EResult::eRecord) {
      if (result == CRecordSource::EResult::eError) {
        why = source->Error();
      } else if (result == CRecordSource::EResult::eWait) {
        why = "the recording is not a file that can be indexed";
      }
      break;
    }
    if (!placed) {
      why = "the recording is not a file that can be indexed";
      break;
    }
    time += n > 0 ? record.DeltTime() : 0;
    const bool scanStart = n == 0 || record.ScanState() != previousState;
    if (scanStart || n - lastEntry >= kMaxSpacing) {
      Add(T_Entry{n, time, at, scanStart});
      lastEntry = n;
    }
    previousState = record.ScanState();
    ++n;
    mDuration.store(time, std::memory_order_relaxed);
    mRecords.store(n, std::memory_order_release);
  }
  if (!source || !why.empty()) {
    std::lock_guard lock(mMutex);
    mError = why;
    return;
  }
  mComplete = !mStop.load();
}

std::optional<CRecordingIndex::T_Entry> CRecordingIndex::AtOrBefore(uint64_t record) const {
  std::lock_guard lock(mMutex);
  const auto after = std::upper_bound(mEntries.begin(), mEntries.end(), record,
                                      [](uint64_t n, const T_Entry& entry) { return n < entry.record; });
  if (after == mEntries.begin()) {
    return std::nullopt;
  }
  return *(after - 1);
}

uint64_t CRecordingIndex::ScanStart(uint64_t record, unsigned back) const {
  std::lock_guard lock(mMutex);
  const auto after = std::upper_bound(mScanStarts.begin(), mScanStarts.end(), record);
  // -1 and below when there are not that many at or before it.
  const long wanted = static_cast<long>(after - mScanStarts.begin()) - 1 - static_cast<long>(back);
  return wanted >= 0 ? mScanStarts[static_cast<size_t>(wanted)] : 0;
}

std::vector<CRecordingIndex::T_Entry> CRecordingIndex::Entries() const {
  std::lock_guard lock(mMutex);
  return mEntries;
}

void CRecordingIndex::AwaitComplete() const {
  while (!mComplete.load() && Error().empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace recording
