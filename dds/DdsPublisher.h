#pragma once
// Publishes the sensor on DDS under ROS 2's names, fed by the data path:
//   scan             sensor_msgs/LaserScan, one per completed scan
//   imu, mag         sensor_msgs/Imu (no orientation), sensor_msgs/MagneticField
//   imu/temperature  sensor_msgs/Temperature of the IMU
//   temperature      sensor_msgs/Temperature of the laser
//   records          skarv_msgs/RecordBatch, every record of each update
// The IMU topics go out at the IMU rate of sensor time (the records' DeltTime
// summed), each from the record at that moment. ROS topics are reliable,
// volatile, keep last 10; records keep all, so that a reliable reader that
// keeps up loses nothing: a reader that falls behind makes the writer wait.
//
// The data path's callbacks only copy what a matched reader will want and
// hand it to the publisher's own thread, which writes it; with no reader
// they only keep count of time. DDS that cannot start is reported in one
// line and nothing is published.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "DataPath.h"
#include "DdsEntities.h"
#include "DdsOptions.h"
#include "PlaybackRecord.h"
#include "SkarvRecordTypes.h"

namespace skarvdds {

class CDdsPublisher {
 public:
  // Jobs waiting for the publisher's thread beyond which an update is dropped.
  static constexpr size_t kMaxQueuedJobs = 4000;
  // At the end, how long the last updates may take to be written, and then
  // acknowledged by the readers.
  static constexpr int kClosingMs = 2000;

  explicit CDdsPublisher(const T_DdsOptions& options);
  ~CDdsPublisher();
  CDdsPublisher(const CDdsPublisher&) = delete;
  CDdsPublisher& operator=(const CDdsPublisher&) = delete;

  bool Active() const { return mParticipant.IsOpen(); }
  // Subscribes to the data path's records and scans (before it starts).
  void Attach(CDataPath& path);

  // The data path's subscribers, on its thread.
  void OnRecords(std::span<const kiv::T_Record> records);
  void OnScan(std::shared_ptr<const T_Scan> scan);

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
    sim::T_PlaybackRecord words;
    uint64_t unitsBeforeNow;  // sensor time from this record to the batch's last
  };
  struct T_Job {
    std::chrono::system_clock::time_point now;
    bool hasRecords = false;
    uint64_t batch = 0;
    std::vector<skarv_msgs_msg_dds__SampleRecord_> records;
    std::vector<T_ImuSample> imu;
    std::shared_ptr<const T_Scan> scan;
    uint32_t rotationUnits = 0;
    uint64_t scanStartUnitsBeforeNow = 0;
  };

  enum ETopic { eScan, eImu, eMag, eImuTemperature, eTemperature, eRecords, eTopicCount };

  bool CreateWriters(std::string& error);
  // Readers matched now, as the writer's listener last reported: the data
  // path reads these instead of asking DDS, whose writer may be busy.
  uint32_t Matched(ETopic topic) const { return mMatched[topic].load(); }
  static void OnPublicationMatched(dds_entity_t writer, const dds_publication_matched_status_t status, void* count);
  void Hand(T_Job job);
  void Run();
  bool Stopping();
  void Write(const T_Job& job);

  const T_DdsOptions mOptions;
  CDdsParticipant mParticipant;
  dds_entity_t mWriters[eTopicCount] = {};
  std::atomic<uint32_t> mMatched[eTopicCount] = {};

  // Data path thread only.
  uint64_t mUnitsSinceScanEdge = 0;  // sensor time since the last scan-state change
  uint32_t mLastRotationUnits = 0;   // sensor time of the last completed rotation
  int mLastScanState = -1;
  uint64_t mImuPeriodUnits = 1000;
  uint64_t mUnitsSinceImu = 0;
  uint64_t mNextBatch = 0;

  // The hand-over to the publisher's thread, under mQueueMutex.
  std::mutex mQueueMutex;
  std::condition_variable mQueueChanged;
  std::deque<T_Job> mQueue;
  bool mWriting = false;
  bool mStopping = false;
  std::atomic<uint64_t> mDropped{0};
  std::thread mThread;
};

}  // namespace skarvdds
