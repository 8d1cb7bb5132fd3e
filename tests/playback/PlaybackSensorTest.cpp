#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "PlaybackSensor.h"
#include "SensorTestHelpers.h"

using playback::CPlaybackSensor;
using recording::CRecordSource;
using kiv::T_RawRecord;
using namespace sim::test;

namespace {

// Hands out a list of records, then ends (or fails, when given an error).
class CListSource : public CRecordSource {
 public:
  explicit CListSource(std::vector<kiv::T_RawRecord> records, std::string error = {})
      : mRecords(records.begin(), records.end()), mError(std::move(error)) {}
  EResult Next(kiv::T_RawRecord& out) override {
    if (mRecords.empty()) {
      return mError.empty() ? EResult::eEnd : EResult::eError;
    }
    out = mRecords.front();
    mRecords.pop_front();
    return EResult::eRecord;
  }
  std::string Error() const override { return mRecords.empty() ? mError : ""; }

 private:
  std::deque<kiv::T_RawRecord> mRecords;
  std::string mError;
};

kiv::T_RawRecord Record(uint16_t count, uint16_t deltTime = 2, uint16_t supply = 4817) {
  kiv::T_RawRecord r;
  r.count = count;
  r.rawDistance = static_cast<uint16_t>(1000 + count);
  r.width = static_cast<uint16_t>(count % 300);
  r.flags = kiv::T_RawRecord::FlagsOf(count % 2, deltTime);
  r.rawSupplyVoltage = supply;
  r.rawAnaTemp = 5336;
  r.laserPower = 1800;
  r.imu = {1, 2, 0xFFFF, 4, 5, 6, 7, 8, 9, 0x8000};
  return r;
}

// The frames a sensor sends for frames 0, 1, 2 ... of the bus.
std::vector<std::vector<uint8_t>> Frames(CPlaybackSensor& sensor, uint32_t count, uint32_t first = 0) {
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t f = first; f < first + count; ++f) {
    std::vector<uint8_t> bytes(1023);
    bytes.resize(sensor.ProduceIsoPacket(0x82, f, bytes.data(), bytes.size()));
    frames.push_back(bytes);
  }
  return frames;
}

std::vector<uint16_t> Counts(const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<uint16_t> counts;
  for (const auto& frame : frames) {
    for (size_t i = 0; frame.size() >= 36 && i < Entries(frame); ++i) counts.push_back(EntryWord(frame, i, 0));
  }
  return counts;
}

TEST(PlaybackSensor, FramesAsTheSensorDoesAtFullSpeed) {
  std::vector<kiv::T_RawRecord> records;
  for (uint16_t c = 65500; c != 100; ++c) records.push_back(Record(c));  // 136 records across the wrap
  for (uint16_t c = 100; c < 110; ++c) records.push_back(Record(c, 2, 4818));  // a new header
  for (uint16_t c = 200; c < 205; ++c) records.push_back(Record(c, 2, 4818));  // a count gap
  CPlaybackSensor sensor(std::make_shared<CListSource>(records), 0.0);
  EXPECT_EQ(sensor.Description().vendorId, 0xE785);
  EXPECT_EQ(sensor.Description().serialNumber, "REPLAY");

  const auto frames = Frames(sensor, 6);
  ASSERT_EQ(frames[0].size(), 28u + 124 * 8) << "a full frame";
  ASSERT_EQ(Entries(frames[1]), 12u) << "the rest, up to the header change";
  ASSERT_EQ(Entries(frames[2]), 10u) << "up to the gap";
  ASSERT_EQ(Entries(frames[3]), 5u);
  EXPECT_TRUE(frames[4].empty());
  EXPECT_EQ(EntryWord(frames[0], 35, 0), 65535);
  EXPECT_EQ(EntryWord(frames[0], 36, 0), 0) << "the wrap stays inside a frame";
  EXPECT_EQ(Word(frames[1], 0), 4817);
  EXPECT_EQ(Word(frames[2], 0), 4818);

  std::vector<uint16_t> expected;
  for (const auto& r : records) expected.push_back(r.count);
  EXPECT_EQ(Counts(frames), expected) << "nothing lost, nothing reordered";
  // Every word of a record is on the wire.
  const kiv::T_RawRecord& r = records[1];
  EXPECT_EQ(EntryWord(frames[0], 1, 1), r.rawDistance);
  EXPECT_EQ(EntryWord(frames[0], 1, 2), r.width);
  EXPECT_EQ(EntryWord(frames[0], 1, 3), 0x8000 | 2 << 1) << "scan state bit 15, DeltTime bits 14..1";
  EXPECT_EQ(Word(frames[0], 2), 5336);
  EXPECT_EQ(Word(frames[0], 4), 1800);
  EXPECT_EQ(Word(frames[0], 12), 0xFFFF);
  EXPECT_EQ(Word(frames[0], 26), 0x8000);

  EXPECT_EQ(sensor.RecordsSent(), records.size());
  EXPECT_TRUE(sensor.Finished());
  EXPECT_EQ(sensor.Error(), "");
}

TEST(PlaybackSensor, KeepsTheRecordedPaceScaledBySpeedAndSpillsLateRecords) {
  // A record every 2.5 ms.
  std::vector<kiv::T_RawRecord> records;
  for (uint16_t c = 0; c < 8; ++c) records.push_back(Record(c, 250));
  {
    CPlaybackSensor sensor(std::make_shared<CListSource>(records), 1.0);
    const auto frames = Frames(sensor, 20, 7000);
    std::vector<size_t> perFrame;
    for (const auto& f : frames) perFrame.push_back(f.empty() ? 0 : Entries(f));
    EXPECT_EQ(perFrame, (std::vector<size_t>{1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0}));
  }
  {
    CPlaybackSensor sensor(std::make_shared<CListSource>(records), 2.5);
    const auto frames = Frames(sensor, 8);
    for (const auto& f : frames) EXPECT_EQ(Entries(f), 1u) << "one a millisecond";
  }
  {
    // Frames the host did not read are never asked for: what was due in them
    // goes out in the next frame read.
    CPlaybackSensor sensor(std::make_shared<CListSource>(records), 1.0);
    EXPECT_EQ(Entries(Frames(sensor, 1, 100)[0]), 1u);
    EXPECT_EQ(Entries(Frames(sensor, 1, 110)[0]), 4u) << "due at 2.5, 5, 7.5 and 10 ms";
    EXPECT_EQ(sensor.RecordsSent(), 5u);
    EXPECT_FALSE(sensor.Finished());
    EXPECT_EQ(Counts(Frames(sensor, 20, 111)), (std::vector<uint16_t>{5, 6, 7}));
    EXPECT_TRUE(sensor.Finished());
  }
}

TEST(PlaybackSensor, AcknowledgesCommandsAndPlaysTheSameRecords) {
  std::vector<kiv::T_RawRecord> records;
  for (uint16_t c = 0; c < 300; ++c) records.push_back(Record(c, 25));
  CPlaybackSensor quiet(std::make_shared<CListSource>(records), 1.0);
  CPlaybackSensor commanded(std::make_shared<CListSource>(records), 1.0);
  const auto before = Frames(commanded, 3);
  EXPECT_TRUE(ReadStatus(commanded).empty()) << "nothing to answer yet";
  ASSERT_TRUE(Command(commanded, 'A', 300, 11));
  ASSERT_TRUE(Command(commanded, 'F', 0, 12));   // laser off
  ASSERT_TRUE(Command(commanded, 'R', 3600, 13));  // fastest rotation
  const std::vector<uint8_t> status = ReadStatus(commanded);
  ASSERT_EQ(status.size(), 18u);
  EXPECT_EQ(Word(status, 2), 300) << "far gain";
  EXPECT_EQ(Word(status, 16), 13) << "the last command's number";
  EXPECT_TRUE(ReadStatus(commanded).empty()) << "one answer per command";
  EXPECT_EQ(commanded.Values()[1], 300);
  EXPECT_EQ(commanded.ReceivedCommands().size(), 3u);

  auto played = before;
  for (auto& f : Frames(commanded, 50, 3)) played.push_back(f);
  EXPECT_EQ(played, Frames(quiet, 53)) << "the same bytes, frame for frame";
}

TEST(PlaybackSensor, ASourceThatFailsFinishesWithItsError) {
  CPlaybackSensor sensor(std::make_shared<CListSource>(std::vector{Record(1), Record(2)}, "r.csv:4: bad"), 0.0);
  EXPECT_FALSE(sensor.Finished());
  EXPECT_EQ(Counts(Frames(sensor, 2)), (std::vector<uint16_t>{1, 2}));
  EXPECT_TRUE(sensor.Finished());
  EXPECT_EQ(sensor.Error(), "r.csv:4: bad");
}

}  // namespace
