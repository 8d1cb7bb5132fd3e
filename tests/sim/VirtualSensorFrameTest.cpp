#include <gtest/gtest.h>

#include <algorithm>

#include "SensorTestHelpers.h"
#include "VirtualSensor.h"

namespace sim {
namespace {

using test::Command;
using test::Entries;
using test::EntryWord;
using test::NextFrame;
using test::Word;

TEST(VirtualSensorFrame, HeaderCarriesPlausibleReadings) {
  CVirtualSensor sensor;
  const auto frame = NextFrame(sensor);
  ASSERT_EQ(frame.size(), 28u + 40 * 8);
  EXPECT_NEAR(Word(frame, 0) * 0.0022711 + 1.06, 12.0, 0.02);  // supply voltage
  EXPECT_NEAR(Word(frame, 2) * 0.01162 - 27.0, 35.0, 0.05);    // laser temperature
  EXPECT_NEAR(Word(frame, 4), 1800, 5);                        // laser power
  EXPECT_EQ(frame[6], 0x00);                                   // millisecond counter
  EXPECT_EQ(frame[7], 0x00);
  EXPECT_NEAR(static_cast<int16_t>(Word(frame, 8)), 0, 24);    // AccelX, signed
  EXPECT_NEAR(static_cast<int16_t>(Word(frame, 12)), 16384, 24);
  EXPECT_NEAR(static_cast<int16_t>(Word(frame, 14)) * 0.005294086505373498 + 95.0, 35.0, 0.1);  // IMU temperature
  EXPECT_NEAR(static_cast<int16_t>(Word(frame, 24)), -95, 4);  // MagY
  EXPECT_EQ(NextFrame(sensor)[7], 0x01);

  Command(sensor, 'F', 0, 1);
  const auto dark = NextFrame(sensor);
  EXPECT_EQ(dark[4], 0x00);
  EXPECT_EQ(dark[5], 0x00);
}

TEST(VirtualSensorFrame, LaserOffEntriesAreExact) {
  CVirtualSensor sensor;
  Command(sensor, 'F', 0, 1);
  const auto frame = NextFrame(sensor);
  ASSERT_EQ(Entries(frame), 40u);
  // count, distance 60000, width 0, scan state 0 and DeltTime: a sample every
  // 2.5 time units at power-up, taken at 0, 2, 5, 7, ... so 2, 2, 3, 2, 3 ...
  const std::vector<uint8_t> first = {0x00, 0x00, 0xEA, 0x60, 0x00, 0x00, 0x00, 0x04,
                                      0x00, 0x01, 0xEA, 0x60, 0x00, 0x00, 0x00, 0x04,
                                      0x00, 0x02, 0xEA, 0x60, 0x00, 0x00, 0x00, 0x06};
  const std::vector<uint8_t> last = {0x00, 0x27, 0xEA, 0x60, 0x00, 0x00, 0x00, 0x04};
  EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 28, frame.begin() + 52), first);
  EXPECT_EQ(std::vector<uint8_t>(frame.end() - 8, frame.end()), last);
}

TEST(VirtualSensorFrame, SamplesPerFrameFollowTheRate) {
  // rpm 0: the power-up rate, exactly 40 samples a millisecond.
  struct Case { uint16_t rpm; size_t minEntries, maxEntries, total; };
  for (const Case c : {Case{0, 40, 40, 24000}, Case{3600, 119, 120, 71928}, Case{300, 9, 10, 5994},
                       Case{1100, 36, 37, 21978}}) {
    CVirtualSensor sensor;
    if (c.rpm != 0) Command(sensor, 'R', c.rpm, 1);
    size_t total = 0, fewest = 1000, most = 0;
    for (int ms = 0; ms < 600; ++ms) {
      const auto frame = NextFrame(sensor);
      fewest = std::min(fewest, Entries(frame));
      most = std::max(most, Entries(frame));
      total += Entries(frame);
    }
    EXPECT_EQ(fewest, c.minEntries) << c.rpm;
    EXPECT_EQ(most, c.maxEntries) << c.rpm;
    EXPECT_EQ(total, c.total) << c.rpm;
  }
}

// Counts rise by one and wrap, the scan bit flips every 1998 samples, and a
// rotation's DeltTimes add up to its period; all of it through rate changes.
TEST(VirtualSensorFrame, EntriesFollowTheRotation) {
  CVirtualSensor sensor;
  uint32_t sample = 0;
  std::vector<uint32_t> rotationTimes(1, 0);
  bool wrapped = false;
  for (int ms = 0; ms < 2400; ++ms) {
    if (ms == 1500) Command(sensor, 'R', 1100, 1);  // inside rotation 30
    if (ms == 2000) Command(sensor, 'R', 3600, 2);  // inside rotation 39
    const auto frame = NextFrame(sensor);
    for (size_t i = 0; i < Entries(frame); ++i, ++sample) {
      ASSERT_EQ(EntryWord(frame, i, 0), sample & 0xFFFF);
      wrapped |= EntryWord(frame, i, 0) == 0 && sample > 0;
      const uint16_t flags = EntryWord(frame, i, 3);
      ASSERT_EQ(flags >> 15, (sample / 1998) % 2) << sample;
      ASSERT_EQ(flags & 1, 0);
      const unsigned delt = (flags >> 1) & 0x3FFF;
      ASSERT_LE(delt, 3u) << sample;  // no jump at a rate change
      if (sample > 0 && sample % 1998 == 0) rotationTimes.push_back(0);
      rotationTimes.back() += delt;
    }
  }
  EXPECT_TRUE(wrapped);
  EXPECT_EQ(sensor.SamplesTaken(), sample);
  ASSERT_EQ(rotationTimes.size(), 64u);
  // Power-up rate: 49.95 ms in 10 us units (the very first sample reports the
  // whole-unit interval, 2, so rotation 0 comes to 4994).
  EXPECT_EQ(rotationTimes[0], 4994u);
  EXPECT_EQ(rotationTimes[1], 4995u);
  EXPECT_EQ(rotationTimes[29], 4995u);
  for (size_t r = 31; r < 39; ++r) {  // 1100 rpm: 54.5 ms
    EXPECT_TRUE(rotationTimes[r] == 5454 || rotationTimes[r] == 5455) << r;
  }
  for (size_t r = 40; r < 63; ++r) {  // 3600 rpm: 16.7 ms
    EXPECT_TRUE(rotationTimes[r] == 1666 || rotationTimes[r] == 1667) << r;
  }
}

TEST(VirtualSensorFrame, RoomDistancesWithRareStrays) {
  CVirtualSensor sensor(7);
  CVirtualSensor twin(7);
  int strays = 0;
  for (int ms = 0; ms < 1000; ++ms) {  // 20 rotations
    const auto frame = NextFrame(sensor);
    ASSERT_EQ(frame, NextFrame(twin));  // same seed, same bytes
    for (size_t i = 0; i < Entries(frame); ++i) {
      const uint16_t distance = EntryWord(frame, i, 1);
      const uint16_t width = EntryWord(frame, i, 2);
      if (distance > 20000 || width > 300) {
        ++strays;
        continue;
      }
      EXPECT_GE(distance * 0.1, 20.0);
      EXPECT_LE(distance * 0.1, 110.0);
      EXPECT_GE(width, 55);
    }
  }
  EXPECT_GT(strays, 10);  // about 40 expected
  EXPECT_LT(strays, 100);
}

TEST(VirtualSensorFrame, LostSamplesLeaveCountGaps) {
  CVirtualSensor sensor;
  NextFrame(sensor);  // counts 0..39
  sensor.DropSamples(5);
  auto frame = NextFrame(sensor);
  EXPECT_EQ(Entries(frame), 35u);
  EXPECT_EQ(EntryWord(frame, 0, 0), 45);

  sensor.ShortenNextFrames(2, 50);
  EXPECT_EQ(NextFrame(sensor).size(), 50u);
  EXPECT_EQ(NextFrame(sensor).size(), 50u);
  frame = NextFrame(sensor);
  ASSERT_EQ(Entries(frame), 40u);
  EXPECT_EQ(EntryWord(frame, 0, 0), 160);

  frame = NextFrame(sensor, 100);  // room for 9 entries only
  EXPECT_EQ(frame.size(), 100u);
  EXPECT_EQ(EntryWord(NextFrame(sensor), 0, 0), 240);
  EXPECT_EQ(sensor.SamplesTaken(), 280u);
}

TEST(VirtualSensorFrame, SequenceBreakInsideOneFrame) {
  CVirtualSensor sensor;
  NextFrame(sensor);
  sensor.BreakSequenceInNextFrame();
  auto frame = NextFrame(sensor);
  ASSERT_EQ(Entries(frame), 40u);
  int breaks = 0;
  for (size_t i = 1; i < 40; ++i) {
    const int step = EntryWord(frame, i, 0) - EntryWord(frame, i - 1, 0);
    EXPECT_TRUE(step == 1 || step == 2);
    breaks += step == 2;
  }
  EXPECT_EQ(breaks, 1);
  frame = NextFrame(sensor);
  EXPECT_EQ(EntryWord(frame, 0, 0), 81);
  EXPECT_EQ(EntryWord(frame, 39, 0), 120);
}

}  // namespace
}  // namespace sim
