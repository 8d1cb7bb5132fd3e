#include "RosMessages.h"

#include <cmath>

#include "SampleRecord.h"

namespace skarvdds {

namespace {

constexpr double kPi = 3.14159265358979323846;

std_msgs_msg_dds__Header_ HeaderOf(const char* frameId, builtin_interfaces_msg_dds__Time_ stamp) {
  // The message only points at the frame name while it is written.
  return std_msgs_msg_dds__Header_{stamp, const_cast<char*>(frameId)};
}

double Signed(uint16_t word) { return static_cast<double>(static_cast<int16_t>(word)); }

}  // namespace

builtin_interfaces_msg_dds__Time_ StampOf(std::chrono::system_clock::time_point time) {
  const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
  const int64_t seconds = sinceEpoch / 1000000000;
  const int64_t nanoseconds = sinceEpoch % 1000000000;
  return builtin_interfaces_msg_dds__Time_{static_cast<int32_t>(seconds), static_cast<uint32_t>(nanoseconds)};
}

float ScanAngleMin() {
  const float nearest = static_cast<float>(-kPi);
  return static_cast<double>(nearest) < -kPi ? std::nextafter(nearest, 0.0f) : nearest;
}

void BuildLaserScan(const T_ScanPoints& points, builtin_interfaces_msg_dds__Time_ stamp, uint32_t rotationUnits,
                    double rangeScale, const char* frameId, T_LaserScan& out) {
  out.ranges = points.ranges;
  out.intensities = points.intensities;
  const uint32_t n = static_cast<uint32_t>(out.ranges.size());
  sensor_msgs_msg_dds__LaserScan_& m = out.message;
  m.header = HeaderOf(frameId, stamp);
  m.angle_min = ScanAngleMin();
  m.angle_increment = static_cast<float>(kScanAngleStep);
  m.angle_max = m.angle_min + m.angle_increment * static_cast<float>(n > 0 ? n - 1 : 0);
  m.scan_time = static_cast<float>(rotationUnits * kSecondsPerTimeUnit);
  m.time_increment = static_cast<float>(points.timeIncrement);
  m.range_min = static_cast<float>(kMinRangeUnits * rangeScale);
  m.range_max = static_cast<float>(kMaxRangeUnits * rangeScale);
  m.ranges = dds_sequence_float{n, n, out.ranges.data(), false};
  m.intensities = dds_sequence_float{n, n, out.intensities.data(), false};
}

void FillImu(const kiv::T_RawRecord& words, const T_DdsOptions& options, const char* frameId,
             builtin_interfaces_msg_dds__Time_ stamp, sensor_msgs_msg_dds__Imu_& out) {
  out = sensor_msgs_msg_dds__Imu_{};
  out.header = HeaderOf(frameId, stamp);
  out.orientation.w = 1.0;
  out.orientation_covariance[0] = -1.0;
  out.angular_velocity.x = Signed(words.imu[kiv::eGyroX]) * options.gyroScale;
  out.angular_velocity.y = Signed(words.imu[kiv::eGyroY]) * options.gyroScale;
  out.angular_velocity.z = Signed(words.imu[kiv::eGyroZ]) * options.gyroScale;
  out.linear_acceleration.x = Signed(words.imu[kiv::eAccelX]) * options.accelScale;
  out.linear_acceleration.y = Signed(words.imu[kiv::eAccelY]) * options.accelScale;
  out.linear_acceleration.z = Signed(words.imu[kiv::eAccelZ]) * options.accelScale;
}

void FillMagneticField(const kiv::T_RawRecord& words, const T_DdsOptions& options, const char* frameId,
                       builtin_interfaces_msg_dds__Time_ stamp, sensor_msgs_msg_dds__MagneticField_& out) {
  out = sensor_msgs_msg_dds__MagneticField_{};
  out.header = HeaderOf(frameId, stamp);
  out.magnetic_field.x = Signed(words.imu[kiv::eMagX]) * options.magScale;
  out.magnetic_field.y = Signed(words.imu[kiv::eMagY]) * options.magScale;
  out.magnetic_field.z = Signed(words.imu[kiv::eMagZ]) * options.magScale;
}

void FillImuTemperature(const kiv::T_RawRecord& words, const T_DdsOptions& options, const char* frameId,
                        builtin_interfaces_msg_dds__Time_ stamp, sensor_msgs_msg_dds__Temperature_& out) {
  out = sensor_msgs_msg_dds__Temperature_{};
  out.header = HeaderOf(frameId, stamp);
  out.temperature = ImuTemperature(words, options);
}

void FillLaserTemperature(const kiv::T_RawRecord& words, const char* frameId,
                          builtin_interfaces_msg_dds__Time_ stamp, sensor_msgs_msg_dds__Temperature_& out) {
  out = sensor_msgs_msg_dds__Temperature_{};
  out.header = HeaderOf(frameId, stamp);
  out.temperature = LaserTemperature(words);
}

double ImuTemperature(const kiv::T_RawRecord& words, const T_DdsOptions& options) {
  return Signed(words.imu[kiv::eIMUTemp]) * options.imuTempScale + options.imuTempOffset;
}

double LaserTemperature(const kiv::T_RawRecord& words) {
  return words.rawAnaTemp * kiv::kScaleRawLaserTemperature + kiv::kTemperatureOffset;
}

double SupplyVoltage(const kiv::T_RawRecord& words) {
  return words.rawSupplyVoltage * kiv::kScaleRawSupplyVoltage + kiv::kScaleSupplyOffset;
}

void FillMountTransform(const T_DdsOptions& options, builtin_interfaces_msg_dds__Time_ stamp,
                        geometry_msgs_msg_dds__TransformStamped_& out) {
  out = geometry_msgs_msg_dds__TransformStamped_{};
  out.header = HeaderOf(options.parentFrame.c_str(), stamp);
  out.child_frame_id = const_cast<char*>(options.frameId.c_str());
  const auto& [x, y, z, roll, pitch, yaw] = options.mount;
  out.transform.translation = {x, y, z};
  // Roll about x, then pitch about y, then yaw about z, all fixed axes.
  const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
  const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
  out.transform.rotation.x = sr * cp * cy - cr * sp * sy;
  out.transform.rotation.y = cr * sp * cy + sr * cp * sy;
  out.transform.rotation.z = cr * cp * sy - sr * sp * cy;
  out.transform.rotation.w = cr * cp * cy + sr * sp * sy;
}

void BuildDiagnosticArray(const T_DiagnosticsReport& report, const std::string& name, const std::string& hardwareId,
                          builtin_interfaces_msg_dds__Time_ stamp, T_DiagnosticArray& out) {
  out.values.clear();
  for (const auto& [key, value] : report.values) {
    out.values.push_back({const_cast<char*>(key.c_str()), const_cast<char*>(value.c_str())});
  }
  const uint32_t n = static_cast<uint32_t>(out.values.size());
  out.status.level = report.level;
  out.status.name = const_cast<char*>(name.c_str());
  out.status.message = const_cast<char*>(report.message.c_str());
  out.status.hardware_id = const_cast<char*>(hardwareId.c_str());
  out.status.values = {n, n, out.values.data(), false};
  out.message.header = HeaderOf("", stamp);
  out.message.status = {1, 1, &out.status, false};
}

}  // namespace skarvdds
