#pragma once
// The contents of the ROS 2 messages built from the sensor's scans and
// records, in the C types idlc generates from idl/. Plain functions, so
// what a message holds is decided here and the publisher only sends it.
//
// Geometry (REP 103): x to the right of the scan view's picture and y up it.
// The scan view draws a rotation's point i at angle i x 0.18 degrees, point
// 0 straight below the centre and the points turning counter-clockwise; so
// point i is at angle -90 degrees + i x 0.18 degrees about z, and a viewer
// drawing the scan in the x-y plane shows the picture of the scan view. A
// LaserScan starts at -180 degrees (see RotationScanner.h).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "DdsOptions.h"
#include "RawRecord.h"
#include "RosMessageTypes.h"
#include "RotationScanner.h"
#include "SensorDiagnostics.h"

namespace skarvdds {

inline constexpr double kScanAngleStep = 2.0 * 3.14159265358979323846 / CRotationScanner::kPoints;  // 0.18 degrees
// Distances of 2000 units and more are out of range for the controller.
inline constexpr double kMaxRangeUnits = 2000.0;
// The smallest distance a sample can carry: one raw step.
inline constexpr double kMinRangeUnits = 0.1;

builtin_interfaces_msg_dds__Time_ StampOf(std::chrono::system_clock::time_point time);

// A LaserScan together with the storage its sequences point into; it must
// not be copied once filled (the message points into the vectors).
struct T_LaserScan {
  sensor_msgs_msg_dds__LaserScan_ message{};
  std::vector<float> ranges;
  std::vector<float> intensities;
};

// The first angle of every LaserScan: -pi, or the float nearest it that is
// not below it (a consumer that checks the scan against [-pi, pi] in double
// would refuse the float below).
float ScanAngleMin();

// Fills `out` from one scan of the rotation scanner, stamped `stamp` (its
// first point's time, or just after the last scan's); `rotationUnits` is the
// rotation time in 10 us units. angle_max = angle_min + (kPoints - 1) x
// angle_increment, within pi.
void BuildLaserScan(const T_ScanPoints& points, builtin_interfaces_msg_dds__Time_ stamp, uint32_t rotationUnits,
                    double rangeScale, const char* frameId, T_LaserScan& out);

// What the record says in SI units, as the control panel shows it: the
// IMU's temperature through the IMU temperature scale, the laser's analog
// temperature and the supply voltage as the decoder scales them.
double ImuTemperature(const kiv::T_RawRecord& words, const T_DdsOptions& options);
double LaserTemperature(const kiv::T_RawRecord& words);
double SupplyVoltage(const kiv::T_RawRecord& words);

// The transform /tf_static holds: from the parent frame to the frame id, at
// the mount the options give. `out` points into the options' names.
void FillMountTransform(const T_DdsOptions& options, builtin_interfaces_msg_dds__Time_ stamp,
                        geometry_msgs_msg_dds__TransformStamped_& out);

// A DiagnosticArray of one status, with the storage it points into; it must
// not be copied once filled.
struct T_DiagnosticArray {
  diagnostic_msgs_msg_dds__DiagnosticArray_ message{};
  diagnostic_msgs_msg_dds__DiagnosticStatus_ status{};
  std::vector<diagnostic_msgs_msg_dds__KeyValue_> values;
};
// `out` points into `report` and the names, which must outlive its writing.
void BuildDiagnosticArray(const T_DiagnosticsReport& report, const std::string& name, const std::string& hardwareId,
                          builtin_interfaces_msg_dds__Time_ stamp, T_DiagnosticArray& out);

// The IMU messages from one record's raw words (the frame header's IMU
// block and laser temperature). Orientation is not measured: its
// covariance's first element is -1; the other covariances are 0 (unknown).
void FillImu(const kiv::T_RawRecord& words, const T_DdsOptions& options, const char* frameId,
             builtin_interfaces_msg_dds__Time_ stamp, sensor_msgs_msg_dds__Imu_& out);
void FillMagneticField(const kiv::T_RawRecord& words, const T_DdsOptions& options, const char* frameId,
                       builtin_interfaces_msg_dds__Time_ stamp, sensor_msgs_msg_dds__MagneticField_& out);
// The IMU's own temperature, through the IMU temperature scale.
void FillImuTemperature(const kiv::T_RawRecord& words, const T_DdsOptions& options, const char* frameId,
                        builtin_interfaces_msg_dds__Time_ stamp, sensor_msgs_msg_dds__Temperature_& out);
// The laser's analog temperature, as the decoder scales it.
void FillLaserTemperature(const kiv::T_RawRecord& words, const char* frameId,
                          builtin_interfaces_msg_dds__Time_ stamp, sensor_msgs_msg_dds__Temperature_& out);

}  // namespace skarvdds
