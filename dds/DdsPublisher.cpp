#include "DdsPublisher.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <optional>

#include "Diagnostics.h"
#include "RecordSamples.h"
#include "RosMessageTypes.h"
#include "RosMessages.h"
#include "SkarvRecordTypes.h"
#include "ThreadName.h"

namespace skarvdds {

namespace {

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// "skarv-record pid 4242 on robot1": who publishes, for a subscriber's messages.
std::string PublisherName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) {
    std::snprintf(host, sizeof host, "an unnamed host");
  }
  return std::string(program_invocation_short_name) + " pid " + std::to_string(::getpid()) + " on " + host;
}

}  // namespace

CDdsPublisher::CDdsPublisher(const T_DdsOptions& options)
    : mOptions(options),
      mTimeline(options.rangeScale, options.imuRate),
      mDiagnosticsName("skarv: " + options.frameId) {
  std::string error;
  if (!mParticipant.Open(error) || !CreateWriters(error) || !CreateFrameAndHealthWriters(error)) {
    DiagPrintf(EDiagLevel::eAlways, "DDS could not be started: %s. Nothing is published.\n", error.c_str());
    mParticipant.Close();
    return;
  }
  mThread = std::thread([this] {
    NameThisThread("dds publisher");
    Run();
  });
}

CDdsPublisher::~CDdsPublisher() { Close(); }

void CDdsPublisher::Close(const std::function<bool()>& giveUp) {
  if (mClosed) {
    return;
  }
  mClosed = true;
  if (!mThread.joinable()) {
    mParticipant.Close();
    return;
  }
  const auto gaveUp = [&] { return giveUp && giveUp(); };
  // What the data path handed over last still goes out while a reader takes
  // it: the writer makes progress, or nobody reads the records any more.
  NoteProgress();
  bool delivered = false;
  bool stalled = false;
  {
    std::unique_lock<std::mutex> lock(mQueueMutex);
    while (!(mQueue.empty() && !mWriting) && !(stalled = Stalled()) && !gaveUp() && Matched(eRecords) > 0) {
      mProgress.wait_for(lock, std::chrono::milliseconds(50));
    }
    mStopping = true;
  }
  mWork.notify_all();
  mProgress.notify_all();
  mThread.join();
  // Reliable readers get the last samples only while the writer lives: wait
  // for them to acknowledge everything, for as long as they may take (not
  // long when they have stood still already).
  const int64_t waitStart = SteadyNs();
  const int64_t waitNs = int64_t{stalled ? 200 : kStallMs} * 1000000;
  while (Matched(eRecords) > 0 && !gaveUp() && SteadyNs() - waitStart < waitNs) {
    if (dds_wait_for_acks(mWriters[eRecords], DDS_MSECS(50)) == DDS_RETCODE_OK) {
      delivered = true;
      break;
    }
  }
  // The ROS topics keep their last few samples only: what they have is sent
  // while they are waited for, at most briefly.
  for (int topic = 0; topic < eRecords; ++topic) {
    dds_wait_for_acks(mWriters[topic], DDS_MSECS(delivered ? 200 : 0));
  }
  if (delivered) {
    mRecordsAcknowledged = mRecordsWritten;
  }
  uint64_t queued = 0;
  for (const T_Job& job : mQueue) {
    queued += job.Records();
  }
  const uint32_t readers = Matched(eRecords);
  const uint64_t unacknowledged = queued + mRecordsNotWritten + NotAcknowledged();
  const uint64_t dropped = mDroppedRecords.load();
  if ((unacknowledged > 0 && readers > 0) || dropped > 0) {
    const std::string who = readers <= 1 ? "its reader" : "every one of its " + std::to_string(readers) + " readers";
    DiagPrintf(EDiagLevel::eAlways,
               "DDS: up to %" PRIu64 " records of %s were not delivered to %s (%" PRIu64
               " dropped as the readers fell behind, %" PRIu64 " not acknowledged when publishing ended).\n",
               unacknowledged + dropped, TopicName(mOptions.ns, "records").c_str(), who.c_str(), dropped,
               unacknowledged);
  }
  mParticipant.Close();
}

void CDdsPublisher::NoteProgress() { mLastProgressNs = SteadyNs(); }

bool CDdsPublisher::Stalled() const { return SteadyNs() - mLastProgressNs.load() > int64_t{kStallMs} * 1000000; }

void CDdsPublisher::CheckAcknowledged() {
  mLastAcknowledgementCheckNs = SteadyNs();
  if (mRecordsAcknowledged != mRecordsWritten &&
      dds_wait_for_acks(mWriters[eRecords], 0) == DDS_RETCODE_OK) {
    mRecordsAcknowledged = mRecordsWritten;
    NoteProgress();
  }
}

uint64_t CDdsPublisher::NotAcknowledged() const { return mRecordsWritten - mRecordsAcknowledged; }

bool CDdsPublisher::CreateWriters(std::string& error) {
  struct T_Wanted {
    const dds_topic_descriptor_t* type;
    const char* name;
    int32_t depth;
  };
  const int32_t ros = mOptions.sensorDataQos ? kSensorDataHistoryDepth : kRosHistoryDepth;
  const T_Wanted wanted[eTopicCount] = {
      {&sensor_msgs_msg_dds__LaserScan__desc, "scan", ros},
      {&sensor_msgs_msg_dds__Imu__desc, "imu", ros},
      {&sensor_msgs_msg_dds__MagneticField__desc, "mag", ros},
      {&sensor_msgs_msg_dds__Temperature__desc, "imu/temperature", ros},
      {&sensor_msgs_msg_dds__Temperature__desc, "temperature", ros},
      {&skarv_msgs_msg_dds__RawRecordBatch__desc, "records", kKeepAll},
  };
  DiagPrintf(EDiagLevel::eAlways, "DDS QoS: scan, imu, mag, imu/temperature and temperature %s, keep last %d; "
             "records reliable, keep all.\n", mOptions.sensorDataQos ? "best effort" : "reliable", ros);
  for (int topic = 0; topic < eTopicCount; ++topic) {
    const T_Wanted& w = wanted[topic];
    dds_listener_t* listener = dds_create_listener(&mMatched[topic]);
    dds_lset_publication_matched(listener, &CDdsPublisher::OnPublicationMatched);
    T_EndpointExtras extras;
    extras.listener = listener;
    if (topic == eRecords) {
      extras.livelinessMs = kLivelinessMs;
      extras.userData = UserDataEntry(kPublisherKey, PublisherName());
    } else {
      extras.bestEffort = mOptions.sensorDataQos;
    }
    mWriters[topic] = mParticipant.CreateWriter(*w.type, TopicName(mOptions.ns, w.name), w.depth, error, extras);
    dds_delete_listener(listener);
    if (mWriters[topic] <= 0) {
      return false;
    }
  }
  return true;
}

bool CDdsPublisher::CreateFrameAndHealthWriters(std::string& error) {
  // Both topics are ROS 2's own, outside any namespace, and reliable
  // whatever the QoS of the sensor's topics: tf2's static listener and the
  // diagnostics aggregator read them reliably.
  T_EndpointExtras latched;
  latched.transientLocal = true;
  mTfWriter = mParticipant.CreateWriter(tf2_msgs_msg_dds__TFMessage__desc, TopicName("", "tf_static"), 1, error,
                                        latched);
  if (mTfWriter <= 0) {
    return false;
  }
  mDiagnosticsWriter = mParticipant.CreateWriter(diagnostic_msgs_msg_dds__DiagnosticArray__desc,
                                                 TopicName("", "diagnostics"), kRosHistoryDepth, error);
  if (mDiagnosticsWriter <= 0) {
    return false;
  }
  geometry_msgs_msg_dds__TransformStamped_ transform;
  FillMountTransform(mOptions, StampOf(std::chrono::system_clock::now()), transform);
  tf2_msgs_msg_dds__TFMessage_ message{};
  message.transforms = {1, 1, &transform, false};
  const dds_return_t written = dds_write(mTfWriter, &message);
  if (written != DDS_RETCODE_OK) {
    error = std::string("the sensor's transform could not be written: ") + dds_strretcode(written);
    return false;
  }
  return true;
}

bool CDdsPublisher::WriteDiagnostics(const CDataPath::StatusReader& statusOf, double seconds) {
  const std::optional<T_DeviceStatus> read = statusOf();
  if (!read) {
    return false;
  }
  const T_DeviceStatus& status = *read;
  kiv::T_RawRecord last;
  bool haveLast = false;
  {
    std::lock_guard<std::mutex> lock(mLastRecordMutex);
    last = mLastRecord;
    haveLast = mHaveLastRecord;
  }
  const std::optional<T_DiagnosticsReport> report = mDiagnostics.Next(status, haveLast ? &last : nullptr, seconds);
  if (!report) {
    return true;  // the first period begins
  }
  T_DiagnosticArray array;
  BuildDiagnosticArray(*report, mDiagnosticsName, status.Serial, StampOf(std::chrono::system_clock::now()), array);
  dds_write(mDiagnosticsWriter, &array.message);
  return true;
}

void CDdsPublisher::OnPublicationMatched(dds_entity_t, const dds_publication_matched_status_t status, void* count) {
  static_cast<std::atomic<uint32_t>*>(count)->store(status.current_count);
}

bool CDdsPublisher::WaitForReaders(uint32_t readers, std::chrono::milliseconds timeout) const {
  if (!Active()) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    bool all = true;
    for (int topic = 0; topic < eTopicCount; ++topic) {
      all = all && Matched(static_cast<ETopic>(topic)) >= readers;
    }
    if (all) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool CDdsPublisher::WaitForRecordReader(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Active() && Matched(eRecords) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return Active();
}

bool CDdsPublisher::WaitForAcknowledgements(std::chrono::milliseconds timeout) const {
  if (!Active()) {
    return false;
  }
  bool all = true;
  for (dds_entity_t writer : mWriters) {
    all = dds_wait_for_acks(writer, DDS_MSECS(timeout.count())) == DDS_RETCODE_OK && all;
  }
  return all;
}

void CDdsPublisher::Attach(CDataPath& path) {
  if (!Active()) {
    return;
  }
  SetStatusSource(path.StatusSource());
  path.SubscribeRecords(
      [this, &path](std::span<const kiv::T_RawRecord> records) { OnRecords(records, path.SensorSerial()); });
}

void CDdsPublisher::SetStatusSource(CDataPath::StatusReader statusOf) {
  std::lock_guard<std::mutex> lock(mQueueMutex);
  mStatusOf = std::move(statusOf);
}

void CDdsPublisher::OnRecords(std::span<const kiv::T_RawRecord> records, const std::string& serial) {
  if (!Active() || records.empty()) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mLastRecordMutex);
    mLastRecord = records.back();
    mHaveLastRecord = true;
  }
  const bool wantRecords = Matched(eRecords) > 0;
  const bool wantScans = Matched(eScan) > 0;
  const bool wantImu = Matched(eImu) > 0 || Matched(eMag) > 0 || Matched(eImuTemperature) > 0 ||
                       Matched(eTemperature) > 0;
  T_Job job;
  job.now = std::chrono::system_clock::now();
  if (wantRecords) {
    job.hasRecords = true;
    job.batch = mNextBatch++;
    if (*mSerial != serial) {
      mSerial = std::make_shared<const std::string>(serial);
    }
    job.serial = mSerial;
    job.words = SpareWords();
    job.words.resize(records.size() * kWordsPerRecord);
    PackRecords(records, job.words);
  }
  mTimeline.Follow(
      records, job.now,
      [&](const kiv::T_RawRecord& record, uint64_t unitsBeforeNow) {
        if (wantImu) job.imu.push_back(T_ImuSample{record, unitsBeforeNow});
      },
      [&](const T_ScanPoints& points, uint32_t rotationUnits) {
        if (wantScans) job.scans.push_back(T_ScanSample{points, rotationUnits});
      });
  if (job.hasRecords || !job.imu.empty() || !job.scans.empty()) {
    Hand(std::move(job));
  }
}

size_t CDdsPublisher::T_Job::Records() const { return words.size() / kWordsPerRecord; }

std::vector<uint16_t> CDdsPublisher::SpareWords() {
  std::lock_guard<std::mutex> lock(mQueueMutex);
  if (mSpareWords.empty()) {
    return {};
  }
  std::vector<uint16_t> words = std::move(mSpareWords.back());
  mSpareWords.pop_back();
  mSpareCapacity -= words.capacity();
  return words;
}

bool CDdsPublisher::HasRoom() const { return mQueue.size() < kMaxQueuedJobs && mQueuedRecords < kMaxQueuedRecords; }

void CDdsPublisher::Hand(T_Job job) {
  bool wake = false;
  {
    std::unique_lock<std::mutex> lock(mQueueMutex);
    if (!HasRoom() && mSourceWaits.load()) {
      // The source holds its records meanwhile: wait while the writer gets on.
      mAwaitingRoom = true;
      while (!HasRoom() && !Stalled() && !mStopping) {
        mProgress.wait_for(lock, std::chrono::milliseconds(50));
      }
      mAwaitingRoom = false;
    }
    if (!HasRoom() || mStopping) {
      mDroppedRecords += job.Records();
      if (mDropped.fetch_add(1) == 0) {
        DiagPrintf(EDiagLevel::eAlways, "DDS publishing falls behind the sensor: updates are being dropped.\n");
      }
      return;
    }
    // The publisher's thread waits only when it has nothing to do; a thread
    // at work looks at the queue again before it waits.
    wake = mQueue.empty() && !mWriting;
    mQueuedRecords += job.Records();
    mQueue.push_back(std::move(job));
  }
  if (wake) {
    mWork.notify_one();
  }
}

bool CDdsPublisher::Stopping() {
  std::lock_guard<std::mutex> lock(mQueueMutex);
  return mStopping;
}

void CDdsPublisher::Drain() {
  std::unique_lock<std::mutex> lock(mQueueMutex);
  mProgress.wait(lock, [this] { return (mQueue.empty() && !mWriting) || mStopping; });
}

void CDdsPublisher::Run() {
  using Clock = std::chrono::steady_clock;
  auto lastReport = Clock::now();
  auto nextReport = lastReport;
  std::unique_lock<std::mutex> lock(mQueueMutex);
  while (true) {
    mWork.wait_until(lock, nextReport, [this] { return !mQueue.empty() || mStopping; });
    if (mStopping) {
      return;
    }
    const auto now = Clock::now();
    if (now >= nextReport) {
      // Once a second, between jobs; a thread that was held up does not
      // make up the reports it missed.
      const CDataPath::StatusReader statusOf = mStatusOf;
      lock.unlock();
      // The period is the one since the last report made.
      if (statusOf && WriteDiagnostics(statusOf, std::chrono::duration<double>(now - lastReport).count())) {
        lastReport = now;
      }
      nextReport = std::max(nextReport + std::chrono::seconds(1), now + std::chrono::milliseconds(500));
      lock.lock();
      continue;
    }
    T_Job job = std::move(mQueue.front());
    mQueue.pop_front();
    mQueuedRecords -= job.Records();
    mWriting = true;
    lock.unlock();
    Write(job);
    NoteProgress();
    lock.lock();
    mWriting = false;
    if (mSpareCapacity + job.words.capacity() <= kMaxSpareWords) {
      mSpareCapacity += job.words.capacity();
      mSpareWords.push_back(std::move(job.words));
    }
    // Those waiting for the queue to empty, or for room in it; nobody else.
    if (mQueue.empty() || mAwaitingRoom) {
      mProgress.notify_all();
    }
  }
}

void CDdsPublisher::Write(const T_Job& job) {
  const char* frameId = mOptions.frameId.c_str();
  const char* imuFrameId = mOptions.ImuFrame().c_str();
  if (job.hasRecords) {
    skarv_msgs_msg_dds__RawRecordBatch_ batch{};
    batch.header = std_msgs_msg_dds__Header_{StampOf(job.now), const_cast<char*>(frameId)};
    batch.batch = job.batch;
    const uint32_t words = static_cast<uint32_t>(job.words.size());
    batch.words = dds_sequence_uint16{words, words, const_cast<uint16_t*>(job.words.data()), false};
    batch.serial = const_cast<char*>(job.serial->c_str());
    const uint64_t n = job.Records();
    // A reader that falls behind makes the write wait for room; the data
    // path goes on meanwhile, its updates queued for this thread.
    if (SteadyNs() - mLastAcknowledgementCheckNs >= int64_t{kAcknowledgementCheckMs} * 1000000) {
      CheckAcknowledged();
    }
    dds_return_t written = DDS_RETCODE_TIMEOUT;
    while ((written = dds_write(mWriters[eRecords], &batch)) == DDS_RETCODE_TIMEOUT && !Stopping()) {
      CheckAcknowledged();
    }
    if (written == DDS_RETCODE_OK) {
      mRecordsWritten += n;
    } else {
      mRecordsNotWritten += n;  // given up at the close, or refused by DDS
    }
  }
  for (const T_ImuSample& sample : job.imu) {
    const auto stamp = StampOf(NotBefore(Before(job.now, sample.unitsBeforeNow), mLastImuStamp));
    sensor_msgs_msg_dds__Imu_ imu;
    FillImu(sample.words, mOptions, imuFrameId, stamp, imu);
    dds_write(mWriters[eImu], &imu);
    sensor_msgs_msg_dds__MagneticField_ mag;
    FillMagneticField(sample.words, mOptions, imuFrameId, stamp, mag);
    dds_write(mWriters[eMag], &mag);
    sensor_msgs_msg_dds__Temperature_ temperature;
    FillImuTemperature(sample.words, mOptions, imuFrameId, stamp, temperature);
    dds_write(mWriters[eImuTemperature], &temperature);
    FillLaserTemperature(sample.words, frameId, stamp, temperature);
    dds_write(mWriters[eTemperature], &temperature);
  }
  for (const T_ScanSample& sample : job.scans) {
    T_LaserScan scan;
    BuildLaserScan(sample.points, StampOf(NotBefore(sample.points.stamp, mLastScanStamp)), sample.rotationUnits,
                   mOptions.rangeScale, frameId, scan);
    dds_write(mWriters[eScan], &scan.message);
  }
}

}  // namespace skarvdds
