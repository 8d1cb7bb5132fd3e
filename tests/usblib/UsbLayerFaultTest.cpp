// Each fault the virtual sensor can be asked for shows up, through the layer,
// where the client will meet it.

#include <array>
#include <vector>

#include "OpenSensorFixture.h"

namespace {

class UsbLayerFault : public OpenSensorFixture {
 protected:
  void SetUp() override {
    OpenSensorFixture::SetUp();
    pool = NewPool(handle, 2);
    PrepareIso(read, pool);
  }

  // Queues one read on the very next frame and lets its frames pass, so
  // that a fault asked for before this reaches the read's first packet.
  void ReadOnce() {
    OvlK_ReUse(read.overlapped);
    QueueIso(read, CurrentFrame());
    bus->Advance(kPackets);
  }

  KOVL_POOL_HANDLE pool = nullptr;
  IsoRead read;
};

TEST_F(UsbLayerFault, DroppedSamplesLeaveACountGapBetweenFrames) {
  ReadOnce();
  ASSERT_TRUE(Done(read));
  const uint16_t last = Counts(read).back();
  sensor->DropSamples(3);
  ReadOnce();
  ASSERT_TRUE(Done(read));
  const std::vector<uint16_t> counts = Counts(read);
  EXPECT_EQ(counts.front(), static_cast<uint16_t>(last + 4)) << "three samples missing";
  for (size_t i = 1; i < counts.size(); ++i) {
    ASSERT_EQ(static_cast<uint16_t>(counts[i] - counts[i - 1]), 1);
  }
}

TEST_F(UsbLayerFault, SequenceBreakStaysInsideOneFrame) {
  sensor->BreakSequenceInNextFrame();
  ReadOnce();
  ASSERT_TRUE(Done(read));
  int brokenFrames = 0;
  for (int i = 0; i < kPackets; ++i) {
    const KISO_PACKET& packet = read.context->IsoPackets[i];
    const uint8_t* frame = read.buffer.data() + packet.Offset;
    for (unsigned at = 36; at + 8 <= packet.Length; at += 8) {
      if (static_cast<uint16_t>(Word(frame + at) - Word(frame + at - 8)) != 1) {
        ++brokenFrames;
        break;
      }
    }
  }
  EXPECT_EQ(brokenFrames, 1);
}

TEST_F(UsbLayerFault, ShortFramesComeBackWithTheirShortLength) {
  sensor->ShortenNextFrames(2, 30);
  ReadOnce();
  ASSERT_TRUE(Done(read));
  EXPECT_EQ(read.context->IsoPackets[0].Length, 30);
  EXPECT_EQ(read.context->IsoPackets[1].Length, 30);
  EXPECT_EQ(read.context->IsoPackets[2].Length, 28 + 40 * 8);
}

TEST_F(UsbLayerFault, SilentStatusEndpointLeavesReadsPending) {
  KOVL_POOL_HANDLE commandPool = NewPool(handle, 1);
  sensor->SetStatusSilent(true);
  SendCommand(commandPool, 'B', 70, 1);
  std::array<uint8_t, 64> block{};
  KOVL_HANDLE status = Acquire(pool);
  ExpectQueued(UsbK_ReadPipe(handle, kStatusPipe, block.data(), block.size(), nullptr, status));
  bus->Advance(50);
  unsigned length = 0;
  EXPECT_FALSE(OvlK_Wait(status, 100, 0, &length));
  EXPECT_EQ(GetLastError(), kErrorSemTimeout);
  EXPECT_EQ(sensor->Values()[2], 70) << "the command itself arrived";
  EXPECT_FALSE(OvlK_WaitOrCancel(status, 0, &length));
  EXPECT_EQ(GetLastError(), kErrorOperationAborted);
}

TEST_F(UsbLayerFault, TransferErrorsEndTransfersWithADeviceError) {
  bus->InjectTransferErrors(kDataPipe, 1);
  ReadOnce();
  unsigned length = 0;
  EXPECT_FALSE(Done(read, &length));
  EXPECT_EQ(GetLastError(), kErrorGenFailure);
  // The next transfer is good again.
  ReadOnce();
  EXPECT_TRUE(Done(read, &length));

  KOVL_POOL_HANDLE commandPool = NewPool(handle, 1);
  bus->InjectTransferErrors(kCommandPipe, 1);
  std::array<uint8_t, 64> frame{'F', 0, 0, 0, 1};
  KOVL_HANDLE write = Acquire(commandPool);
  ExpectQueued(UsbK_WritePipe(handle, kCommandPipe, frame.data(), frame.size(), nullptr, write));
  EXPECT_FALSE(OvlK_WaitAndRelease(write, 100, &length));
  EXPECT_EQ(GetLastError(), kErrorGenFailure);
  EXPECT_TRUE(sensor->LaserOn()) << "the failed command never reached the sensor";
}

TEST_F(UsbLayerFault, StalledStreamCompletesNothingUntilItRecovers) {
  bus->SetStreamStalled(true);
  ReadOnce();
  bus->Advance(200);
  EXPECT_FALSE(Done(read));
  EXPECT_EQ(GetLastError(), kErrorSemTimeout);
  bus->SetStreamStalled(false);
  bus->Advance(1);
  unsigned length = 0;
  EXPECT_TRUE(Done(read, &length)) << "its frames have passed: it ends empty";
  EXPECT_EQ(length, 0u);
}

}  // namespace
