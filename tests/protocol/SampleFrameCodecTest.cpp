#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "FrameBuilder.h"
#include "SampleFrameCodec.h"

namespace {

using kiv::DecodeSampleFrame;
using kiv::T_RawRecord;

// Output slots start as this pattern, so a slot the decoder left alone shows.
constexpr unsigned char kUntouched = 0xA5;

struct Output {
  explicit Output(size_t slots) : records(slots) { std::memset(static_cast<void*>(records.data()), kUntouched, slots * sizeof(T_RawRecord)); }
  bool Untouched(size_t slot) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&records[slot]);
    for (size_t i = 0; i < sizeof(T_RawRecord); ++i) {
      if (bytes[i] != kUntouched) return false;
    }
    return true;
  }
  std::vector<T_RawRecord> records;
};

int Decode(const std::vector<uint8_t>& frame, Output& out, int capacity) {
  return DecodeSampleFrame(frame.data(), static_cast<int>(frame.size()), out.records.data(), capacity);
}

TEST(SampleFrameCodecTest, WritesOnlyTheRecordsItReturns) {
  // A sequence break after two entries: the slot of the dropped entry and
  // every one after it stay as they were.
  Output out(6);
  EXPECT_EQ(Decode(FrameBuilder().Counts({10, 11, 13, 14}).Bytes(3), out, 6), 2);
  EXPECT_EQ(out.records[0].count, 10);
  EXPECT_EQ(out.records[1].count, 11);
  for (size_t slot = 2; slot < 6; ++slot) {
    EXPECT_TRUE(out.Untouched(slot)) << slot;
  }
}

TEST(SampleFrameCodecTest, CapacityBoundsTheRecordsWritten) {
  const std::vector<uint8_t> frame = FrameBuilder().Counts({65535, 0, 1}).Bytes();
  Output out(3);
  EXPECT_EQ(Decode(frame, out, 0), 0);
  EXPECT_EQ(Decode(frame, out, -1), 0);
  EXPECT_TRUE(out.Untouched(0));
  EXPECT_EQ(Decode(frame, out, 2), 2);
  EXPECT_EQ(out.records[1].count, 0);
  EXPECT_TRUE(out.Untouched(2));
  // A length far past the buffer is safe while the capacity stops first.
  EXPECT_EQ(DecodeSampleFrame(frame.data(), INT_MAX, out.records.data(), 3), 3);
}

TEST(SampleFrameCodecTest, NoWholeEntryOrNoBufferGivesNothing) {
  const std::vector<uint8_t> frame = FrameBuilder().Counts({1}).Bytes();
  Output out(1);
  for (int length : {INT_MIN, -8, 0, 28, 35}) {
    EXPECT_EQ(DecodeSampleFrame(frame.data(), length, out.records.data(), 1), 0) << length;
  }
  EXPECT_EQ(DecodeSampleFrame(nullptr, 36, out.records.data(), 1), 0);
  EXPECT_EQ(DecodeSampleFrame(frame.data(), 36, nullptr, 1), 0);
  EXPECT_TRUE(out.Untouched(0));
}

TEST(SampleFrameCodecTest, DecodesHeaderAndEntryFields) {
  FrameBuilder builder;
  builder.Header(0, 5000).Header(1, 4000).Header(2, 0xFFFF).Header(3, 0x1234).Header(4 + kiv::eMagZ, 0x8000);
  builder.Entry({7, 60000, 300, 0x8001}).Entry({8, 1, 65535, 0x7FFE});
  Output out(2);
  ASSERT_EQ(Decode(builder.Bytes(), out, 2), 2);
  for (const T_RawRecord& raw : out.records) {
    const kiv::T_Record record = kiv::ScaledRecord(raw);
    EXPECT_NEAR(record.IMURecord.SupplyVoltage, 12.4155, 1e-9);
    EXPECT_NEAR(record.IMURecord.AnaTemp, 19.48, 1e-9);
    EXPECT_EQ(record.IMURecord.LaserPower, 65535);
    EXPECT_EQ(record.IMURecord.AuxWord, 0x1234);
    EXPECT_EQ(record.IMURecord.IMU[kiv::eMagZ], 32768);
    EXPECT_EQ(record.IMURecord.IMU[kiv::eAccelX], 0);
  }
  const kiv::T_Record first = kiv::ScaledRecord(out.records[0]);
  const kiv::T_Record second = kiv::ScaledRecord(out.records[1]);
  EXPECT_DOUBLE_EQ(first.Distance, 6000.0);
  EXPECT_EQ(first.Width, 300);
  EXPECT_EQ(first.ScanState, 1);
  EXPECT_EQ(first.DeltTime, 0);
  EXPECT_EQ(out.records[0].flags, 0x8001) << "the raw record keeps the whole flags word";
  EXPECT_DOUBLE_EQ(second.Distance, 0.1);
  EXPECT_EQ(second.Width, 65535);
  EXPECT_EQ(second.ScanState, 0);
  EXPECT_EQ(second.DeltTime, 16383);
}

}  // namespace
