#include "SensorDiagnostics.h"

#include <cinttypes>
#include <cstdio>

#include "RosMessages.h"

namespace skarvdds {

namespace {

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace

std::optional<T_DiagnosticsReport> CSensorDiagnostics::Next(const T_DeviceStatus& status,
                                                            const kiv::T_RawRecord* last, double seconds) {
  // The counters only grow: each report tells what they did in its period.
  const uint64_t records = status.RecordsProcessed - mRecords;
  const uint64_t gaps = status.Gaps - mGaps;
  const bool failed = status.RecordingFailures != mFailures;
  const bool first = mFirst;
  mFirst = false;
  mRecords = status.RecordsProcessed;
  mGaps = status.Gaps;
  mFailures = status.RecordingFailures;
  if (first) {
    return std::nullopt;
  }
  mRecordingFailed = failed || (mRecordingFailed && !status.Recording);
  const bool stalled = status.SensorOpen && records == 0;

  T_DiagnosticsReport report;
  if (!status.SensorOpen) {
    report = {T_DiagnosticsReport::eError, "no sensor", {}};
  } else if (mRecordingFailed) {
    report = {T_DiagnosticsReport::eError, "recording failed", {}};
  } else if (stalled) {
    report = {T_DiagnosticsReport::eWarn, "stalled: no records in the last second", {}};
  } else if (gaps > 0) {
    report = {T_DiagnosticsReport::eWarn, std::to_string(gaps) + (gaps == 1 ? " gap" : " gaps") +
                                              " in the record numbers in the last second", {}};
  } else {
    report = {T_DiagnosticsReport::eOk, "OK", {}};
  }
  const bool measured = last && status.SensorOpen;
  auto& values = report.values;
  values.emplace_back("records per second", seconds > 0 ? Fixed(records / seconds, 0) : "0");
  values.emplace_back("gaps", std::to_string(status.Gaps));
  values.emplace_back("laser temperature (C)",
                      measured ? Fixed(LaserTemperature(*last), 2)
                               : "");
  values.emplace_back("IMU temperature (C)",
                      measured ? Fixed(ImuTemperature(*last, mOptions), 2)
                               : "");
  values.emplace_back("supply voltage (V)",
                      measured ? Fixed(SupplyVoltage(*last), 3)
                               : "");
  values.emplace_back("recording file", status.Recording ? status.FileName : "");
  return report;
}

}  // namespace skarvdds
