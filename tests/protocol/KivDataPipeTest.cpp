#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "FrameBuilder.h"
#include "KivDataPipe.h"

namespace {

using Pipe = CUSBKivDataPipe;

class KivDataPipeTest : public ::testing::Test {
 protected:
  void SetUp() override { pipe.Initialize(0x82); }

  int Decode(std::vector<uint8_t> frame) { return Decode(frame, static_cast<int>(frame.size())); }
  int Decode(std::vector<uint8_t>& frame, int length) { return pipe.ProcessPipeData(frame.data(), length); }

  std::vector<int> StoredCounts() const {
    std::vector<int> counts;
    for (int i = 0; i < pipe.mNumRecords; ++i) {
      counts.push_back(pipe.mRecordStorage[i].Count);
    }
    return counts;
  }

  Pipe pipe;
};

TEST_F(KivDataPipeTest, InitializeAllocatesStorageOnce) {
  ASSERT_NE(pipe.mRecordStorage, nullptr);
  EXPECT_EQ(pipe.mMaxRecords, 5120);
  EXPECT_EQ(pipe.mNumRecords, 0);
  EXPECT_EQ(pipe.mFramesPerTransfer, 16);
  EXPECT_EQ(pipe.mMaxOverlapingTransfers, 10);
  EXPECT_EQ(pipe.mPipeNumber, 0x82);
  const Pipe::T_Record* first = pipe.mRecordStorage.get();
  pipe.Initialize(0x82);
  EXPECT_EQ(pipe.mRecordStorage.get(), first);
}

TEST_F(KivDataPipeTest, WholeEntriesOnlyAreDecoded) {
  std::vector<uint8_t> frame = FrameBuilder().Counts({7, 8}).Bytes();
  ASSERT_EQ(frame.size(), 44u);
  EXPECT_EQ(Decode(frame, 35), 0);
  EXPECT_EQ(Decode(frame, 36), 1);
  EXPECT_EQ(Decode(frame, 43), 1);
  EXPECT_EQ(Decode(frame, 44), 2);
  EXPECT_EQ(pipe.mNumRecords, 4);
  EXPECT_EQ(StoredCounts(), (std::vector<int>{7, 7, 7, 8}));
}

TEST_F(KivDataPipeTest, NegativeAndTinyLengthsStoreNothing) {
  std::vector<uint8_t> frame = FrameBuilder().Counts({1}).Bytes();
  for (int length : {INT_MIN, -1, 0, 27, 28, 29}) {
    EXPECT_EQ(Decode(frame, length), 0) << length;
  }
  EXPECT_EQ(pipe.mNumRecords, 0);
}

TEST_F(KivDataPipeTest, HugeLengthStopsAtFullStorage) {
  // Only one entry lies in the buffer; full storage must stop the decoder
  // before it reaches past it.
  std::vector<uint8_t> frame = FrameBuilder().Counts({3}).Bytes();
  pipe.mNumRecords = pipe.mMaxRecords - 1;
  EXPECT_EQ(Decode(frame, INT_MAX), 1);
  EXPECT_EQ(pipe.mNumRecords, pipe.mMaxRecords);
}

TEST_F(KivDataPipeTest, CountsWrapAtSixteenBits) {
  EXPECT_EQ(Decode(FrameBuilder().Counts({65534, 65535, 0, 1}).Bytes()), 4);
  EXPECT_EQ(StoredCounts(), (std::vector<int>{65534, 65535, 0, 1}));
}

TEST_F(KivDataPipeTest, SequenceBreakDropsRestOfFrameAndReusesSlot) {
  EXPECT_EQ(Decode(FrameBuilder().Counts({10, 11, 13, 14}).Bytes()), 2);
  EXPECT_EQ(StoredCounts(), (std::vector<int>{10, 11}));

  // The slot cleared for the dropped entry is filled by the next record.
  EXPECT_EQ(Decode(FrameBuilder().Header(0, 100).Entry({500, 1234, 77, 0x8002}).Bytes()), 1);
  ASSERT_EQ(pipe.mNumRecords, 3);
  const Pipe::T_Record& record = pipe.mRecordStorage[2];
  EXPECT_EQ(record.Count, 500);
  EXPECT_DOUBLE_EQ(record.Distance, 123.4);
  EXPECT_EQ(record.Width, 77);
  EXPECT_EQ(record.ScanState, 1);
  EXPECT_EQ(record.DeltTime, 1);
}

TEST_F(KivDataPipeTest, FramesThatDoNotContinueAreBothKept) {
  EXPECT_EQ(Decode(FrameBuilder().Counts({100, 101, 102}).Bytes()), 3);
  EXPECT_EQ(Decode(FrameBuilder().Counts({7, 8}).Bytes()), 2);
  EXPECT_EQ(StoredCounts(), (std::vector<int>{100, 101, 102, 7, 8}));
}

TEST_F(KivDataPipeTest, FullStorageDropsFurtherEntries) {
  pipe.mNumRecords = 5119;
  EXPECT_EQ(Decode(FrameBuilder().Counts({1, 2, 3}).Bytes()), 1);
  EXPECT_EQ(pipe.mRecordStorage[5119].Count, 1);
  EXPECT_EQ(Decode(FrameBuilder().Counts({4, 5}).Bytes()), 0);
  EXPECT_EQ(pipe.mNumRecords, 5120);
}

TEST_F(KivDataPipeTest, HeaderIsScaledAndCopiedToEveryRecord) {
  FrameBuilder builder;
  builder.Header(0, 5000).Header(1, 4000).Header(2, 0xFFFF).Header(3, 0x1234);
  for (int channel = 0; channel < 10; ++channel) {
    builder.Header(4 + channel, static_cast<uint16_t>(0x8000 + channel));
  }
  EXPECT_EQ(Decode(builder.Counts({20, 21, 22}).Bytes()), 3);
  // A second frame with another header must not touch the first one's records.
  EXPECT_EQ(Decode(FrameBuilder().Header(0, 1).Counts({23}).Bytes()), 1);

  for (int i = 0; i < 3; ++i) {
    const Pipe::T_IMURecord& header = pipe.mRecordStorage[i].IMURecord;
    EXPECT_NEAR(header.SupplyVoltage, 12.4155, 1e-9) << i;
    EXPECT_NEAR(header.AnaTemp, 19.48, 1e-9) << i;
    EXPECT_EQ(header.LaserPower, 65535) << i;
    EXPECT_EQ(header.AuxWord, 0x1234) << i;
    EXPECT_EQ(header.IMU[Pipe::eAccelX], 32768) << i;
    EXPECT_EQ(header.IMU[Pipe::eIMUTemp], 0x8003) << i;
    EXPECT_EQ(header.IMU[Pipe::eMagZ], 0x8009) << i;
  }
  EXPECT_NEAR(pipe.mRecordStorage[3].IMURecord.SupplyVoltage, 1.06 + 0.0022711, 1e-12);
  EXPECT_EQ(pipe.mRecordStorage[3].IMURecord.IMU[Pipe::eAccelX], 0);
}

TEST_F(KivDataPipeTest, EntryFieldsAreDecoded) {
  EXPECT_EQ(Decode(FrameBuilder()
                       .Entry({1, 60000, 65535, 0x8001})
                       .Entry({2, 0, 0, 0x7FFE})
                       .Entry({3, 1, 300, 0xFFFF})
                       .Bytes()),
            3);
  const Pipe::T_Record* records = pipe.mRecordStorage.get();
  EXPECT_DOUBLE_EQ(records[0].Distance, 6000.0);
  EXPECT_EQ(records[0].Width, 65535);
  EXPECT_EQ(records[0].ScanState, 1);
  EXPECT_EQ(records[0].DeltTime, 0);
  EXPECT_DOUBLE_EQ(records[1].Distance, 0.0);
  EXPECT_EQ(records[1].ScanState, 0);
  EXPECT_EQ(records[1].DeltTime, 16383);
  EXPECT_DOUBLE_EQ(records[2].Distance, 0.1);
  EXPECT_EQ(records[2].Width, 300);
  EXPECT_EQ(records[2].ScanState, 1);
  EXPECT_EQ(records[2].DeltTime, 16383);
}

TEST_F(KivDataPipeTest, GetPipeDataStartsAFreshBatch) {
  EXPECT_EQ(Decode(FrameBuilder().Counts({1, 2}).Bytes()), 2);
  // Not attached: nothing is collected, but the previous batch is gone.
  EXPECT_EQ(pipe.GetPipeData(), 0);
  EXPECT_EQ(pipe.mNumRecords, 0);
}

}  // namespace
