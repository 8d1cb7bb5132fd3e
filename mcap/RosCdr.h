#pragma once
// The ROS 2 messages the sensor is published as on DDS, in the C types idlc
// generates for the publisher (RosMessages.h fills them), serialised as
// plain CDR: the bytes a ROS 2 recorder stores for each message.

#include <cstdint>
#include <vector>

#include "RosMessageTypes.h"
#include "SkarvRecordTypes.h"

namespace skarvmcap {

void SerializeLaserScan(const sensor_msgs_msg_dds__LaserScan_& message, std::vector<uint8_t>& out);
void SerializeImu(const sensor_msgs_msg_dds__Imu_& message, std::vector<uint8_t>& out);
void SerializeMagneticField(const sensor_msgs_msg_dds__MagneticField_& message, std::vector<uint8_t>& out);
void SerializeTemperature(const sensor_msgs_msg_dds__Temperature_& message, std::vector<uint8_t>& out);
void SerializeRecordBatch(const skarv_msgs_msg_dds__RawRecordBatch_& message, std::vector<uint8_t>& out);

}  // namespace skarvmcap
