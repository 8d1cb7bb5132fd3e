// The controller, the port and the pipes over the real libusb, against the
// sensor emulated at the kernel boundary: streaming, commands, hot-plug and
// faults end to end, in real time.

#include <filesystem>
#include <string>
#include <thread>

#include "LibusbFixture.h"

namespace {

using namespace std::chrono_literals;
using LibusbSensor = LibusbFixture;

constexpr const char* kTooBusy = "the client fell behind the real-time stream (a busy machine?): no verdict on gaps";

size_t ThreadCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

TEST_F(LibusbSensor, RecordsEverySampleOfManyRotationsFromPacketsOfVaryingLength) {
  EXPECT_NE(started.find("Device opened successfully!\n"), std::string::npos) << started;
  const CEmulatedUsbDevice::Counters opened = testbed->Device()->Count();
  EXPECT_GE(opened.claims, 1u);
  EXPECT_EQ(opened.clearHalts, 3u) << "each pipe reset as it is attached";
  EXPECT_TRUE(opened.unknownRequests.empty());
  // A rate whose samples do not fill whole frames: two frame sizes.
  constexpr unsigned kRpm = 1100;
  constexpr size_t kFewer = kRpm * sim::CVirtualSensor::kSamplesPerRotation / 60'000;
  Quietly([&] { controller->SetRotationRate(kRpm); });
  ASSERT_TRUE(WaitFor([&] { return sensor->RotationRpm() == kRpm; }));
  ASSERT_TRUE(WaitIdle(controller->mCmdPipe));

  controller->RequestRecording(true);
  std::string printed = Run(2500ms);
  const size_t sentBeforeStop = Sent().size();
  controller->RequestRecording(false);
  printed += Run(30ms);
  ASSERT_EQ(controller->mSaveFile.load(), nullptr);
  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv");
  const std::vector<uint16_t> sentCounts = Sent();
  if (FellBehind() != 0) GTEST_SKIP() << kTooBusy;
  // The first record sets the gap reference; no sample is missing after it.
  ASSERT_FALSE(sentCounts.empty());
  EXPECT_EQ(Occurrences(printed, "Skiped"), 0u) << printed.substr(0, 2000);
  ASSERT_GT(recorded.size(), 10u * sim::CVirtualSensor::kSamplesPerRotation);
  // From the first transfer on, every sample sent is a line, in order; only
  // those still in the ring's transfers when recording stopped are missing.
  ASSERT_LE(recorded.size(), sentCounts.size());
  EXPECT_GE(recorded.size() + 10 * 16 * (kFewer + 1), sentBeforeStop);
  for (size_t i = 0; i < recorded.size(); ++i) {
    ASSERT_EQ(recorded[i], sentCounts[i]) << "line " << i + 2;
  }
  const std::set<size_t> lengths = PacketLengths();
  EXPECT_TRUE(lengths.count(kHeaderBytes + kFewer * kEntryBytes) &&
              lengths.count(kHeaderBytes + (kFewer + 1) * kEntryBytes))
      << "frames of both sizes";
}

TEST_F(LibusbSensor, CommandsReachTheSensorAndItsParametersComeBack) {
  std::string printed;
  ASSERT_TRUE(PollStatus(20, &printed)) << printed;
  EXPECT_NE(printed.find("Got Status Data:\n258\n100\n50\n200\n150\n1000\n1000\n0\n11\n"), std::string::npos)
      << printed;

  ASSERT_TRUE(WaitIdle(controller->mCmdPipe));
  Quietly([&] { controller->SetFarGain(70000); });
  ASSERT_TRUE(WaitFor([&] { return sensor->Values()[1] == 4464; }));
  EXPECT_EQ(sensor->LastCommandNumber(), controller->mCmdNumber);
  ASSERT_TRUE(PollStatus(20));
  EXPECT_EQ(controller->mParameters.Values[1], 4464);

  // A device that does not answer: the read stays pending at the kernel, and
  // the 22nd wrong poll asks for the status again.
  sensor->SetStatusSilent(true);
  ASSERT_TRUE(WaitIdle(controller->mCmdPipe));
  Quietly([&] { controller->SetCloseGain(5); });
  ASSERT_TRUE(WaitFor([&] { return sensor->Values()[2] == 5; }));
  const uint16_t number = controller->mCmdNumber;
  printed.clear();
  EXPECT_FALSE(PollStatus(21, &printed));
  EXPECT_EQ(controller->mCmdNumber, number);
  EXPECT_EQ(Occurrences(printed, "Running Interupt Read blocks processed = 0\n"), 21u);
  ASSERT_TRUE(WaitIdle(controller->mCmdPipe));
  printed.clear();
  EXPECT_FALSE(PollStatus(1, &printed));
  EXPECT_NE(printed.find("Sending command =  , data = 0"), std::string::npos) << printed;
  sensor->SetStatusSilent(false);
  ASSERT_TRUE(PollStatus(20));
  EXPECT_EQ(controller->mParameters.Values[2], 5);
  EXPECT_EQ(controller->mParameters.CmdCount, controller->mCmdNumber);
}

TEST_F(LibusbSensor, UnplugMidStreamIsCleanedUpAndEachReplugStreamsAgain) {
  RunUntilDecoding(0);
  ASSERT_TRUE(Decodes(0));
  const size_t threads = ThreadCount();

  for (int cycle = 0; cycle < 2; ++cycle) {
    SCOPED_TRACE(cycle);
    const std::shared_ptr<CEmulatedUsbDevice> old = testbed->Device();
    testbed->Unplug();
    std::string printed =
        RunUntil([&](const std::string&) { return controller->mPort.mUSBHandle.load() == nullptr; });
    ASSERT_EQ(controller->mPort.mUSBHandle.load(), nullptr) << printed.substr(0, 3000);
    EXPECT_NE(printed.find("Removed cleanup start \n"), std::string::npos);
    EXPECT_EQ(Occurrences(printed, "Detach Abort Done\n"), 3u);
    EXPECT_NE(printed.find("Cleanup interface done \n"), std::string::npos);
    // Every descriptor of the node was closed, and every URB reaped first.
    EXPECT_TRUE(WaitFor([&] {
      const CEmulatedUsbDevice::Counters c = old->Count();
      return c.opened == c.closed;
    })) << old->Count().opened << " opened, " << old->Count().closed << " closed";
    EXPECT_EQ(old->Count().reaped, old->Count().submitted);

    ASSERT_TRUE(testbed->Plug());
    const size_t before = Sent().size();
    // The controller decodes the new stream.
    const int stale = controller->mRecordCount;
    printed = RunUntilDecoding(before);
    EXPECT_NE(printed.find("Device opened successfully!\n"), std::string::npos) << printed.substr(0, 3000);
    ASSERT_NE(controller->mRecordCount, stale);
    ASSERT_TRUE(Decodes(before));
  }
  EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threads; }, 2s))
      << ThreadCount() << " threads, " << threads << " before";
}

TEST_F(LibusbSensor, StalledStreamIsReportedAndResynchronised) {
  RunUntilDecoding(0);
  bus->SetStreamStalled(true);
  std::string printed =
      RunUntil([](const std::string& p) { return p.find("Transfer timed out.") != std::string::npos; });
  ASSERT_NE(printed.find("GetNextPipeData Warning... Transfer timed out.\nGetting new Frame #\n"), std::string::npos);
  // The 101st look cancelled the block at the kernel.
  EXPECT_GE(testbed->Device()->Count().discarded, 1u);

  bus->SetStreamStalled(false);
  const size_t before = Sent().size();
  const int stale = controller->mRecordCount;
  printed = RunUntilDecoding(before);
  ASSERT_NE(controller->mRecordCount, stale);
  ASSERT_TRUE(Decodes(before)) << printed.substr(0, 3000);
  // Once the blocks queued during the stall are back, nothing is lost.
  const unsigned late = FellBehind();
  printed = Record(1500ms);
  if (FellBehind() != late) GTEST_SKIP() << kTooBusy;
  EXPECT_EQ(printed.find("Skiped"), std::string::npos) << printed.substr(0, 2000);
  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv");
  ASSERT_GT(recorded.size(), 10000u);
  for (size_t i = 1; i < recorded.size(); ++i) {
    ASSERT_EQ(static_cast<uint16_t>(recorded[i - 1] + 1), recorded[i]) << "line " << i + 2;
  }
}

TEST_F(LibusbSensor, StreamFlowsAgainSoonAfterTheClientStoodStill) {
  RunUntilDecoding(0);
  ASSERT_TRUE(Decodes(0));
  // The client stands still; the kernel ends the transfers it has and the
  // sensor goes on sending.
  std::this_thread::sleep_for(3s);
  const size_t before = Sent().size();
  const auto resumed = std::chrono::steady_clock::now();
  const std::string printed = RunUntilDecoding(before);
  const auto took = std::chrono::steady_clock::now() - resumed;
  ASSERT_TRUE(Decodes(before)) << printed.substr(0, 3000);
  EXPECT_LT(took, 2s);
  // The ring's start frames caught up with the frame clock too, so a block
  // still counts as fruitless only once its own frames have passed.
  unsigned frame = 0;
  ASSERT_TRUE(UsbK_GetCurrentFrameNumber(controller->mPort.mUSBHandle.load(), &frame));
  EXPECT_GT(static_cast<int32_t>(controller->mDataPipe.mNextStartFrame - frame), 0);
  EXPECT_NE(printed.find("Getting new Frame #\n"), std::string::npos);
}

TEST_F(LibusbSensor, FailedTransfersAreReportedAndThePipesGoOn) {
  ASSERT_TRUE(PollStatus(20));

  // A command lost on the wire: the write reports it, and the handshake
  // asks for the status again after its retries.
  bus->InjectTransferErrors(sim::CVirtualSensor::kCommandEndpoint, 1);
  ASSERT_TRUE(WaitIdle(controller->mCmdPipe));
  Quietly([&] { controller->SetFarGain(300); });
  ASSERT_TRUE(WaitIdle(controller->mCmdPipe));
  EXPECT_EQ(controller->mCmdPipe.mStatus.load(), static_cast<int32_t>(kErrorGenFailure));
  EXPECT_EQ(sensor->Values()[1], sim::CVirtualSensor::kDefaultValues[1]);
  ASSERT_TRUE(PollStatus(30));
  EXPECT_EQ(controller->mParameters.CmdCount, controller->mCmdNumber);

  // A status read that fails: reported, and the next read brings the block.
  bus->InjectTransferErrors(sim::CVirtualSensor::kStatusEndpoint, 1);
  ASSERT_TRUE(WaitIdle(controller->mCmdPipe));
  Quietly([&] { controller->SetCloseGain(7); });
  ASSERT_TRUE(WaitFor([&] { return sensor->Values()[2] == 7; }));
  Quietly([&] { EXPECT_EQ(controller->mStatusPipe.GetPipeData(), 0); });
  EXPECT_EQ(controller->mStatusPipe.mStatus.load(), static_cast<int32_t>(kErrorGenFailure));
  EXPECT_FALSE(controller->mStatusPipe.mActive.load());
  ASSERT_TRUE(PollStatus(20));
  EXPECT_EQ(controller->mParameters.Values[2], 7);

  // Isochronous transfers that end with an error still hand over what they
  // received: the recording has every sample.
  RunUntilDecoding(0);
  const unsigned late = FellBehind();
  controller->RequestRecording(true);
  std::string printed = Run(300ms);
  bus->InjectTransferErrors(sim::CVirtualSensor::kDataEndpoint, 3);
  printed += Run(700ms);
  controller->RequestRecording(false);
  printed += Run(30ms);
  if (FellBehind() != late) GTEST_SKIP() << kTooBusy;
  EXPECT_EQ(printed.find("Skiped"), std::string::npos) << printed.substr(0, 2000);
  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv");
  ASSERT_GT(recorded.size(), 5000u);
  for (size_t i = 1; i < recorded.size(); ++i) {
    ASSERT_EQ(static_cast<uint16_t>(recorded[i - 1] + 1), recorded[i]) << "line " << i + 2;
  }
}

}  // namespace
