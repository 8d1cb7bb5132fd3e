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
  ASSERT_EQ(frame.size(), 28u + 20 * 8);
  EXPECT_NEAR(Word(frame, 0) * 0.0022711 + 1.06, 12.0, 0.02);  // supply voltage
  EXPECT_NEAR(Word(frame, 2) * 0.01162 - 27.0, 35.0, 0.05);    // laser temperature
  EXPECT_NEAR(Word(frame, 4), 1800, 5);                        // laser power
  EXPECT_EQ(frame[6], 0x00);                                   // millisecond counter
  EXPECT_EQ(frame[7], 0x00);
  EXPECT_NEAR(static_cast<int16_t>(Word(frame, 8)), 0, 24);    // AccelX, signed
  EXPECT_NEAR(static_cast<int16_t>(Word(frame, 12)), 16384, 24);
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
  ASSERT_EQ(Entries(frame), 20u);
  // count, distance 60000, width 0, scan state 0 and DeltTime 5 (at 1200 rpm).
  const std::vector<uint8_t> first = {0x00, 0x00, 0xEA, 0x60, 0x00, 0x00, 0x00, 0x0A,
                                      0x00, 0x01, 0xEA, 0x60, 0x00, 0x00, 0x00, 0x0A};
  const std::vector<uint8_t> last = {0x00, 0x13, 0xEA, 0x60, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 28, frame.begin() + 44), first);
  EXPECT_EQ(std::vector<uint8_t>(frame.end() - 8, frame.end()), last);
}

TEST(VirtualSensorFrame, SamplesPerFrameFollowTheRate) {
  struct Case { uint16_t rpm; size_t minEntries, maxEntries; };
  for (const Case c : {Case{1200, 20, 20}, Case{6000, 100, 100}, Case{300, 5, 5}, Case{1100, 18, 19}}) {
    CVirtualSensor sensor;
    Command(sensor, 'R', c.rpm, 1);
    size_t total = 0, fewest = 1000, most = 0;
    for (int ms = 0; ms < 600; ++ms) {
      const auto frame = NextFrame(sensor);
      fewest = std::min(fewest, Entries(frame));
      most = std::max(most, Entries(frame));
      total += Entries(frame);
    }
    EXPECT_EQ(fewest, c.minEntries) << c.rpm;
    EXPECT_EQ(most, c.maxEntries) << c.rpm;
    EXPECT_EQ(total, 600u * c.rpm * 1000 / 60000) << c.rpm;
  }
}

// Counts rise by one and wrap, the scan bit flips every 1000 samples, and a
// rotation's DeltTimes add up to its period; all of it through rate changes.
TEST(VirtualSensorFrame, EntriesFollowTheRotation) {
  CVirtualSensor sensor;
  uint32_t sample = 0;
  std::vector<uint32_t> rotationTimes(1, 0);
  bool wrapped = false;
  for (int ms = 0; ms < 2400; ++ms) {
    if (ms == 1500) Command(sensor, 'R', 1100, 1);  // on a rotation boundary
    if (ms == 2000) Command(sensor, 'R', 6000, 2);  // inside rotation 39
    const auto frame = NextFrame(sensor);
    for (size_t i = 0; i < Entries(frame); ++i, ++sample) {
      ASSERT_EQ(EntryWord(frame, i, 0), sample & 0xFFFF);
      wrapped |= EntryWord(frame, i, 0) == 0 && sample > 0;
      const uint16_t flags = EntryWord(frame, i, 3);
      ASSERT_EQ(flags >> 15, (sample / 1000) % 2) << sample;
      ASSERT_EQ(flags & 1, 0);
      const unsigned delt = (flags >> 1) & 0x3FFF;
      ASSERT_TRUE(delt == 5 || delt == 6 || delt == 1) << sample;  // no jump at a rate change
      if (sample > 0 && sample % 1000 == 0) rotationTimes.push_back(0);
      rotationTimes.back() += delt;
    }
  }
  EXPECT_TRUE(wrapped);
  EXPECT_EQ(sensor.SamplesTaken(), sample);
  ASSERT_EQ(rotationTimes.size(), 80u);
  EXPECT_EQ(rotationTimes[0], 5000u);  // 1200 rpm: 50 ms in 10 us units
  EXPECT_EQ(rotationTimes[29], 5000u);
  for (size_t r = 31; r < 39; ++r) {  // 1100 rpm: 54.5 ms
    EXPECT_TRUE(rotationTimes[r] == 5454 || rotationTimes[r] == 5455) << r;
  }
  EXPECT_EQ(rotationTimes[40], 1000u);  // 6000 rpm: 10 ms
  EXPECT_EQ(rotationTimes[78], 1000u);
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
  NextFrame(sensor);  // counts 0..19
  sensor.DropSamples(5);
  auto frame = NextFrame(sensor);
  EXPECT_EQ(Entries(frame), 15u);
  EXPECT_EQ(EntryWord(frame, 0, 0), 25);

  sensor.ShortenNextFrames(2, 50);
  EXPECT_EQ(NextFrame(sensor).size(), 50u);
  EXPECT_EQ(NextFrame(sensor).size(), 50u);
  frame = NextFrame(sensor);
  ASSERT_EQ(Entries(frame), 20u);
  EXPECT_EQ(EntryWord(frame, 0, 0), 80);

  frame = NextFrame(sensor, 100);  // room for 9 entries only
  EXPECT_EQ(frame.size(), 100u);
  EXPECT_EQ(EntryWord(NextFrame(sensor), 0, 0), 120);
  EXPECT_EQ(sensor.SamplesTaken(), 140u);
}

TEST(VirtualSensorFrame, SequenceBreakInsideOneFrame) {
  CVirtualSensor sensor;
  NextFrame(sensor);
  sensor.BreakSequenceInNextFrame();
  auto frame = NextFrame(sensor);
  ASSERT_EQ(Entries(frame), 20u);
  int breaks = 0;
  for (size_t i = 1; i < 20; ++i) {
    const int step = EntryWord(frame, i, 0) - EntryWord(frame, i - 1, 0);
    EXPECT_TRUE(step == 1 || step == 2);
    breaks += step == 2;
  }
  EXPECT_EQ(breaks, 1);
  frame = NextFrame(sensor);
  EXPECT_EQ(EntryWord(frame, 0, 0), 41);
  EXPECT_EQ(EntryWord(frame, 19, 0), 60);
}

}  // namespace
}  // namespace sim
