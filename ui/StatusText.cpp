#include "StatusText.h"

#include <cmath>
#include <cstdio>

namespace ui {

namespace {

constexpr const char* kWaitingText = "No sensor - waiting for USB E785:64F2";

double Seconds(CStatusText::Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

void CStatusText::Update(const T_DeviceStatus& status, Clock::time_point now) {
  if (!status.SensorOpen) {
    mWasOpen = false;
    mSamples.clear();
    mRate = 0.0;
    mState = eSensorState::kNoSensor;
    Compose(status, now);
    return;
  }
  if (!mWasOpen) {
    // A new opening: the count before it says nothing about this sensor.
    mWasOpen = true;
    mHadRecords = false;
    mOpenedAt = now;
    mSamples.clear();
  }
  if (!mSamples.empty() && status.RecordsProcessed != mSamples.back().records) {
    mHadRecords = true;
    mLastRecordsAt = now;
  }
  mSamples.push_back({now, status.RecordsProcessed});
  // Keep about one second of readings, and always at least two.
  while (mSamples.size() > 2 && now - mSamples[1].time >= kStallTime) {
    mSamples.pop_front();
  }

  if (mHadRecords && now - mLastRecordsAt < kStallTime) {
    const bool began = mState != eSensorState::kStreaming;
    mState = eSensorState::kStreaming;
    const T_Sample& first = mSamples.front();
    const double span = Seconds(now - first.time);
    mRate = span > 0.0 ? static_cast<double>(status.RecordsProcessed - first.records) / span : 0.0;
    if (began || now - mRateShownAt >= kRateShownFor) {
      mRateShown = mRate;
      mRateShownAt = now;
    }
  } else {
    mRate = 0.0;
    mState = !mHadRecords && now - mOpenedAt < kFirstRecordsTime ? eSensorState::kStarting : eSensorState::kStalled;
  }
  Compose(status, now);
}

std::string WindowTitle(const std::string& name, const std::string& serial) {
  if (serial.empty() || name.empty()) {
    return name + serial;
  }
  return name + " - " + serial;
}

void CStatusText::Compose(const T_DeviceStatus& status, Clock::time_point now) {
  const std::string kind = status.Remote ? "Remote sensor" : "Sensor";
  const std::string sensor = status.Serial.empty() ? kind : kind + " " + status.Serial;
  char text[160];
  switch (mState) {
    case eSensorState::kNoSensor:
      mSensorLine = kWaitingText;
      break;
    case eSensorState::kStarting:
      mSensorLine = sensor + " open - waiting for records";
      break;
    case eSensorState::kStreaming:
      std::snprintf(text, sizeof text, " - streaming %.0f records/s", std::round(mRateShown));
      mSensorLine = sensor + text;
      break;
    case eSensorState::kStalled:
      std::snprintf(text, sizeof text, " open - stalled, no records for %.0f s",
                    std::floor(Seconds(now - (mHadRecords ? mLastRecordsAt : mOpenedAt))));
      mSensorLine = sensor + text;
      break;
  }
  if (status.Recording) {
    mSensorLine += " | Recording " + status.FileName + ", " + FormatBytes(status.FileBytes);
  }
  mErrorLine = status.LastError.empty() ? std::string() : "Last error: " + status.LastError;
}

std::string CStatusText::FormatBytes(uint64_t bytes) {
  char text[64];
  if (bytes < 1000) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1000 * 1000) {
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1e3);
  } else if (bytes < 1000ull * 1000 * 1000) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  } else {
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / 1e9);
  }
  return text;
}

}  // namespace ui
