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

// Fills `out` from one scan of the rotation scanner; `rotationUnits` is the
// rotation time in 10 us units. angle_max = angle_min + (kPoints - 1) x
// angle_increment, within pi.
void BuildLaserScan(const T_ScanPoints& points, uint32_t rotationUnits, double rangeScale, const char* frameId,
                    T_LaserScan& out);

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
