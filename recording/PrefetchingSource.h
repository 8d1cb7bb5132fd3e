#pragma once
// Reads a record source ahead on a thread of its own: the records (a
// recording's lines, parsed) come through a bounded queue of batches, so
// that reading and parsing the file runs beside the data path instead of
// inside the bus's frames. The records, their order and the way the source
// ends (its error, after every record before it) are the source's own.
//
// Next never waits: with nothing read ahead yet (a pipe whose writer
// pauses, a slow disk) it answers eWait, so the bus that asks is never held
// up by the file. When the source itself answers eWait, the records read so
// far are handed on at once and the reading thread waits for more in the
// source's AwaitRecords; EndIntake, or the destructor, interrupts that wait
// at once through the source's interrupt descriptor.
//
// SeekTo (on the consumer's thread) drops what was read ahead and has the
// reading thread move its source there at its next step: every batch
// carries the seek's generation it was read in, and one read before the
// latest seek never reaches the queue, so Next never hands out a record
// from before the seek after it. The reading thread stays at hand after the
// source ended, for a seek back into it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RecordSource.h"

namespace recording {

class CPrefetchingSource : public CRecordSource {
 public:
  static constexpr size_t kBatchRecords = 4096;
  static constexpr size_t kMaxBatches = 8;  // read ahead at most this many batches
  static constexpr int kAwaitMs = 100;      // one wait of the reading thread for its source

  // Starts reading `source` at once; `source` is used by the reading thread alone.
  explicit CPrefetchingSource(std::shared_ptr<CRecordSource> source);
  ~CPrefetchingSource() override;  // stops the reading thread
  CPrefetchingSource(const CPrefetchingSource&) = delete;
  CPrefetchingSource& operator=(const CPrefetchingSource&) = delete;

  // CRecordSource.
  EResult Next(kiv::T_RawRecord& out) override;
  std::string Error() const override;
  // The records read so far are still handed out, then the end.
  void EndIntake() override;
  bool AwaitRecords(int ms) override;
  // Answers at once; the records from `at` on follow. A source that cannot
  // move there ends with an error.
  bool SeekTo(const T_RecordPosition& at) override;
  // Records read from the source and handed to the queue so far (from any
  // thread).
  uint64_t RecordsRead() const { return mRecordsRead.load(); }

 private:
  struct T_Batch {
    std::vector<kiv::T_RawRecord> records;
    EResult end = EResult::eRecord;  // eEnd or eError: the source ended after these records
    std::string error;
  };

  void ReadAhead();
  // Waits for room in the queue, unless the intake ends; a batch of an
  // earlier generation than the latest seek's is dropped.
  void Hand(T_Batch&& batch, uint64_t generation);
  void Recycle(std::vector<kiv::T_RawRecord>&& records);  // under mMutex
  bool IntakeEnded() const { return mIntakeEnded.load(); }

  const std::shared_ptr<CRecordSource> mSource;
  int mInterrupt = -1;  // an eventfd, readable once the intake ends

  // The consumer's side (the bus's thread).
  T_Batch mCurrent;
  size_t mNext = 0;
  bool mErrorReached = false;

  mutable std::mutex mMutex;  // guards the queue and the error
  std::condition_variable mChanged;
  std::deque<T_Batch> mQueue;
  std::vector<std::vector<kiv::T_RawRecord>> mSpare;  // emptied batches' storage, to be filled again
  std::string mError;  // set once the consumer reached the source's error
  std::atomic<bool> mIntakeEnded{false};
  uint64_t mGeneration = 0;  // seeks asked for so far
  T_RecordPosition mSeekTarget;
  std::atomic<bool> mSeekPending{false};  // set under mMutex
  std::atomic<uint64_t> mRecordsRead{0};

  std::thread mThread;
};

}  // namespace recording
