#pragma once
// Another machine's published records as the sources of playback sensors: a
// reader on its records topic, whose batches a thread of this feed takes as
// they arrive and queues for the sensor that plays them.
//
// One publisher at a time. The feed follows the first publisher whose batch
// it gets and hands its records out as one session (a record source), until
// that publisher is gone: its DDS liveliness lost or its writer no longer
// matched, and no record from it for kGoneAfterMs. A second publisher in the
// namespace is reported once, naming both, and ignored until the followed
// one is gone; then the next publisher that sends a batch is followed, in a
// new session.
//
// A session is one sensor's: it takes the serial number of its first batch,
// and a batch of the followed publisher that names another sensor ends it
// and begins the next. A feed asked for one sensor's serial number follows
// only batches that carry it: a publisher that sends another sensor's, or
// none, is reported once and ignored while it does.
//
// Batches are checked, not taken on trust. A batch number the session has
// had already is a repeat, and dropped; a number that jumps ahead is counted
// as lost batches; a publisher whose numbers begin again at 0 has restarted,
// and what it sends from then on is a new session. A batch whose words are
// not whole records, or that holds more than kMaxBatchRecords, is refused
// whole and counted; it is reported once for each publisher that sends one.
// Each other kind of fault is reported in one line the first time it
// happens; all are counted for the summary.
//
// Memory stays bounded: batches are taken off the reader only while the
// session's queue has room for kMaxQueuedRecords, and the reader keeps at
// most kReaderBatches; past that the publisher's writer waits, which is DDS's
// own flow control for a reliable reader. A session's Next never waits.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "DdsEntities.h"
#include "RecordSource.h"
#include "SkarvRecordTypes.h"

namespace skarvdds {

// One followed publisher's records, as a playback sensor's source.
class CFeedSession : public recording::CRecordSource {
 public:
  // The records queued for a session and what the feed's thread and the
  // session's reader both look at, under `mutex`.
  struct T_Queue {
    std::mutex mutex;
    std::condition_variable room;  // the queue fell to half its bound
    std::deque<kiv::T_RawRecord> records;
    bool ended = false;  // its publisher is gone: nothing more comes
    // Set when any session's intake is ended (the program is stopping):
    // shared by all of a feed's sessions, and the feed then takes no more.
    std::shared_ptr<std::atomic<bool>> intakeEnded;
    dds_entity_t wake = 0;  // the feed's guard condition
  };

  CFeedSession(std::shared_ptr<T_Queue> queue, std::string serial)
      : mQueue(std::move(queue)), mSerial(std::move(serial)) {}
  EResult Next(kiv::T_RawRecord& out) override;
  // The feed takes nothing more in; what has reached the session is played.
  void EndIntake() override;
  // The serial number of the sensor whose records these are, as its first
  // batch carried it, made safe to print ("" when it carried none).
  const std::string& Serial() const { return mSerial; }

 private:
  const std::shared_ptr<T_Queue> mQueue;
  const std::string mSerial;
};

class CRecordFeed {
 public:
  static constexpr size_t kMaxQueuedRecords = size_t{1} << 18;  // about 6 s of the sensor at its top rate
  static constexpr int32_t kReaderBatches = 64;
  static constexpr int kGoneAfterMs = 2000;
  static constexpr int kStandStillMs = 500;  // a gap between turns of the feed's thread that means it stood still
  // A batch of more records is refused whole: the client's publisher sends
  // one update's (at most 5,120), and one batch must not break the bound.
  static constexpr uint32_t kMaxBatchRecords = 65536;

  // Reads "records" under namespace `ns` (empty: no namespace), following
  // the sensor whose serial number is `serial` (empty: any). DDS that
  // cannot start leaves the feed inactive, with Error() saying why.
  explicit CRecordFeed(const std::string& ns, const std::string& serial = "");
  ~CRecordFeed();
  CRecordFeed(const CRecordFeed&) = delete;
  CRecordFeed& operator=(const CRecordFeed&) = delete;

  bool Active() const { return mParticipant.IsOpen(); }
  std::string Error() const { return mError; }  // set before the thread starts, then read only

  // The next session to play, once a publisher is followed; nullptr while
  // there is none that has not been handed out. Ending any session's intake
  // (a stop) ends the feed's: the session under way ends after what had
  // reached the reader then, and none follows; sessions not yet handed out
  // still are.
  std::shared_ptr<CFeedSession> TakeSession();

  // Publishers whose records this feed could read now.
  uint32_t MatchedPublishers() const;
  // Counts since the start: records taken into sessions, batches that never
  // came (from the jumps in their numbers), repeated batches dropped,
  // batches refused, restarts of the followed publisher, publishers followed,
  // publishers ignored for sending another sensor's records (or none's).
  uint64_t RecordsReceived() const { return mReceived.load(); }
  uint64_t LostBatches() const { return mLostBatches.load(); }
  uint64_t RepeatedBatches() const { return mRepeated.load(); }
  uint64_t RefusedBatches() const { return mRefused.load(); }
  uint64_t Restarts() const { return mRestarts.load(); }
  uint64_t PublishersFollowed() const { return mFollowedCount.load(); }
  uint64_t OtherSensorPublishers() const { return mOtherSensors.load(); }
  // The most records a session's queue has held.
  size_t PeakQueuedRecords() const { return mPeakQueued.load(); }
  // The faults counted, for a summary ("" when there were none).
  std::string Summary() const;

 private:
  static void OnLivelinessChanged(dds_entity_t reader, const dds_liveliness_changed_status_t status, void* feed);
  void Run();
  // Takes batches off the reader while the session has room; false when it
  // stopped for room.
  bool TakeBatches();
  // Takes what the reader holds now, however much (a stop's last take).
  void TakeWhatIsHeld();
  void TakeOne(bool& taken);
  void Accept(const skarv_msgs_msg_dds__RawRecordBatch_& batch, dds_instance_handle_t publisher);
  // False for a batch of a sensor this feed does not follow: the publisher
  // is reported the first time, and a session of it ends.
  bool FromSensorFollowed(const std::string& serial, dds_instance_handle_t publisher);
  void Follow(dds_instance_handle_t publisher, const std::string& serial);
  void EndSession();
  bool FollowedIsGone() const;
  std::string NameOf(dds_instance_handle_t publisher) const;

  const std::string mTopic;
  const std::string mWantedSerial;
  CDdsParticipant mParticipant;
  dds_entity_t mReader = 0;
  dds_entity_t mReadable = 0;  // the reader's condition: samples to take
  dds_entity_t mWaitset = 0;
  dds_entity_t mWake = 0;
  std::string mError;

  // Under mMutex: what the other threads and DDS's listener share with the
  // feed's thread.
  mutable std::mutex mMutex;
  std::deque<std::shared_ptr<CFeedSession>> mPending;
  std::set<dds_instance_handle_t> mNotAlive;
  bool mStopping = false;
  const std::shared_ptr<std::atomic<bool>> mIntakeEnded = std::make_shared<std::atomic<bool>>(false);

  // The feed's thread alone.
  std::shared_ptr<CFeedSession::T_Queue> mSession;  // of the publisher followed, while it is
  dds_instance_handle_t mFollowed = 0;
  std::string mFollowedName;
  std::string mFollowedSerial;
  bool mFirstBatch = true;
  uint64_t mNextBatch = 0;
  std::chrono::steady_clock::time_point mLastRecordAt;
  std::set<dds_instance_handle_t> mIgnoredReported;
  std::set<dds_instance_handle_t> mOtherSensorReported;
  std::set<dds_instance_handle_t> mRefusalReported;
  bool mJumpReported = false;
  bool mRepeatReported = false;

  std::atomic<uint64_t> mReceived{0};
  std::atomic<uint64_t> mLostBatches{0};
  std::atomic<uint64_t> mRepeated{0};
  std::atomic<uint64_t> mRefused{0};
  std::atomic<uint64_t> mRestarts{0};
  std::atomic<uint64_t> mFollowedCount{0};
  std::atomic<uint64_t> mOtherSensors{0};
  std::atomic<size_t> mPeakQueued{0};
  std::thread mThread;
};

}  // namespace skarvdds
