// What a ROS 2 system learns besides the measurements: where the sensor
// sits (/tf_static, kept for readers that come later) and how it is doing
// (/diagnostics once a second), both reliable whatever the sensor's topics'
// QoS, and the levels the diagnostics report.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <thread>

#include "DdsEntities.h"
#include "DdsPublisher.h"
#include "DdsTestSupport.h"
#include "RosMessageTypes.h"
#include "RosMessages.h"
#include "SensorDiagnostics.h"

namespace {

using skarvdds::T_DiagnosticsReport;

std::map<std::string, std::string> Values(const T_DiagnosticsReport& report) {
  return {report.values.begin(), report.values.end()};
}

// The levels through a sensor's life: running, losing records, stalling, a
// failed recording (held until a recording runs again), and gone.
TEST(DdsDiagnostics, TheLevelFollowsTheSensorAndItsRecording) {
  skarvdds::T_DdsOptions options;
  skarvdds::CSensorDiagnostics diagnostics(options);
  T_DeviceStatus status;
  status.SensorOpen = true;
  status.Serial = "SKV00001";
  status.RecordsProcessed = 1000;
  kiv::T_RawRecord last;
  last.rawAnaTemp = 5000;           // 31.1 C
  last.imu[kiv::eIMUTemp] = 0xD3BB;  // -11333 counts: 35.0 C
  last.rawSupplyVoltage = 2000;     // 5.602 V

  EXPECT_FALSE(diagnostics.Next(status, nullptr, 1.0)) << "the first period begins";
  T_DiagnosticsReport report = *diagnostics.Next(status, nullptr, 1.0);
  EXPECT_EQ(report.level, T_DiagnosticsReport::eWarn) << "no records yet";
  EXPECT_EQ(Values(report).at("laser temperature (C)"), "") << "no record yet";

  status.RecordsProcessed += 124000;
  status.Recording = true;
  status.FileName = "/data/SkarvData-3.csv";
  report = *diagnostics.Next(status, &last, 0.5);
  EXPECT_EQ(report.level, T_DiagnosticsReport::eOk);
  EXPECT_EQ(report.message, "OK");
  const auto values = Values(report);
  EXPECT_EQ(values.at("records per second"), "248000");
  EXPECT_EQ(values.at("gaps"), "0");
  EXPECT_EQ(values.at("laser temperature (C)"), "31.10");
  EXPECT_EQ(values.at("IMU temperature (C)"), "35.00");
  EXPECT_EQ(values.at("supply voltage (V)"), "5.602");
  EXPECT_EQ(values.at("recording file"), "/data/SkarvData-3.csv");

  status.RecordsProcessed += 100;
  status.Gaps += 2;
  report = *diagnostics.Next(status, &last, 1.0);
  EXPECT_EQ(report.level, T_DiagnosticsReport::eWarn);
  EXPECT_EQ(report.message, "2 gaps in the record numbers in the last second");
  EXPECT_EQ(Values(report).at("gaps"), "2");

  report = *diagnostics.Next(status, &last, 1.0);
  EXPECT_EQ(report.level, T_DiagnosticsReport::eWarn);
  EXPECT_EQ(report.message, "stalled: no records in the last second");

  status.RecordsProcessed += 100;
  status.RecordingFailures = 1;
  status.Recording = false;
  for (int second = 0; second < 2; ++second) {
    status.RecordsProcessed += 100;
    report = *diagnostics.Next(status, &last, 1.0);
    EXPECT_EQ(report.level, T_DiagnosticsReport::eError);
    EXPECT_EQ(report.message, "recording failed");
    EXPECT_EQ(Values(report).at("recording file"), "");
  }
  status.RecordsProcessed += 100;
  status.Recording = true;
  EXPECT_EQ(diagnostics.Next(status, &last, 1.0)->level, T_DiagnosticsReport::eOk) << "a recording runs again";

  status.SensorOpen = false;
  status.Serial.clear();
  report = *diagnostics.Next(status, &last, 1.0);
  EXPECT_EQ(report.level, T_DiagnosticsReport::eError);
  EXPECT_EQ(report.message, "no sensor");
  EXPECT_EQ(Values(report).at("IMU temperature (C)"), "");
}

// The mount's roll, pitch and yaw turn about the fixed x, y and z axes in
// that order, as tf2 reads them: the quaternion turns a vector as Rz Ry Rx.
TEST(DdsMount, TheTransformTurnsByRollThenPitchThenYaw) {
  skarvdds::T_DdsOptions options;
  options.mount = {0.5, -0.25, 1.0, 0.3, -0.7, 2.1};
  geometry_msgs_msg_dds__TransformStamped_ t;
  skarvdds::FillMountTransform(options, {1, 2}, t);
  EXPECT_STREQ(t.header.frame_id, "base_link");
  EXPECT_STREQ(t.child_frame_id, "skarv");
  EXPECT_EQ(t.transform.translation.x, 0.5);
  EXPECT_EQ(t.transform.translation.z, 1.0);
  const auto& q = t.transform.rotation;
  EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0, 1e-12);
  const double v[3] = {0.2, 0.9, -0.4};
  // q v q*, written out.
  const double tx = 2 * (q.y * v[2] - q.z * v[1]), ty = 2 * (q.z * v[0] - q.x * v[2]),
               tz = 2 * (q.x * v[1] - q.y * v[0]);
  const double byQuaternion[3] = {v[0] + q.w * tx + (q.y * tz - q.z * ty), v[1] + q.w * ty + (q.z * tx - q.x * tz),
                                  v[2] + q.w * tz + (q.x * ty - q.y * tx)};
  const auto [r, p, y] = std::tuple{0.3, -0.7, 2.1};
  double a[3] = {v[0], v[1] * std::cos(r) - v[2] * std::sin(r), v[1] * std::sin(r) + v[2] * std::cos(r)};
  double b[3] = {a[0] * std::cos(p) + a[2] * std::sin(p), a[1], -a[0] * std::sin(p) + a[2] * std::cos(p)};
  const double byAngles[3] = {b[0] * std::cos(y) - b[1] * std::sin(y), b[0] * std::sin(y) + b[1] * std::cos(y), b[2]};
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(byQuaternion[i], byAngles[i], 1e-12) << i;
}

// A reader that comes after the transform was written still gets it, and
// the diagnostics come once a second with the sensor's serial number, both
// reliable while the sensor's topics go best effort.
TEST(DdsFramesAndHealth, ALateReaderGetsTheMountAndDiagnosticsComeEverySecond) {
  ddstest::UseLoopback(52);
  const std::string id = ddstest::UniqueNamespace("laser");
  skarvdds::T_DdsOptions options;
  options.publish = true;
  options.ns = id;
  options.frameId = id;
  options.parentFrame = "base_" + id;
  options.mount = {0.1, 0.0, 0.25, 0.0, 0.0, M_PI / 2};
  options.sensorDataQos = true;
  skarvdds::CDdsPublisher publisher(options);
  ASSERT_TRUE(publisher.Active());
  uint64_t records = 0;
  publisher.SetStatusSource([&records]() -> std::optional<T_DeviceStatus> {
    T_DeviceStatus status;
    status.SensorOpen = true;
    status.Serial = "SKV-FRAMES";
    status.RecordsProcessed = records += 1000;
    return status;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  skarvdds::CDdsParticipant participant;
  std::string error;
  ASSERT_TRUE(participant.Open(error)) << error;
  skarvdds::T_EndpointExtras latched;
  latched.transientLocal = true;
  const dds_entity_t tf =
      participant.CreateReader(tf2_msgs_msg_dds__TFMessage__desc, "rt/tf_static", true, 1, error, latched);
  const dds_entity_t health =
      participant.CreateReader(diagnostic_msgs_msg_dds__DiagnosticArray__desc, "rt/diagnostics", true, 10, error);
  ASSERT_GT(tf, 0) << error;
  ASSERT_GT(health, 0) << error;

  bool mounted = false;
  std::vector<uint8_t> levels;
  std::vector<int32_t> seconds;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((!mounted || levels.size() < 3) && std::chrono::steady_clock::now() < deadline) {
    ddstest::TakeAll<tf2_msgs_msg_dds__TFMessage_>(tf, [&](const auto& m) {
      ASSERT_EQ(m.transforms._length, 1u);
      const auto& t = m.transforms._buffer[0];
      if (t.child_frame_id != id) return;  // another test's sensor
      mounted = true;
      EXPECT_EQ(t.header.frame_id, "base_" + id);
      EXPECT_EQ(t.transform.translation.x, 0.1);
      EXPECT_EQ(t.transform.translation.z, 0.25);
      EXPECT_NEAR(t.transform.rotation.z, std::sqrt(0.5), 1e-12);
      EXPECT_NEAR(t.transform.rotation.w, std::sqrt(0.5), 1e-12);
    });
    ddstest::TakeAll<diagnostic_msgs_msg_dds__DiagnosticArray_>(health, [&](const auto& m) {
      ASSERT_EQ(m.status._length, 1u);
      const auto& s = m.status._buffer[0];
      if (s.name != "skarv: " + id) return;
      EXPECT_STREQ(s.hardware_id, "SKV-FRAMES");
      EXPECT_EQ(s.values._length, 6u);
      levels.push_back(s.level);
      seconds.push_back(m.header.stamp.sec);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(mounted);
  ASSERT_GE(levels.size(), 3u);
  EXPECT_EQ(levels[1], T_DiagnosticsReport::eOk) << "records come in";
  EXPECT_GE(seconds.back() - seconds.front(), static_cast<int32_t>(levels.size()) - 2) << "about one a second";
  publisher.Close();
}

}  // namespace
