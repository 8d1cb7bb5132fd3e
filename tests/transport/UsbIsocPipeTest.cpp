// The isochronous transfer ring against the virtual sensor.

#include "PortFixture.h"

namespace {

class UsbIsocPipe : public PortFixture {
 protected:
  void SetUp() override {
    PortFixture::SetUp();
    OpenPort();
    ASSERT_EQ(dataPipe.mUSBPort.load(), port.get());
  }
};

TEST_F(UsbIsocPipe, DeliversEverySampleOfAMinuteInOrder) {
  Quietly([&] {
    cmdPipe.Send('R', 1100, 1);  // 36 or 37 samples a frame: every packet short of the maximum
    dataPipe.StartAllReads();
    Stream(60'000);
  });
  EXPECT_EQ(sensor->RotationRpm(), 1100u);
  // The ring starts 1320 frames ahead; from there on nothing is missed.
  const double expected = (60'000 - 1320 - 160) * 1100.0 * 1998 / 60'000;
  EXPECT_GT(static_cast<double>(dataPipe.counts.size()), expected);
  ExpectContinuous(dataPipe.counts);
}

TEST_F(UsbIsocPipe, CollectsCompletedBlocksInRingOrderAndQueuesThemAgain) {
  Quietly([&] { dataPipe.StartAllReads(); });
  const uint32_t first = dataPipe.mTransferRing[0].IsoContext->StartFrame;
  EXPECT_EQ(first % 16, 0u);
  for (uint32_t i = 1; i < 10; ++i) {
    EXPECT_EQ(dataPipe.mTransferRing[i].IsoContext->StartFrame, first + 16 * i);
  }
  bus->Advance(first - bus->CurrentFrame() + 3 * 16);  // three blocks complete between two polls
  int collected = 0;
  const std::string out = Quietly([&] { collected = dataPipe.GetPipeData(); });
  EXPECT_EQ(collected, 3 * 16 * 40);
  EXPECT_EQ(dataPipe.mTransferRing.mReadIndex, 3u);
  // Each went straight back behind the others.
  EXPECT_EQ(dataPipe.mTransferRing[0].IsoContext->StartFrame, first + 160);
  EXPECT_EQ(dataPipe.mTransferRing[2].IsoContext->StartFrame, first + 192);
  // Three collecting looks and the one that found block 3 still pending.
  size_t looks = 0;
  for (size_t at = out.find("GetNextPipeData bytesTransfered"); at != std::string::npos;
       at = out.find("GetNextPipeData bytesTransfered", at + 1)) {
    ++looks;
  }
  EXPECT_EQ(looks, 4u);
}

TEST_F(UsbIsocPipe, HundredFruitlessLooksCancelWarnAndResynchronise) {
  Quietly([&] { dataPipe.StartAllReads(); });
  const uint32_t end = dataPipe.mTransferRing[0].IsoContext->StartFrame + 16;
  bus->SetStreamStalled(true);
  bus->Advance(end - bus->CurrentFrame());
  std::string out = Quietly([&] {
    for (int look = 0; look < 100; ++look) {
      bus->Advance(1);
      EXPECT_EQ(dataPipe.GetPipeData(), 0);
    }
  });
  EXPECT_EQ(out.find("Warning"), std::string::npos);
  out = Quietly([&] { EXPECT_EQ(dataPipe.GetPipeData(), 0); });
  EXPECT_NE(out.find("GetNextPipeData Warning... Transfer timed out.\nGetting new Frame #\n"), std::string::npos)
      << out;
  // Block 0 went back on the bus at a fresh frame well ahead; the others kept theirs.
  const uint32_t now = bus->CurrentFrame();
  const uint32_t restart = dataPipe.mTransferRing[0].IsoContext->StartFrame;
  EXPECT_GE(restart - now, 1305u);
  EXPECT_EQ(restart % 16, 0u);
  EXPECT_EQ(dataPipe.mTransferRing.mReadIndex, 1u);

  // Once the stream flows again, every sample from the new start is there.
  bus->SetStreamStalled(false);
  dataPipe.counts.clear();
  Quietly([&] { Stream(6000); });
  EXPECT_GT(dataPipe.counts.size(), 40u * 4000);
  ExpectContinuous(std::vector<uint16_t>(dataPipe.counts.begin() + 9 * 16 * 40, dataPipe.counts.end()));
}

TEST_F(UsbIsocPipe, ShortFramesAreDecodedWithTheirOwnLength) {
  Quietly([&] {
    dataPipe.StartAllReads();
    Stream(1400);
  });
  const size_t before = dataPipe.counts.size();
  sensor->ShortenNextFrames(1, 28 + 3 * 8);
  Quietly([&] { Stream(200); });
  // The short frame's three entries arrive and nothing stale is read after
  // them: counts go on with a gap only where the frame was cut.
  std::vector<uint16_t> after(dataPipe.counts.begin() + before, dataPipe.counts.end());
  int gaps = 0;
  for (size_t i = 1; i < after.size(); ++i) {
    if (static_cast<uint16_t>(after[i - 1] + 1) != after[i]) {
      EXPECT_EQ(static_cast<uint16_t>(after[i] - after[i - 1]), 38) << "37 samples cut from the frame";
      ++gaps;
    }
  }
  EXPECT_EQ(gaps, 1);
}

TEST_F(UsbIsocPipe, StartAllReadsOnAStreamingPipeDoesNothing) {
  Quietly([&] { dataPipe.StartAllReads(); });
  const uint32_t next = dataPipe.mNextStartFrame;
  Quietly([&] { dataPipe.StartAllReads(); });
  EXPECT_EQ(dataPipe.mNextStartFrame, next);
}

TEST(CircularBuffer, IndicesWrapAndClamp) {
  CCircularBuffer<int> ring;
  ring.Initialize(3);
  EXPECT_EQ(ring[0] + ring[1] + ring[2], 0);
  EXPECT_EQ(ring.IncReadBufferIndex(), 0);
  EXPECT_EQ(ring.IncReadBufferIndex(), 1);
  EXPECT_EQ(ring.IncReadBufferIndex(), 2);
  EXPECT_EQ(ring.IncReadBufferIndex(), 0);
  ring.SetWriteIndex(7);
  EXPECT_EQ(ring.mWriteIndex, 2u);
  EXPECT_EQ(ring.IncWriteBufferIndex(), 2);
  EXPECT_EQ(ring.mWriteIndex, 0u);
  ring.Free();
  EXPECT_FALSE(ring.HasStorage());
  EXPECT_EQ(ring.mNumBuffers, 0u);
}

}  // namespace
