#pragma once
// The trends of the last minute: every record the data path hands on is
// turned into the control panel's readings (by the same code the panel's
// controller uses) and gathered into buckets of 10 ms of the sensor's own
// time, the sum of the records' DeltTime. A record lost in a gap of the
// count is taken to have lasted as long as the one before it, so that the
// time axis keeps pace with the sensor and the records per second dip.
// The time is the sensor's: a paused replay holds still, and a replay shows
// the times it recorded.
//
// Threads: Add runs on the data path's thread, once an update; the readers
// (a window, on the GUI thread) copy what they draw. Both take the store's
// mutex for their loop or copy alone, never while waiting for anything.

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "DistanceFilter.h"
#include "RawRecord.h"
#include "SampleRecord.h"
#include "TrendChannels.h"

namespace trends {

class CTrendStore {
 public:
  // 60 s and a margin, so that a reader that copies a tenth of a second
  // late still finds the oldest bucket of its minute.
  static constexpr int64_t kBuckets = 6400;

  CTrendStore();

  // The records of one update, in order (the data path's subscriber).
  void Add(std::span<const kiv::T_RawRecord> records);

  // The index of the newest bucket (the one still filling), -1 before the
  // first record.
  int64_t Newest() const;
  // Appends to `out` the buckets from index `from` up to the newest that
  // the store still holds, oldest first; returns how many it appended.
  size_t CopyFrom(int64_t from, std::vector<T_Bucket>& out) const;

 private:
  T_Bucket& Slot(int64_t index) { return mRing[static_cast<size_t>(index % kBuckets)]; }
  const T_Bucket& Slot(int64_t index) const { return mRing[static_cast<size_t>(index % kBuckets)]; }
  // Moves the newest bucket on to `index`, clearing those passed over.
  void MoveTo(int64_t index);
  // Puts the frame-header readings held for the run of records that share
  // them into the bucket they fell in.
  void FlushHeaderRun();
  void StartHeaderRun(const kiv::T_Record& scaled);

  mutable std::mutex mMutex;
  std::vector<T_Bucket> mRing;
  int64_t mNewest = -1;
  // Data path thread only (Add), and under the mutex.
  CDistanceFilter mFilter;
  uint64_t mUnits = 0;  // sensor time of the last record
  bool mAnyRecord = false;
  kiv::T_RawRecord mLast{};
  // The readings of the frame header are the same for every record of a
  // frame (about 40 at the sensor's rate): they are taken once per run.
  static constexpr int kHeaderChannels = kChannels - eLaserTemp;
  double mRunValues[kHeaderChannels] = {};
  uint32_t mRunLength = 0;
};

}  // namespace trends
