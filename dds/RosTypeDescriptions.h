#pragma once
// The descriptions of the ROS 2 message types this client publishes or reads,
// field for field as their .msg definitions give them, and the type hashes
// taken of them, for every endpoint's USER_DATA.

#include <span>
#include <string_view>

#include "TypeHash.h"

namespace skarvdds {

// builtin_interfaces Time, std_msgs Header, geometry_msgs Vector3,
// Quaternion, Transform and TransformStamped, sensor_msgs LaserScan, Imu,
// MagneticField and Temperature, tf2_msgs TFMessage, diagnostic_msgs
// DiagnosticArray, DiagnosticStatus and KeyValue, skarv_msgs RawRecordBatch.
std::span<const T_TypeDescription> RosTypeDescriptions();

// The RIHS01 hash of the type DDS names `ddsTypeName`
// ("sensor_msgs::msg::dds_::LaserScan_"), or empty for a type not described
// here. The hashes are taken once, on the first call, from any thread.
std::string_view TypeHashOf(std::string_view ddsTypeName);

}  // namespace skarvdds
