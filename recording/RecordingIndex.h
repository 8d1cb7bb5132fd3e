#pragma once
// The places to seek to in a recording, found once by a second reader of
// the file on a thread of its own while the replay plays it: every scan
// start (a record whose scan state differs from the record before it; the
// first record too) and at least every kMaxSpacing records, each with its
// record number in the file (from 0), its sensor time (the DeltTime of the
// records after the first, summed, in 10 us units) and where its reader can
// go back to it. A seek to any record goes to the entry at or before it and
// passes over fewer than kMaxSpacing records from there.
//
// The entries grow while the file is read; what is found so far is safe to
// ask from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "RecordSource.h"

namespace recording {

class CRecordingIndex {
 public:
  static constexpr uint64_t kMaxSpacing = 4096;

  struct T_Entry {
    uint64_t record = 0;
    uint64_t time = 0;  // 10 us units since the first record
    T_RecordPosition at;
    bool scanStart = false;
  };

  // Opens the second reader of the file (on the index's thread); nullptr
  // with `why` when it cannot.
  using Opener = std::function<std::unique_ptr<CRecordSource>(std::string& why)>;

  // Starts reading at once.
  explicit CRecordingIndex(Opener open);
  ~CRecordingIndex();  // stops the reading where it is
  CRecordingIndex(const CRecordingIndex&) = delete;
  CRecordingIndex& operator=(const CRecordingIndex&) = delete;

  // From any thread.
  uint64_t Records() const { return mRecords.load(); }  // records indexed so far
  uint64_t Duration() const { return mDuration.load(); }  // the time of the last of them
  bool Complete() const { return mComplete.load(); }      // the whole file is read
  std::string Error() const;  // what stopped the reading early; empty when none

  // The entry at or before `record`, among those found so far.
  std::optional<T_Entry> AtOrBefore(uint64_t record) const;
  // The record number of the scan start `back` scan starts before the last
  // one at or before `record` (0: that one); the first record when there
  // are not that many.
  uint64_t ScanStart(uint64_t record, unsigned back) const;
  std::vector<T_Entry> Entries() const;  // a copy of what is found so far

  // Waits until the whole file is read (for tests and benchmarks).
  void AwaitComplete() const;

 private:
  void Build(const Opener& open);
  void Add(const T_Entry& entry);

  mutable std::mutex mMutex;
  std::vector<T_Entry> mEntries;
  std::vector<uint64_t> mScanStarts;  // record numbers
  std::string mError;
  std::atomic<uint64_t> mRecords{0};
  std::atomic<uint64_t> mDuration{0};
  std::atomic<bool> mComplete{false};
  std::atomic<bool> mStop{false};
  std::thread mThread;
};

}  // namespace recording
