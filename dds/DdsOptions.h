#pragma once
// The command-line options of the DDS front end, shared by every program
// that offers them: --publish with its namespace, frame and scale options,
// and --subscribe. A program parses them in its own command line by adding
// their table to its own.

#include <array>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace skarvdds {

struct T_DdsOptions {
  bool publish = false;
  std::string ns;                // topics under "rt/<ns>/" when not empty
  std::string frameId = "skarv";
  // Where the sensor sits: /tf_static holds the transform from parentFrame
  // to frameId, a translation in metres (x, y, z) and a rotation in radians
  // (roll, pitch, yaw about the fixed x, y and z axes, as tf2 takes them).
  std::string parentFrame = "base_link";
  std::array<double, 6> mount{};
  // The frame of the IMU's messages, when it sits apart from the scan's.
  std::string imuFrameId;
  const std::string& ImuFrame() const { return imuFrameId.empty() ? frameId : imuFrameId; }
  // The ROS topics' QoS: reliable, keep last 10 (ROS 2's default profile), or
  // best effort, keep last 5 (its sensor-data profile). Records stay
  // reliable and keep all either way.
  bool sensorDataQos = false;
  // Metres per distance unit of the sensor. The protocol does not fix the
  // unit; by default a distance of 100 is taken to be one metre.
  double rangeScale = 0.01;
  double imuRate = 100.0;        // Imu, MagneticField and Temperature messages a second
  // Raw IMU counts to SI units: 16384 counts per g (a +-2 g accelerometer),
  // 131 counts per degree a second (+-250 deg/s gyroscope), 0.15 uT a count
  // (magnetometer); the IMU temperature as the control panel computes it.
  double accelScale = 9.80665 / 16384.0;                   // m/s^2 per count
  double gyroScale = 3.14159265358979323846 / 180.0 / 131.0;  // rad/s per count
  double magScale = 0.15e-6;                               // tesla per count
  double imuTempScale = 0.005294086505373498;              // deg C per count
  double imuTempOffset = 95.0;                             // deg C at count 0
  bool subscribe = false;
  std::string subscribeNs;       // the publisher's namespace to take records from
};

// The options, each setting its field of `options`.
std::vector<T_CommandOption> DdsOptionTable(T_DdsOptions& options);

// The lines describing these options, for a program's usage text.
std::string DdsUsage();

// "rt/" + namespace + "/" + name, or "rt/" + name without a namespace; the
// namespace's own leading and trailing slashes are dropped.
std::string TopicName(const std::string& ns, const std::string& name);

}  // namespace skarvdds
