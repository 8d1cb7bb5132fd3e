#pragma once
// The sensor's health as ROS 2's diagnostics report it, once a period: a
// level (OK, WARN, ERROR), a message in plain words and the values behind
// it. Plain C++, so what a report says is decided here and the publisher
// only sends it.
//
//   ERROR  no sensor is open; or a recording failed, until one runs again
//   WARN   the open sensor sent no record in the period (stalled), or its
//          record numbers jumped (gaps in the period)
//   OK     otherwise

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DdsOptions.h"
#include "DeviceStatus.h"
#include "RawRecord.h"

namespace skarvdds {

struct T_DiagnosticsReport {
  enum ELevel : uint8_t { eOk = 0, eWarn = 1, eError = 2 };
  ELevel level = eOk;
  std::string message;
  std::vector<std::pair<std::string, std::string>> values;  // key, value
};

class CSensorDiagnostics {
 public:
  explicit CSensorDiagnostics(const T_DdsOptions& options) : mOptions(options) {}

  // The report on the period of `seconds` that ends with `status`; `last` is
  // the last record the sensor sent (null before the first). The first call
  // only marks the start of the first period: none, it has nothing to say.
  std::optional<T_DiagnosticsReport> Next(const T_DeviceStatus& status, const kiv::T_RawRecord* last,
                                          double seconds);

 private:
  const T_DdsOptions& mOptions;
  bool mFirst = true;
  uint64_t mRecords = 0;
  uint64_t mGaps = 0;
  uint32_t mFailures = 0;
  bool mRecordingFailed = false;
};

}  // namespace skarvdds
