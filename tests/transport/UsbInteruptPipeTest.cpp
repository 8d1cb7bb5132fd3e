// The interrupt pipes: one transfer at a time, bounded waits, and handles that
// always find their way back to the pool.

#include <atomic>
#include <chrono>
#include <thread>

#include "GeneralException.h"
#include "PortFixture.h"

namespace {

class UsbInteruptPipe : public PortFixture {
 protected:
  void SetUp() override {
    PortFixture::SetUp();
    OpenPort();
    ASSERT_EQ(statusPipe.mUSBPort.load(), port.get());
  }

  // Unplugs the sensor without letting the port act on it yet.
  void PullCable() {
    bus->Unplug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  }

  template <typename Start>
  static std::string ThrownMessage(Start start) {
    try {
      start();
    } catch (const GeneralException& e) {
      return e.Message();
    }
    return "(nothing thrown)";
  }
};

TEST_F(UsbInteruptPipe, CommandIsAnsweredOnTheStatusPipe) {
  std::string out = Quietly([&] {
    cmdPipe.Send('C', 7, 300);
    statusPipe.StartNextRead();
    EXPECT_EQ(statusPipe.GetPipeData(), 1);
  });
  EXPECT_NE(out.find("Running Interupt write\n"), std::string::npos);
  EXPECT_NE(out.find("Running Interupt Read blocks processed = 1\n"), std::string::npos);
  ASSERT_EQ(statusPipe.reads.size(), 1u);
  ASSERT_EQ(statusPipe.reads[0].size(), 18u);
  EXPECT_EQ(statusPipe.reads[0][16], 0x01);
  EXPECT_EQ(statusPipe.reads[0][17], 0x2C);
  EXPECT_EQ(cmdPipe.mStatus.load(), CUSBPipe::kStatusOk);
  EXPECT_EQ(cmdPipe.mBytesTransferred, 64u);
}

TEST_F(UsbInteruptPipe, SilentStatusEndpointTimesTheReadOutAfterItsWait) {
  sensor->SetStatusSilent(true);
  std::string out = Quietly([&] {
    cmdPipe.Send('S', 90, 12);
    statusPipe.StartNextRead();
  });
  const auto start = std::chrono::steady_clock::now();
  out = Quietly([&] { EXPECT_EQ(statusPipe.GetPipeData(), 0); });
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(100));
  EXPECT_LT(waited, std::chrono::seconds(2)) << "bounded by the wait, not by the device";
  EXPECT_EQ(out, "Running Interupt Read blocks processed = 0\n");
  EXPECT_TRUE(statusPipe.mActive.load()) << "the read is still out";
  EXPECT_EQ(statusPipe.mStatus.load(), static_cast<int32_t>(kErrorSemTimeout));
  Quietly([&] { statusPipe.StartNextRead(); });  // refused while the read is out

  // The answer arrives later and the same read collects it.
  sensor->SetStatusSilent(false);
  bus->Advance(1);
  Quietly([&] { EXPECT_EQ(statusPipe.GetPipeData(), 1); });
  EXPECT_FALSE(statusPipe.mActive.load());
  ASSERT_EQ(statusPipe.reads.size(), 1u);
  EXPECT_EQ(statusPipe.reads[0][17], 12);
}

TEST_F(UsbInteruptPipe, NothingStartedNothingCollected) {
  std::string out = Quietly([&] { EXPECT_EQ(statusPipe.GetPipeData(), 0); });
  EXPECT_EQ(out, "");
}

TEST_F(UsbInteruptPipe, FailedStartsGiveTheirHandleBack) {
  PullCable();
  // With a pool of one, a handle kept by the first failure would turn the
  // second into "Couldn't get new overlaped transfer".
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(ThrownMessage([&] { Quietly([&] { statusPipe.StartNextRead(); }); }), "Start Next Bulk Read Error.");
    EXPECT_FALSE(statusPipe.mActive.load());
    EXPECT_EQ(statusPipe.mStatus.load(), static_cast<int32_t>(kErrorDeviceNotConnected));
    EXPECT_EQ(ThrownMessage([&] { Quietly([&] { cmdPipe.StartNextWrite(); }); }), "Start Next Bulk Write Error %x\n");
    EXPECT_FALSE(cmdPipe.mActive.load());
  }
}

TEST_F(UsbInteruptPipe, TimedOutWriteIsCancelledAndGivesItsHandleBack) {
  bus->SetEndpointSilent(0x01, true);
  Quietly([&] { cmdPipe.Send('A', 1, 20); });
  EXPECT_FALSE(cmdPipe.mActive.load());
  EXPECT_EQ(cmdPipe.mStatus.load(), static_cast<int32_t>(kErrorSemTimeout));
  bus->SetEndpointSilent(0x01, false);
  bus->Advance(1);
  EXPECT_TRUE(sensor->ReceivedCommands().empty()) << "the cancelled write never reaches the sensor";

  Quietly([&] { cmdPipe.Send('A', 2, 21); });
  EXPECT_EQ(cmdPipe.mStatus.load(), CUSBPipe::kStatusOk);
  ASSERT_EQ(sensor->ReceivedCommands().size(), 1u);
  EXPECT_EQ(sensor->ReceivedCommands()[0].number, 21);
}

TEST_F(UsbInteruptPipe, WriteRefusedWhileThePreviousIsInFlight) {
  bus->SetEndpointSilent(0x01, true);
  Quietly([&] {
    cmdPipe.mBuffer[0] = 'B';
    cmdPipe.StartNextWrite();
    cmdPipe.mBuffer[0] = 'C';
    cmdPipe.StartNextWrite();  // does nothing: one transfer at a time
    bus->SetEndpointSilent(0x01, false);
    bus->Advance(1);
    cmdPipe.WaitIdle();
  });
  ASSERT_EQ(sensor->ReceivedCommands().size(), 1u);
}

TEST_F(UsbInteruptPipe, DetachWhileAnotherThreadWaitsOnThePipe) {
  sensor->SetStatusSilent(true);
  std::atomic<bool> stop{false};
  std::string out = Quietly([&] {
    std::thread panel([&] {
      while (!stop) {
        try {
          statusPipe.StartNextRead();
          statusPipe.GetPipeData();
          cmdPipe.Send(' ', 0, 1);
        } catch (const GeneralException&) {
          // The device may be gone mid-way; the next round finds it detached.
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    bus->Unplug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
    port->AttachOrRemoveDevice();
    stop = true;
    panel.join();
  });
  EXPECT_EQ(statusPipe.mUSBPort.load(), nullptr);
  EXPECT_EQ(cmdPipe.mUSBPort.load(), nullptr);
  EXPECT_FALSE(statusPipe.mActive.load());
  EXPECT_FALSE(cmdPipe.mActive.load());
  EXPECT_NE(out.find("Removed cleanup start"), std::string::npos);
}

TEST_F(UsbInteruptPipe, DetachOfANeverAttachedPipe) {
  RecordingInteruptPipe pipe;
  pipe.Initialize(0x02, 1);
  const std::string out = Quietly([&] { pipe.Detach(); });
  EXPECT_EQ(out, "Detach Abort Done\n");
  EXPECT_EQ(pipe.mStatus.load(), CUSBPipe::kStatusDetached);
}

}  // namespace
