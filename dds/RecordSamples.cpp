#include "RecordSamples.h"

#include <algorithm>

namespace skarvdds {

skarv_msgs_msg_dds__SampleRecord_ SampleOf(const kiv::T_RawRecord& r) {
  skarv_msgs_msg_dds__SampleRecord_ s{};
  s.count = r.count;
  s.raw_distance = r.rawDistance;
  s.width = r.width;
  s.scan_state = r.ScanState();
  s.delt_time = r.DeltTime();
  s.raw_supply_voltage = r.rawSupplyVoltage;
  s.raw_ana_temp = r.rawAnaTemp;
  s.laser_power = r.laserPower;
  s.aux_word = r.auxWord;
  std::copy(r.imu.begin(), r.imu.end(), s.imu);
  return s;
}

kiv::T_RawRecord RawRecordOf(const skarv_msgs_msg_dds__SampleRecord_& s) {
  kiv::T_RawRecord r;
  r.count = s.count;
  r.rawDistance = s.raw_distance;
  r.width = s.width;
  r.flags = kiv::T_RawRecord::FlagsOf(s.scan_state, s.delt_time);
  r.rawSupplyVoltage = s.raw_supply_voltage;
  r.rawAnaTemp = s.raw_ana_temp;
  r.laserPower = s.laser_power;
  r.auxWord = s.aux_word;
  std::copy(s.imu, s.imu + 10, r.imu.begin());
  return r;
}

}  // namespace skarvdds
