// skarv-record publishing the virtual sensor, read by Fast DDS as a ROS 2
// node on rmw_fastrtps reads it: every topic arrives in plain little-endian
// CDR, and every field is what the README says for the records of the same
// run (the recording skarv-record wrote beside publishing). Once with the
// default QoS and its options, once with --qos sensor-data and every option
// that changes a message set.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "FastDdsNode.h"
#include "InteropSupport.h"
#include "RecordWords.h"
#include "RosExpectations.h"
#include "RosWireTypesPubSubTypes.h"
#include "SampleRecord.h"
#include "TopicCollector.h"

namespace {

using namespace interop;
using namespace std::chrono;
namespace msgs = sensor_msgs::msg::dds_;
using Clock = system_clock;

// One run's QoS and options, and the values they give the messages.
struct T_Run {
  const char* name;
  uint32_t domain;
  const char* qos;
  T_RosQos rosQos;
  std::vector<std::string> options;
  std::string frame = "skarv";
  std::string imuFrame = "skarv";
  std::string parentFrame = "base_link";
  std::array<double, 6> mount{};  // x, y, z in metres, roll, pitch, yaw in radians
  double rangeScale = 0.01;
  double accelScale = 9.80665 / 16384;
  double gyroScale = M_PI / 180 / 131;
  double magScale = 0.15e-6;
  double imuTempScale = 1 / 188.89;
  double imuRate = 100;
};

void PrintTo(const T_Run& run, std::ostream* out) { *out << run.name; }

const T_Run kDefaultRun{"reliable", 71, "reliable", kRosDefaultQos, {}};
const T_Run kSensorDataRun{"sensor_data",
                           72,
                           "sensor-data",
                           kRosSensorDataQos,
                           {"--frame-id", "laser_front", "--imu-frame-id", "imu_front", "--parent-frame", "chassis",
                            "--mount", "0.1,-0.2,0.3,0.05,-0.1,1.5", "--range-scale", "0.001", "--accel-scale",
                            "0.001", "--gyro-scale", "0.002", "--mag-scale", "1e-7", "--imu-temp-scale", "0.01",
                            "--imu-rate", "50"},
                           "laser_front",
                           "imu_front",
                           "chassis",
                           {0.1, -0.2, 0.3, 0.05, -0.1, 1.5},
                           0.001,
                           0.001,
                           0.002,
                           1e-7,
                           0.01,
                           50};

constexpr T_RosQos kRecordsQos{true, false, 0};
constexpr T_RosQos kStaticTransformQos{true, true, 1};
constexpr const char* kSerial = "SKV00001";  // the virtual sensor's
constexpr uint8_t kLevelOk = 0, kLevelWarn = 1, kLevelError = 2;  // DiagnosticStatus's

Clock::time_point TimeOf(const builtin_interfaces::msg::dds_::Time_& stamp) {
  return Clock::time_point(duration_cast<Clock::duration>(seconds(stamp.sec()) + nanoseconds(stamp.nanosec())));
}
int64_t Ns(const builtin_interfaces::msg::dds_::Time_& stamp) {
  return int64_t{stamp.sec()} * 1000000000 + stamp.nanosec();
}
bool Same(double a, double b) { return std::fabs(a - b) <= 1e-12 * std::max(1.0, std::fabs(a)); }
double Signed(uint16_t word) { return static_cast<int16_t>(word); }
double ImuTemperature(const kiv::T_RawRecord& r, const T_Run& run) {
  return Signed(r.imu[kiv::eIMUTemp]) * run.imuTempScale + 95.0;
}
double LaserTemperature(const kiv::T_RawRecord& r) { return r.rawAnaTemp * 0.01162 - 27.0; }
double SupplyVoltage(const kiv::T_RawRecord& r) { return r.rawSupplyVoltage * 0.0022711 + 1.06; }

class FastDdsReader : public ::testing::TestWithParam<T_Run> {
 protected:
  // Every stamp in the run's time, and later than the one before it.
  template <typename Messages, typename Stamp>
  void ExpectStampsAdvance(const Messages& messages, Stamp stamp, const char* topic) {
    int64_t previous = 0;
    for (const auto& m : messages) {
      const auto& time = stamp(m);
      EXPECT_GT(Ns(time), previous) << topic;
      EXPECT_GE(TimeOf(time), started - seconds(1)) << topic;
      EXPECT_LE(TimeOf(time), ended + seconds(1)) << topic;
      previous = Ns(time);
    }
  }
  template <typename Collector>
  void ExpectPlainLittleEndianCdr(const Collector& collector, const char* topic) {
    EXPECT_EQ(collector.Encapsulations(), std::set<uint16_t>{kPlainCdrLittleEndian}) << topic;
  }

  void CheckRecords(const std::vector<skarv_msgs::msg::dds_::RawRecordBatch_>& batches);
  void CheckScans(const std::vector<msgs::LaserScan_>& scans);
  void CheckImu(const std::vector<msgs::Imu_>& imus, const std::vector<msgs::MagneticField_>& mags,
                const std::vector<msgs::Temperature_>& imuTemperatures,
                const std::vector<msgs::Temperature_>& laserTemperatures);
  void CheckStaticTransform(const std::vector<tf2_msgs::msg::dds_::TFMessage_>& messages);
  void CheckDiagnostics(const std::vector<diagnostic_msgs::msg::dds_::DiagnosticArray_>& arrays);

  // Of a best-effort topic some samples may be lost on the way; a reliable
  // reader that keeps up gets them all.
  void ExpectReceived(size_t received, size_t expected, const char* topic) {
    if (GetParam().rosQos.reliable) {
      EXPECT_EQ(received, expected) << topic;
    } else {
      EXPECT_GE(received * 10, expected * 9) << topic << ": " << received << " of " << expected;
    }
  }

  std::vector<kiv::T_RawRecord> records;  // the run's recording
  Clock::time_point started, ended;
};

TEST_P(FastDdsReader, EveryTopicArrivesInPlainCdrWithEveryFieldAsTheRecordsSay) {
  const T_Run& run = GetParam();
  UseLoopback(run.domain);
  const std::string ns = std::string("fastdds_") + run.name + std::to_string(getpid());
  CFastDdsNode node(run.domain);
  ASSERT_TRUE(node.Ok());
  const std::string at = "rt/" + ns + "/";
  CTopicCollector<msgs::LaserScan_PubSubType> scans(node, at + "scan", run.rosQos);
  CTopicCollector<msgs::Imu_PubSubType> imus(node, at + "imu", run.rosQos);
  CTopicCollector<msgs::MagneticField_PubSubType> mags(node, at + "mag", run.rosQos);
  CTopicCollector<msgs::Temperature_PubSubType> imuTemperatures(node, at + "imu/temperature", run.rosQos);
  CTopicCollector<msgs::Temperature_PubSubType> laserTemperatures(node, at + "temperature", run.rosQos);
  CTopicCollector<skarv_msgs::msg::dds_::RawRecordBatch_PubSubType> batches(node, at + "records", kRecordsQos);
  CTopicCollector<tf2_msgs::msg::dds_::TFMessage_PubSubType> transforms(node, "rt/tf_static", kStaticTransformQos);
  // Diagnostics go reliably whatever the QoS of the sensor's topics.
  CTopicCollector<diagnostic_msgs::msg::dds_::DiagnosticArray_PubSubType> diagnostics(node, "rt/diagnostics",
                                                                                       kRosDefaultQos);
  for (bool ok : {scans.Ok(), imus.Ok(), mags.Ok(), imuTemperatures.Ok(), laserTemperatures.Ok(), batches.Ok(),
                  transforms.Ok(), diagnostics.Ok()}) {
    ASSERT_TRUE(ok);
  }

  started = Clock::now();
  std::vector<std::string> arguments{"--simulate", "--duration", "3", "--quiet", "--publish",
                                     "--namespace", ns, "--qos", run.qos};
  arguments.insert(arguments.end(), run.options.begin(), run.options.end());
  CClientProcess recorder(Recorder(arguments));
  // A reader that comes once the sensor streams still gets the static
  // transform, as tf2's listeners do.
  ASSERT_TRUE(WaitUntil([&] { return batches.Count() > 0; }, seconds(30))) << recorder.Errors();
  CTopicCollector<tf2_msgs::msg::dds_::TFMessage_PubSubType> lateTransforms(node, "rt/tf_static",
                                                                            kStaticTransformQos);
  ASSERT_EQ(ExitStatus(recorder), 0) << recorder.Errors();
  ended = Clock::now();
  std::string error;
  records = ReadRecording(recorder.WorkDir() / "SkarvData-1.csv", error);
  ASSERT_EQ(error, "");
  ASSERT_GT(records.size(), 20000u);
  // The publisher ends once its readers have acknowledged every record.
  const auto wordsReceived = [&] {
    size_t words = 0;
    for (const auto& batch : batches.Samples()) words += batch.words().size();
    return words;
  };
  EXPECT_EQ(wordsReceived(), records.size() * kWordsPerRecord);
  EXPECT_TRUE(WaitUntil([&] { return lateTransforms.Count() > 0; }, seconds(10))) << "rt/tf_static, joining late";

  CheckRecords(batches.Samples());
  CheckScans(scans.Samples());
  CheckImu(imus.Samples(), mags.Samples(), imuTemperatures.Samples(), laserTemperatures.Samples());
  CheckStaticTransform(transforms.Samples());
  CheckStaticTransform(lateTransforms.Samples());
  CheckDiagnostics(diagnostics.Samples());
  ExpectPlainLittleEndianCdr(scans, "scan");
  ExpectPlainLittleEndianCdr(imus, "imu");
  ExpectPlainLittleEndianCdr(mags, "mag");
  ExpectPlainLittleEndianCdr(imuTemperatures, "imu/temperature and temperature");
  ExpectPlainLittleEndianCdr(batches, "records");
  ExpectPlainLittleEndianCdr(transforms, "tf_static");
  ExpectPlainLittleEndianCdr(diagnostics, "diagnostics");
}

// Every record of the recording, in batches numbered from 0.
void FastDdsReader::CheckRecords(const std::vector<skarv_msgs::msg::dds_::RawRecordBatch_>& batches) {
  std::vector<uint16_t> words;
  for (size_t k = 0; k < batches.size(); ++k) {
    const auto& batch = batches[k];
    EXPECT_EQ(batch.batch(), k);
    EXPECT_EQ(batch.header().frame_id(), GetParam().frame);
    EXPECT_EQ(batch.serial(), kSerial);
    EXPECT_EQ(batch.words().size() % kWordsPerRecord, 0u) << "batch " << k;
    words.insert(words.end(), batch.words().begin(), batch.words().end());
  }
  ExpectStampsAdvance(batches, [](const auto& m) { return m.header().stamp(); }, "records");
  ASSERT_EQ(words.size(), records.size() * kWordsPerRecord);
  for (size_t i = 0; i < records.size(); ++i) {
    kiv::T_RawRecord received = RecordAt(words, i * kWordsPerRecord);
    received.auxWord = 0;  // which the recording does not hold
    ASSERT_TRUE(received.SameWords(records[i])) << "record " << i << " (count " << records[i].count << ")";
  }
}

// Each scan 2000 points over a whole turn from -180 degrees, the record of
// each point where the README's geometry puts it, in metres, +Inf out of
// range (and for a distance of 0, no return), NaN where no record came;
// the widths as intensities, 0 where there is no range.
void FastDdsReader::CheckScans(const std::vector<msgs::LaserScan_>& scans) {
  const T_Run& run = GetParam();
  const std::vector<T_ExpectedScan> expected = ExpectedScans(records);
  ASSERT_GE(expected.size(), 5u);
  for (const auto& scan : scans) {
    ASSERT_EQ(scan.ranges().size(), kScanPoints);
    ASSERT_EQ(scan.intensities().size(), kScanPoints);
    EXPECT_EQ(scan.header().frame_id(), run.frame);
    EXPECT_GE(double{scan.angle_min()}, -M_PI);
    EXPECT_NEAR(scan.angle_min(), -M_PI, 1e-6);
    EXPECT_FLOAT_EQ(scan.angle_increment(), static_cast<float>(2 * M_PI / kScanPoints));
    EXPECT_LE(double{scan.angle_max()}, M_PI);
    EXPECT_NEAR(scan.angle_max(), scan.angle_min() + (kScanPoints - 1) * double{scan.angle_increment()}, 1e-5);
    EXPECT_FLOAT_EQ(scan.range_max(), static_cast<float>(2000 * run.rangeScale));
    EXPECT_GT(scan.range_min(), 0.0f);
    EXPECT_LT(scan.range_min(), scan.range_max());
  }
  ExpectStampsAdvance(scans, [](const auto& m) { return m.header().stamp(); }, "scan");
  const auto matches = [&](const msgs::LaserScan_& scan, const T_ExpectedScan& e) {
    std::vector<bool> filled(kScanPoints, false);
    for (const auto& [i, p] : e.points) {
      const kiv::T_RawRecord& r = records[i];
      const double distance = r.rawDistance * kiv::kScaleRawLaserDistance;
      const bool noRange = distance <= 0.0 || distance > 2000.0 || r.width > 300;
      const float range = noRange ? std::numeric_limits<float>::infinity()
                                  : static_cast<float>(distance * run.rangeScale);
      const float intensity = noRange ? 0.0f : static_cast<float>(r.width);
      if (scan.ranges()[p] != range || scan.intensities()[p] != intensity) return false;
      filled[p] = true;
    }
    for (uint32_t p = 0; p < kScanPoints; ++p) {
      if (!filled[p] && (!std::isnan(scan.ranges()[p]) || scan.intensities()[p] != 0.0f)) return false;
    }
    return true;
  };
  const std::vector<size_t> matched = MatchInOrder(
      scans.size(), expected.size(), [&](size_t j, size_t k) { return matches(scans[j], expected[k]); });
  ASSERT_EQ(matched.size(), scans.size()) << "a scan that is none of the records' scans, in order";
  ExpectReceived(scans.size(), expected.size(), "scan");
  for (size_t j = 0; j < scans.size(); ++j) {
    const T_ExpectedScan& e = expected[matched[j]];
    EXPECT_FLOAT_EQ(scans[j].scan_time(), static_cast<float>(e.rotationUnits * kSecondsPerUnit))
        << "scan " << matched[j];
    EXPECT_FLOAT_EQ(scans[j].time_increment(), static_cast<float>(e.unitsPerRecord * kSecondsPerUnit))
        << "scan " << matched[j];
  }
}

// Each IMU sample at its moment of sensor time, from the record of that
// moment: the four topics carry the same sample with the same stamp.
void FastDdsReader::CheckImu(const std::vector<msgs::Imu_>& imus, const std::vector<msgs::MagneticField_>& mags,
                             const std::vector<msgs::Temperature_>& imuTemperatures,
                             const std::vector<msgs::Temperature_>& laserTemperatures) {
  const T_Run& run = GetParam();
  const std::vector<size_t> samples = ImuSampleRecords(records, run.imuRate);
  ASSERT_GE(samples.size(), 40u);
  const auto word = [&](size_t k, int channel) { return Signed(records[samples[k]].imu[channel]); };
  const std::vector<size_t> imuMatched = MatchInOrder(imus.size(), samples.size(), [&](size_t j, size_t k) {
    const auto& m = imus[j];
    return Same(m.linear_acceleration().x(), word(k, kiv::eAccelX) * run.accelScale) &&
           Same(m.linear_acceleration().y(), word(k, kiv::eAccelY) * run.accelScale) &&
           Same(m.linear_acceleration().z(), word(k, kiv::eAccelZ) * run.accelScale) &&
           Same(m.angular_velocity().x(), word(k, kiv::eGyroX) * run.gyroScale) &&
           Same(m.angular_velocity().y(), word(k, kiv::eGyroY) * run.gyroScale) &&
           Same(m.angular_velocity().z(), word(k, kiv::eGyroZ) * run.gyroScale);
  });
  ASSERT_EQ(imuMatched.size(), imus.size()) << "an Imu that is none of the records' samples, in order";
  ExpectReceived(imus.size(), samples.size(), "imu");
  std::map<int64_t, size_t> sampleAt;  // by stamp
  for (size_t j = 0; j < imus.size(); ++j) {
    const auto& m = imus[j];
    sampleAt[Ns(m.header().stamp())] = imuMatched[j];
    EXPECT_EQ(m.header().frame_id(), run.imuFrame);
    EXPECT_EQ(m.orientation().x(), 0.0);
    EXPECT_EQ(m.orientation().y(), 0.0);
    EXPECT_EQ(m.orientation().z(), 0.0);
    EXPECT_EQ(m.orientation().w(), 1.0);
    EXPECT_EQ(m.orientation_covariance()[0], -1.0) << "no orientation";
    for (int i = 0; i < 9; ++i) {
      if (i > 0) {
        EXPECT_EQ(m.orientation_covariance()[i], 0.0);
      }
      EXPECT_EQ(m.angular_velocity_covariance()[i], 0.0);
      EXPECT_EQ(m.linear_acceleration_covariance()[i], 0.0);
    }
  }
  ExpectStampsAdvance(imus, [](const auto& m) { return m.header().stamp(); }, "imu");

  const std::vector<size_t> magMatched = MatchInOrder(mags.size(), samples.size(), [&](size_t j, size_t k) {
    const auto& field = mags[j].magnetic_field();
    return Same(field.x(), word(k, kiv::eMagX) * run.magScale) &&
           Same(field.y(), word(k, kiv::eMagY) * run.magScale) && Same(field.z(), word(k, kiv::eMagZ) * run.magScale);
  });
  ASSERT_EQ(magMatched.size(), mags.size()) << "a MagneticField that is none of the records' samples, in order";
  ExpectReceived(mags.size(), samples.size(), "mag");
  for (size_t j = 0; j < mags.size(); ++j) {
    EXPECT_EQ(mags[j].header().frame_id(), run.imuFrame);
    for (double c : mags[j].magnetic_field_covariance()) EXPECT_EQ(c, 0.0);
    const auto found = sampleAt.find(Ns(mags[j].header().stamp()));
    if (found != sampleAt.end()) {
      EXPECT_EQ(found->second, magMatched[j]) << "the Imu of the same stamp";
    }
  }
  ExpectStampsAdvance(mags, [](const auto& m) { return m.header().stamp(); }, "mag");

  // The temperatures change too seldom to tell their samples apart: each is
  // the sample of the Imu with its stamp.
  const auto checkTemperatures = [&](const std::vector<msgs::Temperature_>& temperatures, const char* topic,
                                     const std::string& frame, auto expectedOf) {
    ExpectReceived(temperatures.size(), samples.size(), topic);
    size_t found = 0;
    for (const auto& m : temperatures) {
      EXPECT_EQ(m.header().frame_id(), frame) << topic;
      EXPECT_EQ(m.variance(), 0.0) << topic;
      const auto sample = sampleAt.find(Ns(m.header().stamp()));
      if (sample == sampleAt.end()) continue;
      ++found;
      EXPECT_TRUE(Same(m.temperature(), expectedOf(records[samples[sample->second]])))
          << topic << " " << m.temperature() << " at sample " << sample->second;
    }
    ExpectReceived(found, temperatures.size(), topic);
    ExpectStampsAdvance(temperatures, [](const auto& m) { return m.header().stamp(); }, topic);
  };
  checkTemperatures(imuTemperatures, "imu/temperature", run.imuFrame,
                    [&](const kiv::T_RawRecord& r) { return ImuTemperature(r, run); });
  checkTemperatures(laserTemperatures, "temperature", run.frame, LaserTemperature);
}

// One transform from the parent frame to the sensor's, the mount's.
void FastDdsReader::CheckStaticTransform(const std::vector<tf2_msgs::msg::dds_::TFMessage_>& messages) {
  const T_Run& run = GetParam();
  ASSERT_EQ(messages.size(), 1u) << "rt/tf_static keeps its one message";
  ASSERT_EQ(messages[0].transforms().size(), 1u);
  const auto& t = messages[0].transforms()[0];
  EXPECT_EQ(t.header().frame_id(), run.parentFrame);
  EXPECT_EQ(t.child_frame_id(), run.frame);
  EXPECT_GE(TimeOf(t.header().stamp()), started - seconds(1));
  EXPECT_LE(TimeOf(t.header().stamp()), ended + seconds(1));
  EXPECT_DOUBLE_EQ(t.transform().translation().x(), run.mount[0]);
  EXPECT_DOUBLE_EQ(t.transform().translation().y(), run.mount[1]);
  EXPECT_DOUBLE_EQ(t.transform().translation().z(), run.mount[2]);
  const auto q = QuaternionOf(run.mount[3], run.mount[4], run.mount[5]);
  const auto& r = t.transform().rotation();
  // q and -q are the same rotation.
  const double sign = r.w() * q[3] + r.x() * q[0] + r.y() * q[1] + r.z() * q[2] < 0 ? -1.0 : 1.0;
  EXPECT_NEAR(r.x(), sign * q[0], 1e-9);
  EXPECT_NEAR(r.y(), sign * q[1], 1e-9);
  EXPECT_NEAR(r.z(), sign * q[2], 1e-9);
  EXPECT_NEAR(r.w(), sign * q[3], 1e-9);
}

// Once a second, one status named by the frame, the sensor's serial its
// hardware id, the values the README lists; OK while the sensor streams,
// with the readings of the run's records.
void FastDdsReader::CheckDiagnostics(const std::vector<diagnostic_msgs::msg::dds_::DiagnosticArray_>& arrays) {
  const T_Run& run = GetParam();
  ASSERT_GE(arrays.size(), 2u);
  EXPECT_LE(static_cast<double>(arrays.size()), duration<double>(ended - started).count() + 1.5);
  const std::vector<std::string> keys{"records per second", "gaps", "laser temperature (C)",
                                      "IMU temperature (C)", "supply voltage (V)", "recording file"};
  // A reading shown is one the records held, to the digits it is shown with.
  const auto within = [&](const std::string& text, auto reading) {
    double low = 1e9, high = -1e9;
    for (const auto& r : records) {
      low = std::min(low, reading(r));
      high = std::max(high, reading(r));
    }
    const double value = text.empty() ? NAN : std::stod(text);
    return value >= low - 0.05 && value <= high + 0.05;
  };
  size_t streaming = 0;
  bool sensorSeen = false;
  for (const auto& array : arrays) {
    ASSERT_EQ(array.status().size(), 1u);
    const auto& status = array.status()[0];
    const auto& values = status.values();
    std::vector<std::string> names;
    for (const auto& value : values) names.push_back(value.key());
    ASSERT_EQ(names, keys);
    const bool firstWithSensor = !sensorSeen && !status.hardware_id().empty();
    sensorSeen = sensorSeen || firstWithSensor;
    EXPECT_EQ(status.name(), "skarv: " + run.frame);
    if (status.level() == kLevelError) {
      // Before the sensor opens.
      EXPECT_EQ(status.message(), "no sensor");
      EXPECT_EQ(status.hardware_id(), "");
      EXPECT_FALSE(sensorSeen);
      EXPECT_EQ(values[2].value() + values[3].value() + values[4].value() + values[5].value(), "");
      continue;
    }
    EXPECT_EQ(status.hardware_id(), kSerial);
    EXPECT_TRUE(values[5].value().ends_with("SkarvData-1.csv")) << values[5].value();
    if (values[0].value() == "0") {
      // Before the stream starts: stalled, except in the first status of
      // the sensor, which may cover less than a second of it.
      if (!firstWithSensor || status.level() != kLevelOk) {
        EXPECT_EQ(status.level(), kLevelWarn);
        EXPECT_EQ(status.message(), "stalled: no records in the last second");
      }
      continue;
    }
    ++streaming;
    EXPECT_EQ(status.level(), kLevelOk) << status.message();
    EXPECT_GT(std::stod(values[0].value()), 0.0);
    EXPECT_EQ(values[1].value(), "0");
    EXPECT_TRUE(within(values[2].value(), LaserTemperature)) << values[2].value();
    EXPECT_TRUE(within(values[3].value(), [&](const kiv::T_RawRecord& r) { return ImuTemperature(r, run); }))
        << values[3].value();
    EXPECT_TRUE(within(values[4].value(), SupplyVoltage)) << values[4].value();
  }
  EXPECT_GE(streaming, 1u);
  ExpectStampsAdvance(arrays, [](const auto& m) { return m.header().stamp(); }, "diagnostics");
}

INSTANTIATE_TEST_SUITE_P(Qos, FastDdsReader, ::testing::Values(kDefaultRun, kSensorDataRun),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
