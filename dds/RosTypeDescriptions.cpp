#include "RosTypeDescriptions.h"

#include <map>
#include <string>

namespace skarvdds {

namespace {

using namespace fieldtype;

constexpr std::string_view kTime = "builtin_interfaces/msg/Time";
constexpr std::string_view kHeader = "std_msgs/msg/Header";
constexpr std::string_view kVector3 = "geometry_msgs/msg/Vector3";
constexpr std::string_view kQuaternion = "geometry_msgs/msg/Quaternion";
constexpr std::string_view kTransform = "geometry_msgs/msg/Transform";
constexpr std::string_view kTransformStamped = "geometry_msgs/msg/TransformStamped";
constexpr std::string_view kKeyValue = "diagnostic_msgs/msg/KeyValue";
constexpr std::string_view kDiagnosticStatus = "diagnostic_msgs/msg/DiagnosticStatus";

constexpr T_FieldDescription kTimeFields[] = {{"sec", kInt32}, {"nanosec", kUint32}};
constexpr T_FieldDescription kHeaderFields[] = {{"stamp", kNested, 0, 0, kTime}, {"frame_id", kString}};
constexpr T_FieldDescription kVector3Fields[] = {{"x", kDouble}, {"y", kDouble}, {"z", kDouble}};
constexpr T_FieldDescription kQuaternionFields[] = {{"x", kDouble}, {"y", kDouble}, {"z", kDouble}, {"w", kDouble}};
constexpr T_FieldDescription kTransformFields[] = {{"translation", kNested, 0, 0, kVector3},
                                                   {"rotation", kNested, 0, 0, kQuaternion}};
constexpr T_FieldDescription kTransformStampedFields[] = {
    {"header", kNested, 0, 0, kHeader}, {"child_frame_id", kString}, {"transform", kNested, 0, 0, kTransform}};
constexpr T_FieldDescription kLaserScanFields[] = {
    {"header", kNested, 0, 0, kHeader},
    {"angle_min", kFloat},
    {"angle_max", kFloat},
    {"angle_increment", kFloat},
    {"time_increment", kFloat},
    {"scan_time", kFloat},
    {"range_min", kFloat},
    {"range_max", kFloat},
    {"ranges", kFloat + kUnboundedSequence},
    {"intensities", kFloat + kUnboundedSequence}};
constexpr T_FieldDescription kImuFields[] = {{"header", kNested, 0, 0, kHeader},
                                             {"orientation", kNested, 0, 0, kQuaternion},
                                             {"orientation_covariance", kDouble + kArray, 9},
                                             {"angular_velocity", kNested, 0, 0, kVector3},
                                             {"angular_velocity_covariance", kDouble + kArray, 9},
                                             {"linear_acceleration", kNested, 0, 0, kVector3},
                                             {"linear_acceleration_covariance", kDouble + kArray, 9}};
constexpr T_FieldDescription kMagneticFieldFields[] = {{"header", kNested, 0, 0, kHeader},
                                                       {"magnetic_field", kNested, 0, 0, kVector3},
                                                       {"magnetic_field_covariance", kDouble + kArray, 9}};
constexpr T_FieldDescription kTemperatureFields[] = {
    {"header", kNested, 0, 0, kHeader}, {"temperature", kDouble}, {"variance", kDouble}};
constexpr T_FieldDescription kTfMessageFields[] = {{"transforms", kNested + kUnboundedSequence, 0, 0, kTransformStamped}};
constexpr T_FieldDescription kKeyValueFields[] = {{"key", kString}, {"value", kString}};
// `byte level`; the level constants OK..STALE are no part of the description.
constexpr T_FieldDescription kDiagnosticStatusFields[] = {{"level", kByte},
                                                          {"name", kString},
                                                          {"message", kString},
                                                          {"hardware_id", kString},
                                                          {"values", kNested + kUnboundedSequence, 0, 0, kKeyValue}};
constexpr T_FieldDescription kDiagnosticArrayFields[] = {
    {"header", kNested, 0, 0, kHeader}, {"status", kNested + kUnboundedSequence, 0, 0, kDiagnosticStatus}};
// idl/SkarvRecordTypes.idl
constexpr T_FieldDescription kRawRecordBatchFields[] = {{"header", kNested, 0, 0, kHeader},
                                                        {"batch", kUint64},
                                                        {"words", kUint16 + kUnboundedSequence},
                                                        {"serial", kString}};

constexpr T_TypeDescription kTypes[] = {
    {kTime, kTimeFields},
    {kHeader, kHeaderFields},
    {kVector3, kVector3Fields},
    {kQuaternion, kQuaternionFields},
    {kTransform, kTransformFields},
    {kTransformStamped, kTransformStampedFields},
    {"sensor_msgs/msg/LaserScan", kLaserScanFields},
    {"sensor_msgs/msg/Imu", kImuFields},
    {"sensor_msgs/msg/MagneticField", kMagneticFieldFields},
    {"sensor_msgs/msg/Temperature", kTemperatureFields},
    {"tf2_msgs/msg/TFMessage", kTfMessageFields},
    {kKeyValue, kKeyValueFields},
    {kDiagnosticStatus, kDiagnosticStatusFields},
    {"diagnostic_msgs/msg/DiagnosticArray", kDiagnosticArrayFields},
    {"skarv_msgs/msg/RawRecordBatch", kRawRecordBatchFields},
};

// ROS type name to hash, for every type above.
std::map<std::string, std::string, std::less<>> ComputeHashes() {
  std::map<std::string, std::string, std::less<>> hashes;
  for (const T_TypeDescription& type : kTypes) {
    std::string error;
    const std::string hash = Rihs01Hash(type.name, kTypes, error);
    if (!hash.empty()) {
      hashes.emplace(type.name, hash);
    }
  }
  return hashes;
}

}  // namespace

std::span<const T_TypeDescription> RosTypeDescriptions() { return kTypes; }

std::string_view TypeHashOf(std::string_view ddsTypeName) {
  static const std::map<std::string, std::string, std::less<>> hashes = ComputeHashes();
  const auto found = hashes.find(RosTypeName(ddsTypeName));
  return found == hashes.end() ? std::string_view() : std::string_view(found->second);
}

}  // namespace skarvdds
