#include "TrendChannels.h"

#include <cstddef>

namespace trends {

const char* ChannelName(int channel) {
  static constexpr std::array<const char*, kChannels> kNames = {
      "distance",   "filtered_distance", "std_dev", "width",   "laser_temp_c", "imu_temp_c",
      "supply_v",   "accel_x",           "accel_y", "accel_z", "gyro_x",       "gyro_y",
      "gyro_z",     "mag_x",             "mag_y",   "mag_z"};
  return channel >= 0 && channel < kChannels ? kNames[static_cast<size_t>(channel)] : "";
}

}  // namespace trends
