#include "DdsOptions.h"

#include <charconv>
#include <cmath>

namespace skarvdds {

namespace {

bool ParsePositive(const std::string& text, double& value) {
  double parsed = 0.0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, parsed);
  if (ec != std::errc() || ptr != end || !std::isfinite(parsed) || parsed <= 0.0) {
    return false;
  }
  value = parsed;
  return true;
}

std::string Trimmed(const std::string& ns) {
  const size_t first = ns.find_first_not_of('/');
  if (first == std::string::npos) {
    return {};
  }
  return ns.substr(first, ns.find_last_not_of('/') - first + 1);
}

}  // namespace

bool TakeDdsOption(const std::vector<std::string>& arguments, size_t& at, T_DdsOptions& options,
                   std::string& error) {
  const std::string& name = arguments[at];
  if (name == "--publish") {
    options.publish = true;
    return true;
  }
  if (name == "--subscribe") {
    options.subscribe = true;
    // The namespace is optional: a following argument that is not an option.
    if (at + 1 < arguments.size() && arguments[at + 1].rfind("-", 0) != 0) {
      options.subscribeNs = Trimmed(arguments[++at]);
    }
    return true;
  }
  struct T_Valued {
    const char* name;
    double* number;       // a positive number, or
    std::string* text;    // any text
  };
  const T_Valued valued[] = {
      {"--namespace", nullptr, &options.ns},
      {"--frame-id", nullptr, &options.frameId},
      {"--range-scale", &options.rangeScale, nullptr},
      {"--imu-rate", &options.imuRate, nullptr},
      {"--accel-scale", &options.accelScale, nullptr},
      {"--gyro-scale", &options.gyroScale, nullptr},
      {"--mag-scale", &options.magScale, nullptr},
      {"--imu-temp-scale", &options.imuTempScale, nullptr},
  };
  for (const T_Valued& option : valued) {
    if (name != option.name) {
      continue;
    }
    if (at + 1 >= arguments.size()) {
      error = name + " needs a value";
      return true;
    }
    const std::string& value = arguments[++at];
    if (option.text) {
      *option.text = option.text == &options.ns ? Trimmed(value) : value;
      if (option.text == &options.frameId && value.empty()) {
        error = "--frame-id needs a name";
      }
    } else if (!ParsePositive(value, *option.number)) {
      error = name + " needs a positive number, not '" + value + "'";
    }
    return true;
  }
  return false;
}

std::vector<std::string> TakeDdsOptions(const std::vector<std::string>& arguments, T_DdsOptions& options,
                                        std::string& error) {
  std::vector<std::string> rest;
  for (size_t at = 0; at < arguments.size(); ++at) {
    std::string optionError;
    if (!TakeDdsOption(arguments, at, options, optionError)) {
      rest.push_back(arguments[at]);
    } else if (!optionError.empty() && error.empty()) {
      error = optionError;
    }
  }
  return rest;
}

std::string DdsUsage() {
  return "\n"
         "  --publish          publish the sensor on DDS under ROS 2's names: scan (LaserScan),\n"
         "                     imu, mag, imu/temperature, temperature and records (every record);\n"
         "                     DDS domain from ROS_DOMAIN_ID (default 0)\n"
         "  --namespace NS     publish under rt/NS/ (ROS 2 namespace /NS)\n"
         "  --frame-id ID      frame of every message (default skarv)\n"
         "  --range-scale M    metres per distance unit of the sensor (default 0.01)\n"
         "  --imu-rate HZ      Imu, MagneticField and Temperature messages a second (default 100)\n"
         "  --accel-scale S    m/s^2 per accelerometer count (default 9.80665/16384)\n"
         "  --gyro-scale S     rad/s per gyroscope count (default pi/180/131)\n"
         "  --mag-scale S      tesla per magnetometer count (default 0.15e-6)\n"
         "  --imu-temp-scale S degrees C per IMU temperature count, from 95 at 0 (default 1/188.89)\n"
         "  --subscribe [NS]   take the records published by another machine (under NS) as the\n"
         "                     sensor; no commands reach that sensor\n";
}

std::string TopicName(const std::string& ns, const std::string& name) {
  const std::string trimmed = Trimmed(ns);
  return trimmed.empty() ? "rt/" + name : "rt/" + trimmed + "/" + name;
}

}  // namespace skarvdds
