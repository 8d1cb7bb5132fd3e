#pragma once
// Another machine's published records as a record source: a reader on its
// records topic whose batches a thread of this feed takes as they arrive
// and queues, record by record, for the playback sensor. Next never waits:
// with nothing queued it answers eWait, and the sensor asks again at a
// later frame.

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "DdsEntities.h"
#include "PlaybackRecord.h"
#include "SkarvRecordTypes.h"

namespace skarvdds {

// The words of a received sample record.
sim::T_PlaybackRecord WordsOf(const skarv_msgs_msg_dds__SampleRecord_& sample);

class CRecordFeed : public sim::CRecordSource {
 public:
  // Reads "records" under namespace `ns` (empty: no namespace). DDS that
  // cannot start makes Next answer eError, with Error() saying why.
  explicit CRecordFeed(const std::string& ns);
  ~CRecordFeed() override;
  CRecordFeed(const CRecordFeed&) = delete;
  CRecordFeed& operator=(const CRecordFeed&) = delete;

  EResult Next(sim::T_PlaybackRecord& out) override;
  std::string Error() const override;
  bool Active() const { return mParticipant.IsOpen(); }

  // Publishers whose records this feed reads now.
  uint32_t MatchedPublishers() const;
  // Batches that never arrived, from the gaps in their numbers.
  uint64_t LostBatches() const { return mLostBatches.load(); }

 private:
  void Run();
  void Take();

  CDdsParticipant mParticipant;
  dds_entity_t mReader = 0;
  dds_entity_t mWaitset = 0;
  dds_entity_t mWake = 0;
  std::string mError;  // set before the thread starts, then read only

  mutable std::mutex mMutex;
  std::deque<sim::T_PlaybackRecord> mQueue;
  bool mStopping = false;
  uint64_t mNextBatch = 0;  // taking thread only
  bool mFirstBatch = true;  // taking thread only
  std::atomic<uint64_t> mLostBatches{0};
  std::thread mThread;
};

}  // namespace skarvdds
