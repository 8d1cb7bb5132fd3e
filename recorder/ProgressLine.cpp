#include "ProgressLine.h"

#include <cinttypes>
#include <cstdio>

std::string CProgressLine::Update(const T_DeviceStatus& status, double seconds) {
  const double interval = seconds - mLastSeconds;
  const uint64_t newRecords = status.RecordsProcessed - mLastRecords;
  const double rate = mHadReading && interval > 0.0 ? static_cast<double>(newRecords) / interval : 0.0;
  const char* state = "waiting for the sensor";
  if (status.SensorOpen) {
    if (status.RecordsProcessed == 0) {
      state = "sensor open, no data yet";
    } else {
      state = mHadReading && newRecords == 0 ? "sensor stalled" : "streaming";
    }
    mSensorSeen = true;
  } else if (mSensorSeen) {
    state = "sensor gone, waiting";
  }
  mHadReading = true;
  mLastRecords = status.RecordsProcessed;
  mLastSeconds = seconds;

  std::string file = "no file yet";
  if (!status.FileName.empty()) {
    file = status.FileName + " " + FormatSize(status.FileBytes) + (status.Recording ? "" : " (closed)");
  }
  char text[256];
  std::snprintf(text, sizeof text, "%s | %" PRIu64 " records | %.0f/s | %" PRIu64 " gaps | ", state,
                status.RecordsRecorded, rate, status.Gaps);
  const std::string sensor = status.SensorOpen && !status.Serial.empty() ? status.Serial + ": " : "";
  return sensor + text + file;
}

std::string FormatSize(uint64_t bytes) {
  char text[32];
  if (bytes >= 1000000) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  } else if (bytes >= 1000) {
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
  }
  return text;
}

std::string FormatSummary(const T_DeviceStatus& status, double seconds, const std::string& serial) {
  char text[160];
  std::snprintf(text, sizeof text, "Summary: %" PRIu32 " file%s written, %" PRIu64 " records, %" PRIu64
                " gaps, %.1f s", status.FilesWritten, status.FilesWritten == 1 ? "" : "s", status.RecordsRecorded,
                status.Gaps, seconds);
  std::string summary = text;
  if (!serial.empty()) {
    summary += ", sensor " + serial;
  }
  if (status.FilesWritten > 0) {
    summary += " (last file " + status.FileName + ")";
  }
  return summary + "\n";
}
