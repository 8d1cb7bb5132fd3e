#include "McapRecording.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "CdrWriter.h"
#include "MessageDefinition.h"
#include "RecordSamples.h"
#include "RosCdr.h"
#include "RosTypeDescriptions.h"

namespace skarvmcap {

namespace {

enum EChannel { eScan, eImu, eMag, eImuTemperature, eTemperature, eRecords };

// The QoS a ROS 2 recorder notes for each topic (rosbag2's
// offered_qos_profiles), so that a player offers the topic as it was:
// history keep last (1) or keep all (2), reliable (1) or best effort (2),
// volatile (2), automatic liveliness (1), the durations infinite.
std::string OfferedQos(bool keepAll, bool bestEffort, int depth) {
  const char* infinite = "\n    sec: 2147483647\n    nsec: 4294967295";
  return std::string("- history: ") + (keepAll ? "2" : "1") + "\n  depth: " + std::to_string(depth) +
         "\n  reliability: " + (bestEffort ? "2" : "1") + "\n  durability: 2\n  deadline:" + infinite +
         "\n  lifespan:" + infinite + "\n  liveliness: 1\n  liveliness_lease_duration:" + infinite +
         "\n  avoid_ros_namespace_conventions: false";
}

uint64_t Nanoseconds(std::chrono::system_clock::time_point time) {
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
  return ns > 0 ? static_cast<uint64_t>(ns) : 0;
}

uint64_t Nanoseconds(builtin_interfaces_msg_dds__Time_ stamp) {
  return stamp.sec < 0 ? 0 : static_cast<uint64_t>(stamp.sec) * 1000000000u + stamp.nanosec;
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

}  // namespace

CMcapRecording::CMcapRecording(const skarvdds::T_DdsOptions& options, std::string version)
    : mOptions(options), mVersion(std::move(version)), mTimeline(options.rangeScale, options.imuRate) {}

CMcapRecording::~CMcapRecording() { Close(); }

int CMcapRecording::Open(const std::string& path) {
  mPath = path;
  mError.clear();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int error = errno;
    mError = "File " + path + " could not be opened: " + std::strerror(error);
    return error;
  }
  mWriter = std::make_unique<CMcapWriter>(fd, "ros2", "skarv " + mVersion);
  struct T_Topic {
    const char* topic;
    const char* type;
    bool keepAll;
  };
  static constexpr T_Topic kTopics[] = {
      {"scan", "sensor_msgs/msg/LaserScan", false},
      {"imu", "sensor_msgs/msg/Imu", false},
      {"mag", "sensor_msgs/msg/MagneticField", false},
      {"imu/temperature", "sensor_msgs/msg/Temperature", false},
      {"temperature", "sensor_msgs/msg/Temperature", false},
      {"records", "skarv_msgs/msg/RawRecordBatch", true},
  };
  uint16_t temperatureSchema = 0;
  for (size_t i = 0; i < std::size(kTopics); ++i) {
    const T_Topic& topic = kTopics[i];
    uint16_t schema = i == eTemperature ? temperatureSchema : 0;
    if (schema == 0) {
      std::string error;
      schema = mWriter->AddSchema(topic.type, "ros2msg",
                                  skarvdds::MessageDefinition(topic.type, skarvdds::RosTypeDescriptions(), error));
    }
    if (i == eImuTemperature) temperatureSchema = schema;
    const bool bestEffort = mOptions.sensorDataQos && !topic.keepAll;
    const int depth = topic.keepAll ? 0 : (mOptions.sensorDataQos ? 5 : 10);
    // The ROS 2 name of the DDS topic: "/scan", or "/NS/scan" under a namespace.
    const std::string name = skarvdds::TopicName(mOptions.ns, topic.topic).substr(2);
    mChannels[i] = mWriter->AddChannel(schema, name, "cdr",
                                       {{"offered_qos_profiles", OfferedQos(topic.keepAll, bestEffort, depth)}});
  }
  mRecords = 0;
  mMessages = 0;
  mBatch = 0;
  if (const int error = mWriter->Error(); error != 0) {
    Stop(error);
    return error;
  }
  return 0;
}

void CMcapRecording::Stop(int error) {
  mError = "Recording to " + mPath + " stopped: " + std::strerror(error) +
           (error == ENOSPC || error == EDQUOT ? " (disk full)" : "");
  mMessages = mWriter->Messages();
  mWriter->Abandon();
  mWriter.reset();
}

void CMcapRecording::WriteMessage(uint16_t channel, uint64_t logTime, uint64_t publishTime) {
  if (!mWriter) return;
  uint64_t& last = mLastLogTime[channel - 1];
  last = std::max(last, logTime);
  if (!mWriter->Write(channel, last, publishTime, mBytes)) Stop(mWriter->Error());
}

void CMcapRecording::Add(std::span<const kiv::T_RawRecord> records, std::chrono::system_clock::time_point now,
                         const std::string& serial) {
  if (!mWriter || records.empty()) return;
  mSerial = serial;
  const std::string& frame = mOptions.frameId;
  const std::string& imuFrame = mOptions.ImuFrame();
  // The host time the update's records came in by: the last one's.
  const uint64_t arrived = records.back().hostTimeNs > 0 ? static_cast<uint64_t>(records.back().hostTimeNs)
                                                          : Nanoseconds(now);
  const auto batchStamp = skarvdds::StampOf(now);
  mWords.resize(records.size() * skarvdds::kWordsPerRecord);
  skarvdds::PackRecords(records, mWords);
  skarv_msgs_msg_dds__RawRecordBatch_ batch{};
  batch.header = std_msgs_msg_dds__Header_{batchStamp, const_cast<char*>(frame.c_str())};
  batch.batch = mBatch++;
  const uint32_t words = static_cast<uint32_t>(mWords.size());
  batch.words = dds_sequence_uint16{words, words, mWords.data(), false};
  batch.serial = const_cast<char*>(serial.c_str());
  SerializeRecordBatch(batch, mBytes);
  WriteMessage(mChannels[eRecords], arrived, Nanoseconds(batchStamp));
  mRecords += records.size();

  mTimeline.Follow(
      records, now,
      [&](const kiv::T_RawRecord& record, uint64_t unitsBeforeNow) {
        const uint64_t taken = record.hostTimeNs > 0 ? static_cast<uint64_t>(record.hostTimeNs) : arrived;
        const auto stamp = skarvdds::StampOf(
            skarvdds::NotBefore(skarvdds::Before(now, unitsBeforeNow), mLastImuStamp));
        const uint64_t published = Nanoseconds(stamp);
        sensor_msgs_msg_dds__Imu_ imu;
        skarvdds::FillImu(record, mOptions, imuFrame.c_str(), stamp, imu);
        SerializeImu(imu, mBytes);
        WriteMessage(mChannels[eImu], taken, published);
        sensor_msgs_msg_dds__MagneticField_ mag;
        skarvdds::FillMagneticField(record, mOptions, imuFrame.c_str(), stamp, mag);
        SerializeMagneticField(mag, mBytes);
        WriteMessage(mChannels[eMag], taken, published);
        sensor_msgs_msg_dds__Temperature_ temperature;
        skarvdds::FillImuTemperature(record, mOptions, imuFrame.c_str(), stamp, temperature);
        SerializeTemperature(temperature, mBytes);
        WriteMessage(mChannels[eImuTemperature], taken, published);
        skarvdds::FillLaserTemperature(record, frame.c_str(), stamp, temperature);
        SerializeTemperature(temperature, mBytes);
        WriteMessage(mChannels[eTemperature], taken, published);
      },
      [&](const skarvdds::T_ScanPoints& points, uint32_t rotationUnits) {
        const auto stamp = skarvdds::StampOf(skarvdds::NotBefore(points.stamp, mLastScanStamp));
        skarvdds::BuildLaserScan(points, stamp, rotationUnits, mOptions.rangeScale, frame.c_str(), mScan);
        SerializeLaserScan(mScan.message, mBytes);
        WriteMessage(mChannels[eScan], arrived, Nanoseconds(stamp));
      });
}

bool CMcapRecording::Close() {
  if (!mWriter) return mError.empty();
  mWriter->AddMetadata("skarv", {{"serial", mSerial},
                                 {"version", mVersion},
                                 {"range_scale", Number(mOptions.rangeScale)},
                                 {"accel_scale", Number(mOptions.accelScale)},
                                 {"gyro_scale", Number(mOptions.gyroScale)},
                                 {"mag_scale", Number(mOptions.magScale)},
                                 {"imu_temperature_scale", Number(mOptions.imuTempScale)},
                                 {"imu_temperature_offset", Number(mOptions.imuTempOffset)},
                                 {"imu_rate", Number(mOptions.imuRate)}});
  mMessages = mWriter->Messages();
  const bool finished = mWriter->Finish();
  const int error = mWriter->Error();
  if (!finished) {
    mError = "Recording to " + mPath + " stopped: " + std::strerror(error);
  }
  mWriter.reset();
  return finished;
}

}  // namespace skarvmcap
