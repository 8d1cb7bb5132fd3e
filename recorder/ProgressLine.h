#pragma once
// The recorder's words for what it is doing: the progress line it refreshes
// on a terminal once a second, and the summary it prints at the end.

#include <cstdint>
#include <string>

#include "DeviceStatus.h"

class CProgressLine {
 public:
  // The line for a reading of the controller taken `seconds` after the
  // start: sensor state (after the sensor's serial number, while it is
  // open), records, records per second since the previous
  // reading, gaps, and the recording's name and size. No line end.
  std::string Update(const T_DeviceStatus& status, double seconds);

 private:
  bool mHadReading = false;
  bool mSensorSeen = false;
  uint64_t mLastRecords = 0;
  double mLastSeconds = 0.0;
};

// "5.2 MB", "812.4 kB", "95 B".
std::string FormatSize(uint64_t bytes);

// The closing line: files written (and the last one's name), records, gaps,
// how long the recording ran and the serial number of the sensor recorded
// (left out when empty: no sensor was found).
std::string FormatSummary(const T_DeviceStatus& status, double seconds, const std::string& serial);
