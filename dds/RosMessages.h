#pragma once
// The contents of the ROS 2 messages built from the sensor's scans and
// records, in the C types idlc generates from idl/. Plain functions, so
// what a message holds is decided here and the publisher only sends it.
//
// Geometry (REP 103): x to the right of the scan view's picture and y up it.
// The scan view draws point i at angle i x 0.18 degrees, point 0 straight
// below the centre and the points turning counter-clockwise; so point i is
// at angle -90 degrees + i x 0.18 degrees about z, and a viewer drawing the
// scan in the x-y plane shows the picture of the scan view.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "DdsOptions.h"
#include "RawRecord.h"
#include "RosMessageTypes.h"

namespace skarvdds {

// The sensor's DeltTime unit, and so the unit of rotation times: 10 us.
inline constexpr double kSecondsPerTimeUnit = 1e-5;
// A scan point the controller held at 0 was out of range.
inline constexpr double kScanAngleStep = 3.14159265358979323846 / 1000.0;  // 0.18 degrees
inline constexpr double kScanAngleStart = -3.14159265358979323846 / 2.0;
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

// Fills `out` from one completed scan: distances (0 for a point out of
// range) and widths; `rotationUnits` is the rotation time in 10 us units,
// `stamp` the time of the scan's first point. A point held at 0 becomes
// +Inf (no return within range, REP 117); its intensity is 0.
void BuildLaserScan(const std::vector<double>& distances, const std::vector<double>& widths,
                    uint32_t rotationUnits, double rangeScale, const char* frameId,
                    builtin_interfaces_msg_dds__Time_ stamp, T_LaserScan& out);

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
