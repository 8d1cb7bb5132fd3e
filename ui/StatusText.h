#pragma once
// The words of the control panel's status line, worked out from successive
// readings of the controller's status: whether a sensor is open, whether
// its records are flowing and at what rate, the recording, the last error.
// Kept apart from the widgets so that it can be checked without a display.

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "DeviceStatus.h"

namespace ui {

enum class eSensorState {
  kNoSensor,   // waiting for the sensor to be plugged in
  kStarting,   // open, no records yet since it was opened
  kStreaming,  // records arrived within the last second
  kStalled,    // open, but no records for a second or more
};

// A window's title with the serial number of the sensor open ("KivView -
// SKV00002"; the serial alone for a window without a name of its own), or
// its name alone while no sensor is open.
std::string WindowTitle(const std::string& name, const std::string& serial);

class CStatusText {
 public:
  using Clock = std::chrono::steady_clock;

  // Records that stop for this long make a stalled stream.
  static constexpr std::chrono::milliseconds kStallTime{1000};
  // The rate on the line is renewed this often while streaming: renewed at
  // every refresh it would flicker in its last digits, as records come in
  // bursts, and repaint the line ten times a second.
  static constexpr std::chrono::milliseconds kRateShownFor{1000};
  // A freshly opened sensor may take this long for its first records.
  static constexpr std::chrono::milliseconds kFirstRecordsTime{2000};

  // Takes one refresh's reading, read at `now`.
  void Update(const T_DeviceStatus& status, Clock::time_point now);

  eSensorState State() const { return mState; }
  // Records per second over about the last second; 0 while not streaming.
  double RecordsPerSecond() const { return mRate; }

  // "No sensor - waiting for USB E785:64F2", "Sensor 1234 - streaming 39960
  // records/s | Recording SkarvData-1.csv, 12.4 kB" and the like.
  const std::string& SensorLine() const { return mSensorLine; }
  // "Last error: ..." while the controller has reported one, else empty.
  const std::string& ErrorLine() const { return mErrorLine; }

  // A byte count in words: "512 bytes", "12.4 kB", "3.1 MB".
  static std::string FormatBytes(uint64_t bytes);

 private:
  struct T_Sample {
    Clock::time_point time;
    uint64_t records;
  };

  void Compose(const T_DeviceStatus& status, Clock::time_point now);

  eSensorState mState = eSensorState::kNoSensor;
  double mRate = 0.0;
  bool mWasOpen = false;
  bool mHadRecords = false;  // records arrived since the sensor was opened
  Clock::time_point mOpenedAt{};
  Clock::time_point mLastRecordsAt{};
  double mRateShown = 0.0;
  Clock::time_point mRateShownAt{};
  std::deque<T_Sample> mSamples;  // the readings of about the last second
  std::string mSensorLine;
  std::string mErrorLine;
};

}  // namespace ui
