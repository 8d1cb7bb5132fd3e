// A publisher process on the virtual sensor's manual clock and this process
// subscribing over the loopback interface: every field of the records, the
// LaserScans and the IMU messages, ROS 2's topic and type names as DDS
// discovery reports them, and ROS 2 style best-effort readers.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DdsEntities.h"
#include "DdsPublisher.h"
#include "DiagCapture.h"
#include "DdsTestSupport.h"
#include "RecordFeed.h"
#include "RecordSamples.h"
#include "RosMessageTypes.h"
#include "SampleRecord.h"
#include "SkarvRecordTypes.h"

namespace {

using Record = kiv::T_RawRecord;

constexpr int kUpdates = 300;      // 3 s of sensor time, about 60 rotations
constexpr double kRangeScale = 0.01;
constexpr uint64_t kImuPeriodUnits = 1000;  // 100 Hz in 10 us units

struct T_ReceivedScan {
  sensor_msgs_msg_dds__LaserScan_ fields;  // sequences and frame dropped
  std::string frameId;
  std::vector<float> ranges, intensities;
};

struct T_ReceivedImu {
  sensor_msgs_msg_dds__Imu_ fields;
  std::string frameId;
};

std::string Format(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

std::vector<std::vector<std::string>> CsvRows(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // header
  std::vector<std::vector<std::string>> rows;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

// The records at which the scan state changes: each begins a rotation.
std::vector<size_t> RotationStarts(const std::vector<Record>& records) {
  std::vector<size_t> starts;
  for (size_t i = 1; i < records.size(); ++i) {
    if (records[i].ScanState() != records[i - 1].ScanState()) starts.push_back(i);
  }
  return starts;
}

class DdsPublishing : public ::testing::Test {
 protected:
  void SetUp() override {
    ddstest::UseLoopback(41);
    char pattern[] = "/tmp/skarv-dds-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir = pattern;
    ASSERT_TRUE(participant.Open(error)) << error;
  }
  void TearDown() override {
    participant.Close();
    std::filesystem::remove_all(workDir);
  }
  dds_entity_t Reader(const dds_topic_descriptor_t& type, const std::string& name, bool reliable) {
    const dds_entity_t reader = participant.CreateReader(type, "rt/" + ns + "/" + name, reliable,
                                                         reliable ? 100000 : 5, error);
    EXPECT_GT(reader, 0) << error;
    return reader;
  }

  std::filesystem::path workDir;
  std::string ns = ddstest::UniqueNamespace("e2e");
  std::string error;
  skarvdds::CDdsParticipant participant;
};

TEST_F(DdsPublishing, AnotherProcessReceivesEveryFieldUnderRos2Names) {
  struct T_Topic {
    const char* name;
    const dds_topic_descriptor_t* type;
    const char* typeName;
  };
  const T_Topic topics[] = {
      {"scan", &sensor_msgs_msg_dds__LaserScan__desc, "sensor_msgs::msg::dds_::LaserScan_"},
      {"imu", &sensor_msgs_msg_dds__Imu__desc, "sensor_msgs::msg::dds_::Imu_"},
      {"mag", &sensor_msgs_msg_dds__MagneticField__desc, "sensor_msgs::msg::dds_::MagneticField_"},
      {"imu/temperature", &sensor_msgs_msg_dds__Temperature__desc, "sensor_msgs::msg::dds_::Temperature_"},
      {"temperature", &sensor_msgs_msg_dds__Temperature__desc, "sensor_msgs::msg::dds_::Temperature_"},
      {"records", &skarv_msgs_msg_dds__RawRecordBatch__desc, "skarv_msgs::msg::dds_::RawRecordBatch_"},
  };
  std::map<std::string, dds_entity_t> reliable, bestEffort;
  for (const T_Topic& topic : topics) {
    reliable[topic.name] = Reader(*topic.type, topic.name, true);
    bestEffort[topic.name] = Reader(*topic.type, topic.name, false);
  }
  const dds_entity_t discovery =
      dds_create_reader(participant.Handle(), DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr);
  ASSERT_GT(discovery, 0);

  // The records as a playback sensor would take them in.
  skarvdds::CRecordFeed feed(ns);
  ASSERT_TRUE(feed.Active()) << feed.Error();

  // What discovery says of the publisher's writers, gathered while it runs.
  std::map<std::string, std::string> published;
  const auto gather = [&] {
    ddstest::TakeAll<dds_builtintopic_endpoint_t>(discovery, [&](const dds_builtintopic_endpoint_t& endpoint) {
      published[endpoint.topic_name] = endpoint.type_name;
    });
  };
  const std::filesystem::path start = workDir / "start";
  ddstest::CHelperProcess publisher(SKARV_DDS_TEST_PUBLISHER, {ns, std::to_string(kUpdates), "2", start.string()},
                                    workDir);
  // The publisher starts once every reader here has matched its writer too:
  // a volatile reader that matches late misses the samples written before.
  const auto allMatched = [&] {
    for (const auto* readers : {&reliable, &bestEffort}) {
      for (const auto& [name, reader] : *readers) {
        dds_subscription_matched_status_t status{};
        if (dds_get_subscription_matched_status(reader, &status) != DDS_RETCODE_OK || status.current_count == 0) {
          return false;
        }
      }
    }
    return feed.MatchedPublishers() > 0;
  };
  const auto matchDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!allMatched() && std::chrono::steady_clock::now() < matchDeadline) {
    gather();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(allMatched());
  std::ofstream(start) << "start\n";
  ASSERT_EQ(publisher.Wait(std::chrono::seconds(90), gather), 0);
  gather();
  for (const T_Topic& topic : topics) {
    EXPECT_EQ(published["rt/" + ns + "/" + topic.name], topic.typeName) << topic.name;
  }

  // Records: every batch in order, every record as the controller recorded it.
  std::vector<Record> records;
  uint64_t nextBatch = 0;
  ddstest::TakeAll<skarv_msgs_msg_dds__RawRecordBatch_>(reliable["records"], [&](const auto& batch) {
    EXPECT_EQ(batch.batch, nextBatch++);
    EXPECT_STREQ(batch.header.frame_id, "test_frame");
    EXPECT_STREQ(batch.serial, "SKV00001") << "the virtual sensor's serial number";
    EXPECT_EQ(batch.words._length % skarvdds::kWordsPerRecord, 0u);
    skarvdds::AppendRecords({batch.words._buffer, batch.words._length}, records);
  });
  const auto rows = CsvRows(workDir / "SkarvData-1.csv");
  ASSERT_GT(records.size(), 20000u);
  ASSERT_EQ(records.size(), rows.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    const auto& row = rows[i];
    ASSERT_EQ(row.size(), 18u);
    if (i > 0) {
      ASSERT_EQ(r.count, static_cast<uint16_t>(records[i - 1].count + 1));
    }
    ASSERT_EQ(row[0], std::to_string(r.count));
    ASSERT_EQ(row[1], std::to_string(r.DeltTime()));
    const double distance = r.rawDistance * kiv::kScaleRawLaserDistance;
    const bool outOfRange = distance > 2000.0 || r.width > 300;
    ASSERT_TRUE(row[2] == Format(distance) || (outOfRange && row[2] == Format(0.0))) << i;
    ASSERT_TRUE(row[3] == std::to_string(r.width) || (outOfRange && row[3] == "0")) << i;
    ASSERT_EQ(row[4], Format(r.rawAnaTemp * kiv::kScaleRawLaserTemperature + kiv::kTemperatureOffset));
    ASSERT_EQ(row[5], std::to_string(r.ScanState()));
    ASSERT_EQ(row[6], std::to_string(r.laserPower));
    ASSERT_EQ(row[7], Format(r.rawSupplyVoltage * kiv::kScaleRawSupplyVoltage + kiv::kScaleSupplyOffset));
    for (int k = 0; k < 10; ++k) ASSERT_EQ(row[8 + k], std::to_string(static_cast<int16_t>(r.imu[k])));
  }

  // The feed hands on the same records, word for word, in one session.
  std::vector<kiv::T_RawRecord> fed;
  const auto feedDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::shared_ptr<skarvdds::CFeedSession> session;
  while (!session && std::chrono::steady_clock::now() < feedDeadline) {
    session = feed.TakeSession();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(session);
  EXPECT_EQ(session->Serial(), "SKV00001");
  while (fed.size() < records.size() && std::chrono::steady_clock::now() < feedDeadline) {
    kiv::T_RawRecord words;
    const auto result = session->Next(words);
    if (result == recording::CRecordSource::EResult::eRecord) {
      fed.push_back(words);
    } else {
      ASSERT_EQ(result, recording::CRecordSource::EResult::eWait);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ASSERT_EQ(fed.size(), records.size());
  kiv::T_RawRecord extra;
  EXPECT_NE(session->Next(extra), recording::CRecordSource::EResult::eRecord);
  EXPECT_EQ(feed.TakeSession(), nullptr) << "one publisher, one session";
  EXPECT_EQ(feed.LostBatches(), 0u);
  for (size_t i = 0; i < records.size(); ++i) {
    ASSERT_TRUE(fed[i].SameWords(records[i])) << i;
  }

  // Scans: 2000 points from -180 degrees, the last quarter of one rotation
  // and the first three of the next, for every rotation seen from its start
  // whose next one reached its last quarter; the points a rotation of fewer
  // than 2000 records does not reach are NaN.
  std::vector<T_ReceivedScan> scans;
  ddstest::TakeAll<sensor_msgs_msg_dds__LaserScan_>(reliable["scan"], [&](const auto& m) {
    T_ReceivedScan scan{m, m.header.frame_id, {}, {}};
    scan.ranges.assign(m.ranges._buffer, m.ranges._buffer + m.ranges._length);
    scan.intensities.assign(m.intensities._buffer, m.intensities._buffer + m.intensities._length);
    scans.push_back(std::move(scan));
  });
  const std::vector<size_t> starts = RotationStarts(records);
  size_t expected = 0;
  while (expected + 1 < starts.size() && starts[expected + 1] + 1500 < records.size()) ++expected;
  ASSERT_GE(scans.size(), 10u);
  ASSERT_EQ(scans.size(), expected);
  for (size_t k = 0; k < scans.size(); ++k) {
    const T_ReceivedScan& scan = scans[k];
    ASSERT_EQ(scan.ranges.size(), 2000u) << "scan " << k;
    ASSERT_EQ(scan.intensities.size(), 2000u);
    EXPECT_EQ(scan.frameId, "test_frame");
    EXPECT_NEAR(scan.fields.angle_min, -M_PI, 1e-6);
    EXPECT_GE(scan.fields.angle_min, -M_PI);
    EXPECT_LE(scan.fields.angle_max, M_PI);
    EXPECT_FLOAT_EQ(scan.fields.angle_increment, static_cast<float>(M_PI / 1000));
    EXPECT_FLOAT_EQ(scan.fields.range_min, static_cast<float>(0.1 * kRangeScale));
    EXPECT_FLOAT_EQ(scan.fields.range_max, static_cast<float>(2000 * kRangeScale));
    // The sensor's time runs ahead of the host's on the manual clock: the
    // stamps still never go back.
    if (k > 0) {
      const auto& last = scans[k - 1].fields.header.stamp;
      const auto& now = scan.fields.header.stamp;
      EXPECT_TRUE(now.sec > last.sec || (now.sec == last.sec && now.nanosec > last.nanosec)) << k;
    }
    uint64_t rotation = 0;  // the record that ends a rotation counts towards its time
    for (size_t i = starts[k] + 1; i <= starts[k + 1]; ++i) rotation += records[i].DeltTime();
    EXPECT_FLOAT_EQ(scan.fields.scan_time, static_cast<float>(rotation * 1e-5)) << "scan " << k;
    uint64_t units = 0;  // from the scan's first record to its last: the time per record
    const size_t firstRecord = starts[k] + 1500, lastRecord = starts[k + 1] + 1499;
    for (size_t i = firstRecord + 1; i <= lastRecord; ++i) units += records[i].DeltTime();
    EXPECT_FLOAT_EQ(scan.fields.time_increment, static_cast<float>(units * 1e-5 / (lastRecord - firstRecord)));
    for (size_t j = 0; j < 2000; ++j) {
      const size_t start = j < 500 ? starts[k] : starts[k + 1];
      const size_t point = (j + 1500) % 2000;
      const size_t end = k + 2 < starts.size() ? starts[k + 2] : records.size();
      if (start + point >= (j < 500 ? starts[k + 1] : end)) {
        ASSERT_TRUE(std::isnan(scan.ranges[j])) << k << ":" << j;
        continue;
      }
      const Record& r = records[start + point];
      const double distance = r.rawDistance * kiv::kScaleRawLaserDistance;
      if (distance > 2000.0 || r.width > 300 || r.rawDistance == 0) {
        ASSERT_EQ(scan.ranges[j], std::numeric_limits<float>::infinity()) << k << ":" << j;
        ASSERT_EQ(scan.intensities[j], 0.0f);
      } else {
        ASSERT_EQ(scan.ranges[j], static_cast<float>(distance * kRangeScale)) << k << ":" << j;
        ASSERT_EQ(scan.intensities[j], static_cast<float>(r.width));
      }
    }
  }

  // IMU: one sample each 10 ms of sensor time, from the record at which that
  // time is reached.
  std::vector<size_t> imuRecords;
  uint64_t sensorTime = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    sensorTime += records[i].DeltTime();
    if (sensorTime >= (imuRecords.size() + 1) * kImuPeriodUnits) imuRecords.push_back(i);
  }
  std::vector<T_ReceivedImu> imus;
  ddstest::TakeAll<sensor_msgs_msg_dds__Imu_>(reliable["imu"], [&](const auto& m) {
    imus.push_back({m, m.header.frame_id});
  });
  std::vector<sensor_msgs_msg_dds__MagneticField_> mags;
  ddstest::TakeAll<sensor_msgs_msg_dds__MagneticField_>(reliable["mag"], [&](const auto& m) { mags.push_back(m); });
  std::vector<double> imuTemperatures, laserTemperatures;
  ddstest::TakeAll<sensor_msgs_msg_dds__Temperature_>(reliable["imu/temperature"], [&](const auto& m) {
    imuTemperatures.push_back(m.temperature);
  });
  ddstest::TakeAll<sensor_msgs_msg_dds__Temperature_>(reliable["temperature"], [&](const auto& m) {
    laserTemperatures.push_back(m.temperature);
  });
  ASSERT_GE(imus.size(), 50u);
  ASSERT_EQ(imus.size(), imuRecords.size());
  ASSERT_EQ(mags.size(), imus.size());
  ASSERT_EQ(imuTemperatures.size(), imus.size());
  ASSERT_EQ(laserTemperatures.size(), imus.size());
  const double g = 9.80665 / 16384.0, w = M_PI / 180.0 / 131.0, t = 0.15e-6;
  for (size_t k = 0; k < imus.size(); ++k) {
    const auto& m = imus[k].fields;
    if (k > 0) {
      const auto& last = imus[k - 1].fields.header.stamp;
      EXPECT_TRUE(m.header.stamp.sec > last.sec || (m.header.stamp.sec == last.sec && m.header.stamp.nanosec > last.nanosec))
          << k;
    }
    const auto word = [&](int channel) { return static_cast<double>(static_cast<int16_t>(records[imuRecords[k]].imu[channel])); };
    EXPECT_EQ(imus[k].frameId, "test_frame");
    EXPECT_EQ(m.orientation.x, 0.0);
    EXPECT_EQ(m.orientation.w, 1.0);
    EXPECT_EQ(m.orientation_covariance[0], -1.0);
    for (int i = 1; i < 9; ++i) EXPECT_EQ(m.orientation_covariance[i], 0.0);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(m.angular_velocity_covariance[i] + m.linear_acceleration_covariance[i], 0.0);
    ASSERT_DOUBLE_EQ(m.linear_acceleration.x, word(kiv::eAccelX) * g) << k;
    ASSERT_DOUBLE_EQ(m.linear_acceleration.y, word(kiv::eAccelY) * g);
    ASSERT_DOUBLE_EQ(m.linear_acceleration.z, word(kiv::eAccelZ) * g);
    ASSERT_DOUBLE_EQ(m.angular_velocity.x, word(kiv::eGyroX) * w);
    ASSERT_DOUBLE_EQ(m.angular_velocity.y, word(kiv::eGyroY) * w);
    ASSERT_DOUBLE_EQ(m.angular_velocity.z, word(kiv::eGyroZ) * w);
    ASSERT_DOUBLE_EQ(mags[k].magnetic_field.x, word(kiv::eMagX) * t);
    ASSERT_DOUBLE_EQ(mags[k].magnetic_field.y, word(kiv::eMagY) * t);
    ASSERT_DOUBLE_EQ(mags[k].magnetic_field.z, word(kiv::eMagZ) * t);
    ASSERT_DOUBLE_EQ(imuTemperatures[k], word(kiv::eIMUTemp) * 0.005294086505373498 + 95.0);
    ASSERT_DOUBLE_EQ(laserTemperatures[k], records[imuRecords[k]].rawAnaTemp * kiv::kScaleRawLaserTemperature +
                                               kiv::kTemperatureOffset);
  }
  // Gravity along z, as the virtual sensor is placed.
  EXPECT_NEAR(imus.front().fields.linear_acceleration.z, 9.80665, 0.1);

  // ROS 2's sensor-data readers (best effort) are served too.
  for (const T_Topic& topic : topics) {
    size_t received = 0;
    if (std::string(topic.name) == "scan") {
      received = ddstest::TakeAll<sensor_msgs_msg_dds__LaserScan_>(bestEffort[topic.name], [](const auto&) {});
    } else if (std::string(topic.name) == "records") {
      received = ddstest::TakeAll<skarv_msgs_msg_dds__RawRecordBatch_>(bestEffort[topic.name], [](const auto&) {});
    } else if (std::string(topic.name) == "imu") {
      received = ddstest::TakeAll<sensor_msgs_msg_dds__Imu_>(bestEffort[topic.name], [](const auto&) {});
    } else if (std::string(topic.name) == "mag") {
      received = ddstest::TakeAll<sensor_msgs_msg_dds__MagneticField_>(bestEffort[topic.name], [](const auto&) {});
    } else {
      received = ddstest::TakeAll<sensor_msgs_msg_dds__Temperature_>(bestEffort[topic.name], [](const auto&) {});
    }
    EXPECT_GT(received, 0u) << topic.name;
  }
}

TEST(DdsRecordFeed, DdsThatCannotStartEndsTheFeedWithTheReason) {
  // Beyond ROS 2's domains, and what Cyclone DDS would take for its default
  // domain 0.
  for (const char* domain : {"233", "4294967295"}) {
    ddstest::UseLoopback(0);
    setenv("ROS_DOMAIN_ID", domain, 1);
    skarvdds::CRecordFeed feed("nowhere");
    EXPECT_FALSE(feed.Active());
    EXPECT_EQ(feed.TakeSession(), nullptr);
    EXPECT_EQ(feed.Error(), "DDS could not be started: ROS_DOMAIN_ID '" + std::string(domain) +
                                "' is out of range: a domain is from 0 to 232");
  }
  setenv("ROS_DOMAIN_ID", "232", 1);
  skarvdds::CRecordFeed highest("nowhere");
  EXPECT_TRUE(highest.Active()) << highest.Error();
}

// ROS 2's sensor-data profile: the ROS topics go best effort, so a reliable
// reader finds them incompatible and a best-effort one matches; the records
// stay reliable. The choice is said once at the start.
TEST_F(DdsPublishing, TheSensorDataProfileSendsTheRosTopicsBestEffortAndTheRecordsReliably) {
  skarvdds::T_DdsOptions options;
  options.publish = true;
  options.ns = ns;
  options.sensorDataQos = true;
  CDiagCapture capture;
  skarvdds::CDdsPublisher publisher(options);
  ASSERT_TRUE(publisher.Active());
  EXPECT_NE(capture.Text().find("DDS QoS: scan, imu, mag, imu/temperature and temperature best effort, keep last 5; "
                                "records reliable, keep all.\n"),
            std::string::npos)
      << capture.Text();
  const dds_entity_t reliableScan = Reader(sensor_msgs_msg_dds__LaserScan__desc, "scan", true);
  const dds_entity_t bestEffortScan = Reader(sensor_msgs_msg_dds__LaserScan__desc, "scan", false);
  const dds_entity_t records = Reader(skarv_msgs_msg_dds__RawRecordBatch__desc, "records", true);
  const auto matched = [](dds_entity_t reader) {
    dds_subscription_matched_status_t status{};
    return dds_get_subscription_matched_status(reader, &status) == DDS_RETCODE_OK ? status.current_count : 0u;
  };
  const auto incompatible = [](dds_entity_t reader) {
    dds_requested_incompatible_qos_status_t status{};
    return dds_get_requested_incompatible_qos_status(reader, &status) == DDS_RETCODE_OK ? status.total_count : 0u;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((matched(bestEffortScan) == 0 || matched(records) == 0 || incompatible(reliableScan) == 0) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(matched(bestEffortScan), 1u);
  EXPECT_EQ(matched(records), 1u);
  EXPECT_GE(incompatible(reliableScan), 1u);
  EXPECT_EQ(matched(reliableScan), 0u);
  publisher.Close();
}

}  // namespace
