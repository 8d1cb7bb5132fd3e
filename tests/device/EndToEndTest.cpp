// The whole data path and the command handshake against the virtual sensor.

#include <atomic>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <thread>

#include "EndToEndFixture.h"

namespace {

using EndToEnd = EndToEndFixture;

// The gap reports "Skiped records = <missing> at <count>" in the output.
std::vector<std::pair<int, int>> GapReports(const std::string& out) {
  std::vector<std::pair<int, int>> reports;
  for (size_t at = out.find("Skiped records = "); at != std::string::npos; at = out.find("Skiped records = ", at + 1)) {
    int missing = -1;
    int count = -1;
    if (std::sscanf(out.c_str() + at, "Skiped records = %d at %d\n", &missing, &count) == 2) {
      reports.emplace_back(missing, count);
    }
  }
  return reports;
}

TEST_F(EndToEnd, RecordingHoldsOneLinePerSampleSentInOrder) {
  controller->RequestRecording(true);
  Run(4000);
  ASSERT_NE(controller->mSaveFile.load(), nullptr);
  EXPECT_EQ(controller->GetCurrentFileName(), "SkarvData-1.csv");
  controller->RequestRecording(false);
  Run(10);
  EXPECT_EQ(controller->mSaveFile.load(), nullptr);

  std::string header;
  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv", &header);
  EXPECT_EQ(header,
            "Count,DeltTime,Distance,Width,AnaTemp,ScanState,LaserPower,SupplyVoltage,AccelX,AccelY,AccelZ,IMUTemp,"
            "GyroX,GyroY,GyroZ,MagX,MagY,MagZ");
  const std::vector<uint16_t> sentCounts = Sent();
  // The stream begins 1320 frames ahead; from then on every sample sent is
  // recorded, except those still in transfers when recording stopped.
  ASSERT_GT(recorded.size(), 40u * 2000);
  ASSERT_LE(recorded.size(), sentCounts.size());
  EXPECT_GE(recorded.size() + 10 * 16 * 40, sentCounts.size());
  for (size_t i = 0; i < recorded.size(); ++i) {
    ASSERT_EQ(recorded[i], sentCounts[i]) << "line " << i + 2;
  }
}

TEST_F(EndToEnd, ScansMatchTheRoomTheSensorSees) {
  int lastScan = 0;
  Run(3000, &lastScan);
  ASSERT_EQ(lastScan, 1998) << "1998 samples a rotation";
  ASSERT_EQ(controller->mFoundScanSize, 1998);
  EXPECT_GT(controller->GetCurRotTime(), 0);
  int close = 0;
  for (int i = 0; i < 1998; ++i) {
    const double expected = sensor->Room().DistanceAt(2.0 * std::numbers::pi * i / 1998);
    if (std::abs(controller->mLastScanDist[i] - expected) < 1.0) ++close;
  }
  EXPECT_GT(close, 1960) << "all but the rare stray points";
}

TEST_F(EndToEnd, UnplugAndReplugDuringRecordingKeepsTheFileAndReportsTheGap) {
  controller->RequestRecording(true);
  Run(2000);
  const size_t before = Sent().size();
  ASSERT_GT(before, 0u);
  std::string out = Quietly([&] {
    bus->Unplug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  out = Run(500);
  EXPECT_NE(out.find("Removed cleanup start"), std::string::npos);
  EXPECT_NE(controller->mSaveFile.load(), nullptr) << "the recording spans the removal";
  EXPECT_EQ(controller->mPort.mUSBHandle.load(), nullptr);

  Quietly([&] {
    bus->Plug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  out = Run(2500);
  // The sensor starts counting again from 0 after its power-up: the first
  // record after the reopening sets the reference, so nothing is reported.
  EXPECT_TRUE(GapReports(out).empty()) << out.substr(0, 2000);
  controller->RequestRecording(false);
  Run(10);
  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv");
  const std::vector<uint16_t> sentCounts = Sent();
  ASSERT_GT(sentCounts.size(), before);
  // Lines resumed after the replug: the last recorded sample is one sent after it.
  EXPECT_GT(recorded.size(), before);
  size_t breaks = 0;
  for (size_t i = 1; i < recorded.size(); ++i) {
    if (static_cast<uint16_t>(recorded[i - 1] + 1) != recorded[i]) ++breaks;
  }
  EXPECT_EQ(breaks, 1u) << "one jump, where the sensor was away";
}

TEST_F(EndToEnd, CountsWrapWithoutAGapAndDroppedSamplesAreReported) {
  EXPECT_EQ(Run(1500).find("Skiped"), std::string::npos) << "the first record sets the reference";
  // 40 samples a millisecond: the counts wrap after about 1.6 s.
  std::string out = Run(3500);
  EXPECT_EQ(out.find("Skiped"), std::string::npos);
  ASSERT_GT(sensor->SamplesTaken(), 65536u + 1000) << "the counts have wrapped during the run";
  sensor->DropSamples(2);
  out = Run(200);
  const auto reports = GapReports(out);
  ASSERT_EQ(reports.size(), 1u) << out.substr(0, 500);
  EXPECT_EQ(reports[0].first, 2);
}

TEST_F(EndToEnd, ANameTakenByADirectoryMovesTheRecordingToTheNextNumber) {
  std::filesystem::create_directory("SkarvData-1.csv");  // the name is taken by a directory
  Run(1500);
  const int countBefore = controller->mRecordCount;
  controller->RequestRecording(true);
  const std::string out = Run(500);
  EXPECT_EQ(out.find("Error opening save data file."), std::string::npos) << out.substr(0, 500);
  EXPECT_TRUE(controller->mWriteFile.load());
  EXPECT_NE(controller->mSaveFile.load(), nullptr);
  EXPECT_NE(controller->mRecordCount, countBefore) << "records are still processed";
  EXPECT_EQ(controller->GetCurrentFileName(), "SkarvData-2.csv");
  EXPECT_TRUE(std::filesystem::is_directory("SkarvData-1.csv"));
}

TEST_F(EndToEnd, ShutdownClosesTheRecordingFileWithEveryLine) {
  controller->RequestRecording(true);
  Run(2000);
  Quietly([&] { controller.reset(); });
  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv");
  const std::vector<uint16_t> sentCounts = Sent();
  ASSERT_GT(recorded.size(), 1000u);
  EXPECT_EQ(recorded.back(), sentCounts[recorded.size() - 1]) << "nothing lost in the stream's buffer";
}

TEST_F(EndToEnd, FirstPollAsksForStatusAndOnePollReportsTheEcho) {
  std::string out = Quietly([&] { EXPECT_FALSE(controller->HandleStatusPipe()); });
  EXPECT_NE(out.find("------------------- Sending command =  , data = 0, num = 11\n"), std::string::npos) << out;
  EXPECT_EQ(controller->mStatusState, CSkarvIO::kStatusAwaitEcho);
  out = Quietly([&] { EXPECT_TRUE(controller->HandleStatusPipe()); });
  EXPECT_NE(out.find("Got Status Data:\n258\n100\n50\n200\n150\n1000\n1000\n0\n11\n"), std::string::npos) << out;
  Quietly([&] { EXPECT_FALSE(controller->HandleStatusPipe()); });
  EXPECT_EQ(controller->mStatusState, CSkarvIO::kStatusIdle);
}

TEST_F(EndToEnd, SettingIsSentAcknowledgedAndShown) {
  Quietly([&] {
    controller->HandleStatusPipe();
    controller->HandleStatusPipe();
    controller->HandleStatusPipe();
    WaitIdle(controller->mCmdPipe);
    controller->SetFarGain(70000);
  });
  EXPECT_EQ(sensor->Values()[1], 4464);
  bool fresh = false;
  Quietly([&] { fresh = controller->HandleStatusPipe(); });
  EXPECT_TRUE(fresh);
  EXPECT_EQ(controller->mParameters.Values[1], 4464);
}

TEST_F(EndToEnd, NumberWrapsFrom65535ToZeroAndIsAccepted) {
  controller->mCmdNumber = 65535;
  Quietly([&] { controller->SetThreshold(-1); });
  EXPECT_EQ(controller->mCmdNumber, 0);
  EXPECT_EQ(sensor->Values()[3], 65535);
  EXPECT_EQ(sensor->LastCommandNumber(), 0);
  bool fresh = false;
  Quietly([&] { fresh = controller->HandleStatusPipe(); });
  EXPECT_TRUE(fresh);
}

TEST_F(EndToEnd, SilentDeviceIsAskedAgainOnThe22ndWrongPoll) {
  Quietly([&] {
    controller->HandleStatusPipe();
    controller->HandleStatusPipe();
  });
  ASSERT_EQ(controller->mStatusState, CSkarvIO::kStatusFresh);
  sensor->SetStatusSilent(true);
  WaitIdle(controller->mCmdPipe);
  Quietly([&] { controller->SetCloseGain(5); });
  const uint16_t sentNumber = controller->mCmdNumber;
  std::string out = Quietly([&] {
    for (int poll = 1; poll <= 21; ++poll) {
      EXPECT_FALSE(controller->HandleStatusPipe());
    }
  });
  EXPECT_EQ(controller->mStatusState, CSkarvIO::kStatusRequest);
  EXPECT_EQ(controller->mCmdNumber, sentNumber) << "no new command yet";
  out = Quietly([&] { controller->HandleStatusPipe(); });
  EXPECT_EQ(controller->mCmdNumber, static_cast<uint16_t>(sentNumber + 1));
  EXPECT_NE(out.find("Sending command =  , data = 0"), std::string::npos) << out;
}

}  // namespace
