#include "RosCdr.h"

#include <span>

#include "CdrWriter.h"

namespace skarvmcap {

namespace {

void PutHeader(CCdrWriter& cdr, const std_msgs_msg_dds__Header_& header) {
  cdr.Put<int32_t>(header.stamp.sec);
  cdr.Put<uint32_t>(header.stamp.nanosec);
  cdr.String(header.frame_id);
}

void PutVector3(CCdrWriter& cdr, const geometry_msgs_msg_dds__Vector3_& vector) {
  cdr.Put(vector.x);
  cdr.Put(vector.y);
  cdr.Put(vector.z);
}

void PutCovariance(CCdrWriter& cdr, const double (&covariance)[9]) { cdr.Array(std::span<const double>(covariance)); }

template <typename Sequence>
auto Elements(const Sequence& sequence) {
  return std::span<const std::remove_pointer_t<decltype(sequence._buffer)>>(sequence._buffer, sequence._length);
}

}  // namespace

void SerializeLaserScan(const sensor_msgs_msg_dds__LaserScan_& message, std::vector<uint8_t>& out) {
  CCdrWriter cdr(out);
  PutHeader(cdr, message.header);
  for (const float value : {message.angle_min, message.angle_max, message.angle_increment, message.time_increment,
                            message.scan_time, message.range_min, message.range_max}) {
    cdr.Put(value);
  }
  cdr.Sequence(Elements(message.ranges));
  cdr.Sequence(Elements(message.intensities));
}

void SerializeImu(const sensor_msgs_msg_dds__Imu_& message, std::vector<uint8_t>& out) {
  CCdrWriter cdr(out);
  PutHeader(cdr, message.header);
  for (const double value : {message.orientation.x, message.orientation.y, message.orientation.z,
                             message.orientation.w}) {
    cdr.Put(value);
  }
  PutCovariance(cdr, message.orientation_covariance);
  PutVector3(cdr, message.angular_velocity);
  PutCovariance(cdr, message.angular_velocity_covariance);
  PutVector3(cdr, message.linear_acceleration);
  PutCovariance(cdr, message.linear_acceleration_covariance);
}

void SerializeMagneticField(const sensor_msgs_msg_dds__MagneticField_& message, std::vector<uint8_t>& out) {
  CCdrWriter cdr(out);
  PutHeader(cdr, message.header);
  PutVector3(cdr, message.magnetic_field);
  PutCovariance(cdr, message.magnetic_field_covariance);
}

void SerializeTemperature(const sensor_msgs_msg_dds__Temperature_& message, std::vector<uint8_t>& out) {
  CCdrWriter cdr(out);
  PutHeader(cdr, message.header);
  cdr.Put(message.temperature);
  cdr.Put(message.variance);
}

void SerializeRecordBatch(const skarv_msgs_msg_dds__RawRecordBatch_& message, std::vector<uint8_t>& out) {
  CCdrWriter cdr(out);
  PutHeader(cdr, message.header);
  cdr.Put<uint64_t>(message.batch);
  cdr.Sequence(Elements(message.words));
  cdr.String(message.serial);
}

}  // namespace skarvmcap
