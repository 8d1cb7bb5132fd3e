#pragma once
// Publishes the sensor on DDS under ROS 2's names, fed by the data path:
//   scan             sensor_msgs/LaserScan, one per whole rotation (RotationScanner.h)
//   imu, mag         sensor_msgs/Imu (no orientation), sensor_msgs/MagneticField
//   imu/temperature  sensor_msgs/Temperature of the IMU
//   temperature      sensor_msgs/Temperature of the laser
//   records          skarv_msgs/RawRecordBatch, every record of each update as its words,
//                    with the serial number of the sensor they came from
//   /tf_static       tf2_msgs/TFMessage: where the sensor sits (transient local)
//   /diagnostics     diagnostic_msgs/DiagnosticArray once a second (SensorDiagnostics.h)
// The IMU topics go out at the IMU rate of sensor time (the records' DeltTime
// summed), each from the record at that moment. ROS topics are reliable,
// volatile, keep last 10; records keep all, so that a reliable reader that
// keeps up loses nothing: a reader that falls behind makes the writer wait.
//
// The data path's callbacks only copy what a matched reader will want and
// hand it to the publisher's own thread, which writes it; with no reader
// they only keep count of time. DDS that cannot start is reported in one
// line and nothing is published.
//
// The records writer renews its liveliness every kLivelinessMs, so that a
// subscriber notices a publisher that died; its user data names the
// program, its process and its host, for a subscriber's messages. Every
// kAcknowledgementCheckMs, before a write, the publisher looks whether every
// reader has acknowledged all written so far: what was written after the
// last time they had is what may not have been delivered. (The look costs
// the thread a sleep and a wake-up in DDS, too dear for every batch.)
//
// Nothing is dropped without a word: a hand-over that finds the queue full
// drops the update and says so once (its batch number is not used again,
// so a subscriber counts the batch as lost), or, for a source that can wait
// (a recording played back), waits for room while the writer makes
// progress. Close sends everything queued while the readers acknowledge it,
// and reports in one line how many records it could not deliver, and to how
// many readers, when it gives up.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "DataPath.h"
#include "DdsEntities.h"
#include "DdsOptions.h"
#include "MessageTimeline.h"
#include "RawRecord.h"
#include "RotationScanner.h"
#include "SensorDiagnostics.h"

namespace skarvdds {

class CDdsPublisher {
 public:
  // Jobs, or records, waiting for the publisher's thread beyond which an
  // update finds no room.
  static constexpr size_t kMaxQueuedJobs = 4000;
  static constexpr size_t kMaxQueuedRecords = size_t{1} << 20;
  static constexpr int64_t kLivelinessMs = 1000;
  // How long the writer may go without progress (a write, or everything
  // acknowledged) before a reader counts as stalled: a hand-over that
  // waits for room then drops, and Close gives up.
  static constexpr int kStallMs = 2000;
  // How often, at most, the writer looks whether everything is acknowledged.
  static constexpr int kAcknowledgementCheckMs = 10;
  // The words that the buffers of written batches, kept for the next
  // updates' jobs, may hold in all (2 MiB).
  static constexpr size_t kMaxSpareWords = size_t{1} << 20;

  explicit CDdsPublisher(const T_DdsOptions& options);
  ~CDdsPublisher();  // Close()
  CDdsPublisher(const CDdsPublisher&) = delete;
  CDdsPublisher& operator=(const CDdsPublisher&) = delete;

  bool Active() const { return mParticipant.IsOpen(); }
  // Subscribes to the data path's records (before it starts), and reports
  // on its sensor on /diagnostics from then on.
  void Attach(CDataPath& path);
  // Where the diagnostics read the sensor's status (Attach gives the data
  // path's); none, or no status yet, no diagnostics.
  void SetStatusSource(CDataPath::StatusReader statusOf);
  // The data path's source holds its records while the data path waits (a
  // recording played back): a full queue makes the hand-over wait.
  void SetSourceWaits(bool waits) { mSourceWaits = waits; }

  // Once the data path has stopped: writes what is queued and waits for the
  // readers to acknowledge it, for as long as they make progress and
  // `giveUp` (called now and then) says false; then reports what was not
  // delivered, if anything, and leaves the domain. Once only.
  void Close(const std::function<bool()>& giveUp = {});

  // The data path's subscriber, on its thread. `serial`: the sensor the
  // records came from (Attach hands on the data path's).
  void OnRecords(std::span<const kiv::T_RawRecord> records, const std::string& serial = {});

  // Waits until everything handed over so far has been written.
  void Drain();
  // Waits until every topic has at least `readers` matched readers; false
  // when `timeout` passes first.
  bool WaitForReaders(uint32_t readers, std::chrono::milliseconds timeout) const;
  // Waits until the records topic has a reader, or `timeout` passes.
  bool WaitForRecordReader(std::chrono::milliseconds timeout) const;
  // Waits until every reliable reader has acknowledged what was written.
  bool WaitForAcknowledgements(std::chrono::milliseconds timeout) const;
  uint64_t DroppedUpdates() const { return mDropped.load(); }

 private:
  struct T_ImuSample {
    kiv::T_RawRecord words;
    uint64_t unitsBeforeNow;  // sensor time from this record to the batch's last
  };
  struct T_ScanSample {
    T_ScanPoints points;
    uint32_t rotationUnits;  // the last rotation's time when the scan was completed
  };
  struct T_Job {
    std::chrono::system_clock::time_point now;
    bool hasRecords = false;
    uint64_t batch = 0;
    std::vector<uint16_t> words;  // kWordsPerRecord a record
    std::shared_ptr<const std::string> serial;  // of the sensor, with the records
    size_t Records() const;
    std::vector<T_ImuSample> imu;
    std::vector<T_ScanSample> scans;
  };

  enum ETopic { eScan, eImu, eMag, eImuTemperature, eTemperature, eRecords, eTopicCount };

  bool CreateWriters(std::string& error);
  // The writers of /tf_static and /diagnostics, with the transform written.
  bool CreateFrameAndHealthWriters(std::string& error);
  // False when there is no status to report on yet.
  bool WriteDiagnostics(const CDataPath::StatusReader& statusOf, double seconds);
  // Readers matched now, as the writer's listener last reported: the data
  // path reads these instead of asking DDS, whose writer may be busy.
  uint32_t Matched(ETopic topic) const { return mMatched[topic].load(); }
  static void OnPublicationMatched(dds_entity_t writer, const dds_publication_matched_status_t status, void* count);
  // A written job's word buffer to fill again (empty when there is none):
  // an update's words go into memory in use already rather than into pages
  // the system hands out, and takes back, for every batch.
  std::vector<uint16_t> SpareWords();
  void Hand(T_Job job);
  bool HasRoom() const;  // under mQueueMutex
  void Run();
  bool Stopping();
  void Write(const T_Job& job);
  void NoteProgress();
  bool Stalled() const;
  // Everything written so far is acknowledged: the checkpoint moves there.
  void CheckAcknowledged();
  uint64_t NotAcknowledged() const;  // at most, of the records written

  const T_DdsOptions mOptions;
  CDdsParticipant mParticipant;
  dds_entity_t mWriters[eTopicCount] = {};
  dds_entity_t mTfWriter = 0;
  dds_entity_t mDiagnosticsWriter = 0;
  std::atomic<uint32_t> mMatched[eTopicCount] = {};

  // Data path thread only.
  CMessageTimeline mTimeline;
  uint64_t mNextBatch = 0;
  // The serial number the last batch carried, shared by the jobs that carry
  // it: copied again only when the sensor changes.
  std::shared_ptr<const std::string> mSerial = std::make_shared<const std::string>();

  // The hand-over to the publisher's thread, under mQueueMutex. Each wait
  // has its own condition, told only when what it waits for may have come:
  // mWork the publisher's thread (a job queued into an idle thread's queue,
  // or the stop), mProgress the rest (the queue emptied, room made for a
  // hand-over that waits, or the stop).
  std::mutex mQueueMutex;
  std::condition_variable mWork;
  std::condition_variable mProgress;
  std::deque<T_Job> mQueue;
  size_t mQueuedRecords = 0;
  bool mWriting = false;
  bool mAwaitingRoom = false;
  bool mStopping = false;
  std::vector<std::vector<uint16_t>> mSpareWords;
  size_t mSpareCapacity = 0;  // their words
  std::atomic<bool> mSourceWaits{false};
  std::atomic<uint64_t> mDropped{0};         // updates
  std::atomic<uint64_t> mDroppedRecords{0};  // the records in them
  std::atomic<int64_t> mLastProgressNs{0};   // steady clock

  // The publisher's thread alone, until it has been joined: the records
  // written, those given up unwritten, and those every reader had
  // acknowledged at the last look.
  uint64_t mRecordsWritten = 0;
  uint64_t mRecordsNotWritten = 0;
  uint64_t mRecordsAcknowledged = 0;
  int64_t mLastAcknowledgementCheckNs = 0;  // steady clock
  // The last stamps of the IMU topics and of the scans: none goes back.
  std::chrono::system_clock::time_point mLastImuStamp;
  std::chrono::system_clock::time_point mLastScanStamp;

  // The publisher's thread alone: the diagnostics of the sensor.
  CSensorDiagnostics mDiagnostics{mOptions};
  const std::string mDiagnosticsName;
  // The last record the data path handed over, for the diagnostics.
  std::mutex mLastRecordMutex;
  bool mHaveLastRecord = false;
  kiv::T_RawRecord mLastRecord;
  // Where the diagnostics read the sensor's status, under mQueueMutex: set
  // by Attach.
  CDataPath::StatusReader mStatusOf;

  bool mClosed = false;
  std::thread mThread;
};

}  // namespace skarvdds
