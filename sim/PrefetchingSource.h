#pragma once
// Reads a record source ahead on a thread of its own: the records (a
// recording's lines, parsed) come through a bounded queue of batches, so
// that reading and parsing the file runs beside the data path instead of
// inside the bus's frames. The records, their order and the way the source
// ends (its error, after every record before it) are the source's own.
//
// For a source that has its records at hand (a recording): a source that
// answers eWait is asked again a millisecond later, and the records read so
// far are handed on meanwhile.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PlaybackRecord.h"

namespace sim {

class CPrefetchingSource : public CRecordSource {
 public:
  static constexpr size_t kBatchRecords = 4096;
  static constexpr size_t kMaxBatches = 8;  // read ahead at most this many batches

  // Starts reading `source` at once; `source` is used by the reading thread alone.
  explicit CPrefetchingSource(std::shared_ptr<CRecordSource> source);
  ~CPrefetchingSource() override;  // stops the reading thread
  CPrefetchingSource(const CPrefetchingSource&) = delete;
  CPrefetchingSource& operator=(const CPrefetchingSource&) = delete;

  // CRecordSource. Waits for the reading thread when nothing is read ahead.
  EResult Next(T_PlaybackRecord& out) override;
  std::string Error() const override;

 private:
  struct T_Batch {
    std::vector<T_PlaybackRecord> records;
    EResult end = EResult::eRecord;  // eEnd or eError: the source ended after these records
    std::string error;
  };

  void ReadAhead();
  bool Hand(T_Batch&& batch);  // false once stopping

  const std::shared_ptr<CRecordSource> mSource;

  // The consumer's side (the bus's thread).
  T_Batch mCurrent;
  size_t mNext = 0;
  bool mErrorReached = false;

  mutable std::mutex mMutex;  // guards the queue, the stop flag and the error
  std::condition_variable mChanged;
  std::deque<T_Batch> mQueue;
  std::vector<std::vector<T_PlaybackRecord>> mSpare;  // emptied batches' storage, to be filled again
  bool mStop = false;
  std::string mError;  // set once the consumer reached the source's error

  std::thread mThread;
};

}  // namespace sim
