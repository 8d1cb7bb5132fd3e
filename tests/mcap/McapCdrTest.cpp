// The ROS 2 messages as the MCAP file carries them are the bytes Cyclone DDS
// sends for the same messages: each is written through a DDS writer to a
// reader of the same participant (loopback only), taken serialised, and
// held against the file's serialiser.

#include <gtest/gtest.h>

#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "DdsOptions.h"
#include "RecordSamples.h"
#include "RosCdr.h"
#include "RosMessages.h"
#include "RotationScanner.h"

namespace {

// The bytes Cyclone DDS serialises `sample` of `type` into.
std::vector<uint8_t> CycloneBytes(dds_entity_t participant, const dds_topic_descriptor_t* type, const void* sample) {
  const std::string name = std::string("skarv_cdr_") + std::to_string(reinterpret_cast<uintptr_t>(type));
  const dds_entity_t topic = dds_create_topic(participant, type, name.c_str(), nullptr, nullptr);
  dds_qos_t* qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
  dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, 0);
  const dds_entity_t reader = dds_create_reader(participant, topic, qos, nullptr);
  const dds_entity_t writer = dds_create_writer(participant, topic, qos, nullptr);
  dds_delete_qos(qos);
  std::vector<uint8_t> bytes;
  if (topic < 0 || reader < 0 || writer < 0 || dds_write(writer, sample) != DDS_RETCODE_OK) return bytes;
  struct ddsi_serdata* data = nullptr;
  dds_sample_info_t info;
  for (int attempt = 0; attempt < 500; ++attempt) {  // 5 s at most
    if (dds_takecdr(reader, &data, 1, &info, DDS_ANY_STATE) == 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (data) {
    bytes.resize(ddsi_serdata_size(data));
    ddsi_serdata_to_ser(data, 0, bytes.size(), bytes.data());
    ddsi_serdata_unref(data);
  }
  dds_delete(writer);
  dds_delete(reader);
  dds_delete(topic);
  return bytes;
}

// Equal as CDR: the same encapsulation, the same body; DDS may pad the end
// to four bytes (and say so in the options).
void ExpectSameCdr(const std::vector<uint8_t>& dds, const std::vector<uint8_t>& ours, const char* what) {
  SCOPED_TRACE(what);
  ASSERT_GE(dds.size(), ours.size());
  EXPECT_LT(dds.size() - ours.size(), 4u);
  EXPECT_EQ(dds[0], ours[0]);
  EXPECT_EQ(dds[1], ours[1]);
  EXPECT_TRUE(std::equal(ours.begin() + 4, ours.end(), dds.begin() + 4)) << "the bodies differ";
}

TEST(McapCdr, EveryMessageIsTheBytesCycloneDdsSendsForIt) {
  setenv("CYCLONEDDS_URI", "file://" SKARV_DDS_LOOPBACK_CONFIG, 1);
  const dds_entity_t participant = dds_create_participant(54, nullptr, nullptr);
  ASSERT_GT(participant, 0);
  const skarvdds::T_DdsOptions options;
  kiv::T_RawRecord record;
  record.count = 65535;
  record.rawDistance = 12345;
  record.width = 77;
  record.flags = kiv::T_RawRecord::FlagsOf(1, 3);
  record.rawSupplyVoltage = 2200;
  record.rawAnaTemp = 4100;
  record.laserPower = 9;
  record.auxWord = 0xBEEF;
  record.imu = {1, 0xFFFF, 0x8000, 7000, 0x7FFF, 2, 3, 0xFFFE, 5, 6};
  const builtin_interfaces_msg_dds__Time_ stamp{1765000000, 123456789};
  std::vector<uint8_t> ours;

  sensor_msgs_msg_dds__Imu_ imu;
  skarvdds::FillImu(record, options, "skarv_imu", stamp, imu);
  skarvmcap::SerializeImu(imu, ours);
  ExpectSameCdr(CycloneBytes(participant, &sensor_msgs_msg_dds__Imu__desc, &imu), ours, "Imu");
  sensor_msgs_msg_dds__MagneticField_ mag;
  skarvdds::FillMagneticField(record, options, "a", stamp, mag);
  skarvmcap::SerializeMagneticField(mag, ours);
  ExpectSameCdr(CycloneBytes(participant, &sensor_msgs_msg_dds__MagneticField__desc, &mag), ours, "MagneticField");
  sensor_msgs_msg_dds__Temperature_ temperature;
  skarvdds::FillLaserTemperature(record, "", stamp, temperature);
  skarvmcap::SerializeTemperature(temperature, ours);
  ExpectSameCdr(CycloneBytes(participant, &sensor_msgs_msg_dds__Temperature__desc, &temperature), ours, "Temperature");

  // A scan with lost points (NaN), one out of range, an odd-length frame id.
  skarvdds::T_ScanPoints points;
  points.ranges.assign(skarvdds::CRotationScanner::kPoints, 1.5f);
  points.intensities.assign(skarvdds::CRotationScanner::kPoints, 20.0f);
  points.ranges[3] = std::nanf("");
  points.ranges[4] = INFINITY;
  points.timeIncrement = 2.5e-5;
  skarvdds::T_LaserScan scan;
  skarvdds::BuildLaserScan(points, stamp, 50000, options.rangeScale, "laser", scan);
  skarvmcap::SerializeLaserScan(scan.message, ours);
  ExpectSameCdr(CycloneBytes(participant, &sensor_msgs_msg_dds__LaserScan__desc, &scan.message), ours, "LaserScan");

  // A batch of three records, an odd number of words.
  std::vector<uint16_t> words(3 * skarvdds::kWordsPerRecord);
  const kiv::T_RawRecord three[3] = {record, record, record};
  skarvdds::PackRecords(three, words);
  skarv_msgs_msg_dds__RawRecordBatch_ batch{};
  batch.header = std_msgs_msg_dds__Header_{stamp, const_cast<char*>("skarv")};
  batch.batch = 42;
  batch.words = dds_sequence_uint16{static_cast<uint32_t>(words.size()), static_cast<uint32_t>(words.size()),
                                    words.data(), false};
  batch.serial = const_cast<char*>("SKV00417");
  skarvmcap::SerializeRecordBatch(batch, ours);
  ExpectSameCdr(CycloneBytes(participant, &skarv_msgs_msg_dds__RawRecordBatch__desc, &batch), ours, "RawRecordBatch");
  dds_delete(participant);
}

}  // namespace
