// The status line's words from successive readings of the controller's
// status, on a clock the test sets.

#include <gtest/gtest.h>

#include <string>

#include "StatusText.h"

namespace {

using namespace std::chrono_literals;
using ui::CStatusText;
using ui::eSensorState;

class StatusTextTest : public ::testing::Test {
 protected:
  // One refresh, `ms` after the start.
  void At(int ms) { text.Update(status, CStatusText::Clock::time_point{} + std::chrono::milliseconds(ms)); }

  T_DeviceStatus status;
  CStatusText text;
};

TEST_F(StatusTextTest, FollowsTheSensorFromWaitingToStreamingToStalled) {
  status.RecordsProcessed = 5000;  // from an earlier sensor
  At(0);
  EXPECT_EQ(text.State(), eSensorState::kNoSensor);
  EXPECT_EQ(text.SensorLine(), "No sensor - waiting for USB E785:64F2");

  status.SensorOpen = true;
  status.Serial = "SK-0042";
  At(100);
  At(900);
  EXPECT_EQ(text.State(), eSensorState::kStarting);
  EXPECT_EQ(text.SensorLine(), "Sensor SK-0042 open - waiting for records");

  // 4000 records every 100 ms: 40000 a second, over the last second only.
  for (int ms = 1000; ms <= 3000; ms += 100) {
    status.RecordsProcessed += ms <= 2000 ? 2000 : 4000;
    At(ms);
  }
  EXPECT_EQ(text.State(), eSensorState::kStreaming);
  EXPECT_NEAR(text.RecordsPerSecond(), 40000.0, 1.0);
  EXPECT_EQ(text.SensorLine(), "Sensor SK-0042 - streaming 40000 records/s");

  // The records stop: streaming for just under a second, then stalled.
  At(3900);
  EXPECT_EQ(text.State(), eSensorState::kStreaming);
  At(4000);
  EXPECT_EQ(text.State(), eSensorState::kStalled);
  EXPECT_EQ(text.RecordsPerSecond(), 0.0);
  At(5500);
  EXPECT_EQ(text.SensorLine(), "Sensor SK-0042 open - stalled, no records for 2 s");

  status.SensorOpen = false;
  At(5600);
  EXPECT_EQ(text.SensorLine(), "No sensor - waiting for USB E785:64F2");
}

// Records come in bursts, so the rate read at each refresh jitters; the
// line shows a new rate once a second, and each new state at once.
TEST_F(StatusTextTest, TheLineRenewsItsRateOnceASecond) {
  status.SensorOpen = true;
  At(0);
  std::string previous;
  for (int ms = 100; ms <= 2000; ms += 100) {
    const int phase = ms % 300;
    status.RecordsProcessed += phase == 0 ? 5000 : phase == 100 ? 3000 : 4000;
    At(ms);
    if (ms == 100 || ms == 1100) {
      EXPECT_NE(text.SensorLine().find(" - streaming "), std::string::npos) << ms;
    } else {
      EXPECT_EQ(text.SensorLine(), previous) << ms << " ms, at " << text.RecordsPerSecond() << " records/s";
    }
    if (ms == 1100) {
      EXPECT_EQ(text.SensorLine(), "Sensor - streaming 40000 records/s");
    }
    previous = text.SensorLine();
  }
  status.SensorOpen = false;
  At(2100);
  EXPECT_EQ(text.SensorLine(), "No sensor - waiting for USB E785:64F2");
}

TEST_F(StatusTextTest, ASensorWhoseRecordsNeverComeIsStalledAfterItsStart) {
  status.SensorOpen = true;
  At(0);
  At(1900);
  EXPECT_EQ(text.SensorLine(), "Sensor open - waiting for records");
  At(2000);
  EXPECT_EQ(text.State(), eSensorState::kStalled);
  EXPECT_EQ(text.SensorLine(), "Sensor open - stalled, no records for 2 s");
  // Plugged in again: a new start, whatever the count did meanwhile.
  status.SensorOpen = false;
  At(2100);
  status.SensorOpen = true;
  status.RecordsProcessed = 100;
  At(2200);
  EXPECT_EQ(text.State(), eSensorState::kStarting);
}

TEST_F(StatusTextTest, RecordingAndTheLastErrorAreShown) {
  status.SensorOpen = true;
  status.Serial = "7";
  status.Recording = true;
  status.FileName = "SkarvData-3.csv";
  status.FileBytes = 12449;
  At(0);
  EXPECT_EQ(text.SensorLine(), "Sensor 7 open - waiting for records | Recording SkarvData-3.csv, 12.4 kB");
  EXPECT_EQ(text.ErrorLine(), "");
  status.LastError = "SkarvData-4.csv: No space left on device";
  At(100);
  EXPECT_EQ(text.ErrorLine(), "Last error: SkarvData-4.csv: No space left on device");

  EXPECT_EQ(CStatusText::FormatBytes(0), "0 bytes");
  EXPECT_EQ(CStatusText::FormatBytes(999), "999 bytes");
  EXPECT_EQ(CStatusText::FormatBytes(3'150'000), "3.1 MB");
  EXPECT_EQ(CStatusText::FormatBytes(5'000'000'000), "5.00 GB");
}

}  // namespace
