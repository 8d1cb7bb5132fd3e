#include "DdsOptions.h"

namespace skarvdds {

namespace {

std::string Trimmed(const std::string& ns) {
  const size_t first = ns.find_first_not_of('/');
  if (first == std::string::npos) {
    return {};
  }
  return ns.substr(first, ns.find_last_not_of('/') - first + 1);
}

// Where the descriptions start in the usage text.
constexpr size_t kUsageColumn = 21;

}  // namespace

std::vector<T_CommandOption> DdsOptionTable(T_DdsOptions& options) {
  const auto scale = [](const char* name, double& target, const char* valueName, const char* description) {
    return NumberOption(name, target, 0.0, EBound::eAbove, "a positive number", valueName, description);
  };
  return {
      FlagOption("--publish", options.publish,
                 "publish the sensor on DDS under ROS 2's names: scan (LaserScan),\n"
                 "imu, mag, imu/temperature, temperature and records (every record),\n"
                 "with /tf_static and /diagnostics; DDS domain from ROS_DOMAIN_ID\n"
                 "(default 0)"),
      {.name = "--namespace",
       .value = EOptionValue::eRequired,
       .take =
           [&options](const std::string& ns) {
             options.ns = Trimmed(ns);
             return std::string();
           },
       .valueName = "NS",
       .description = "publish under rt/NS/ (ROS 2 namespace /NS)"},
      {.name = "--qos",
       .value = EOptionValue::eRequired,
       .take =
           [&options](const std::string& profile) {
             if (profile != "reliable" && profile != "sensor-data") {
               return std::string("reliable or sensor-data");
             }
             options.sensorDataQos = profile == "sensor-data";
             return std::string();
           },
       .valueName = "PROFILE",
       .description = "QoS of the ROS topics: reliable (keep last 10, the default) or\n"
                      "sensor-data (best effort, keep last 5); records stay reliable"},
      TextOption("--frame-id", options.frameId, "a name", "ID", "frame of the scan's messages (default skarv)"),
      TextOption("--parent-frame", options.parentFrame, "a name", "ID",
                 "frame the sensor is mounted in, for /tf_static (default base_link)"),
      NumbersOption("--mount", options.mount, "six numbers X,Y,Z,ROLL,PITCH,YAW", "X,Y,Z,ROLL,PITCH,YAW",
                    "where the sensor sits in the parent frame: metres and radians\n"
                    "(default 0,0,0,0,0,0)"),
      TextOption("--imu-frame-id", options.imuFrameId, "a name", "ID",
                 "frame of the IMU's messages (default: the scan's frame)"),
      scale("--range-scale", options.rangeScale, "M", "metres per distance unit of the sensor (default 0.01)"),
      scale("--imu-rate", options.imuRate, "HZ",
            "Imu, MagneticField and Temperature messages a second (default 100)"),
      scale("--accel-scale", options.accelScale, "S", "m/s^2 per accelerometer count (default 9.80665/16384)"),
      scale("--gyro-scale", options.gyroScale, "S", "rad/s per gyroscope count (default pi/180/131)"),
      scale("--mag-scale", options.magScale, "S", "tesla per magnetometer count (default 0.15e-6)"),
      scale("--imu-temp-scale", options.imuTempScale, "S",
            "degrees C per IMU temperature count, from 95 at 0 (default 1/188.89)"),
      {.name = "--subscribe",
       .value = EOptionValue::eOptional,
       .take =
           [&options](const std::string& ns) {
             options.subscribe = true;
             options.subscribeNs = Trimmed(ns);
             return std::string();
           },
       .valueName = "[NS]",
       .description = "take the records published by another machine (under NS) as the\n"
                      "sensor; no commands reach that sensor"},
  };
}

std::string DdsUsage() {
  T_DdsOptions unused;
  return "\n" + CommandUsage(DdsOptionTable(unused), kUsageColumn);
}

std::string TopicName(const std::string& ns, const std::string& name) {
  const std::string trimmed = Trimmed(ns);
  return trimmed.empty() ? "rt/" + name : "rt/" + trimmed + "/" + name;
}

}  // namespace skarvdds
