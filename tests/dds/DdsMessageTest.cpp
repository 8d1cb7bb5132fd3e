// What the DDS front end makes of the sensor's data without DDS itself:
// records back to their words, the options, and the LaserScan geometry
// against the scan view's picture, rotation by rotation.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>
#include <vector>

#include "DdsOptions.h"
#include "PlotGeometry.h"
#include "RecordSamples.h"
#include "RosMessages.h"
#include "RotationScanner.h"
#include "SampleFrameCodec.h"
#include "protocol/FrameBuilder.h"

namespace {

// The options themselves: tests/options.
TEST(DdsOptions, TopicNamesFollowTheNamespaceWithoutItsSlashes) {
  EXPECT_EQ(skarvdds::TopicName("/robot1/", "imu/temperature"), "rt/robot1/imu/temperature");
  EXPECT_EQ(skarvdds::TopicName("", "scan"), "rt/scan");
  EXPECT_EQ(skarvdds::TopicName("//", "scan"), "rt/scan");
}

// A receiver of another make decodes the records topic from the order its
// IDL gives, so the words go in that order; every bit comes back, the
// flags word's unused low bit and the extremes included.
TEST(DdsRecordWords, EachRecordTravelsAsItsEighteenWordsInTheOrderOfTheIdl) {
  std::vector<kiv::T_RawRecord> records(2);
  for (uint16_t i = 0; i < 2; ++i) {
    kiv::T_RawRecord& r = records[i];
    const uint16_t base = static_cast<uint16_t>(100 * (i + 1));
    r.count = base;
    r.rawDistance = base + 1;
    r.width = base + 2;
    r.flags = static_cast<uint16_t>(0x8001 | (base + 3) << 1);
    r.rawSupplyVoltage = base + 4;
    r.rawAnaTemp = base + 5;
    r.laserPower = base + 6;
    r.auxWord = base + 7;
    for (uint16_t k = 0; k < 10; ++k) r.imu[k] = base + 8 + k;
    r.hostTimeNs = 12345;
  }
  records[1].count = 0xFFFF;
  records[1].imu[9] = 0x8000;

  std::vector<uint16_t> words(records.size() * skarvdds::kWordsPerRecord);
  skarvdds::PackRecords(records, words);
  ASSERT_EQ(words.size(), 36u);
  EXPECT_EQ(words[0], 100);
  EXPECT_EQ(words[3], (0x8001 | 103 << 1));
  for (uint16_t k = 1; k < 18; ++k) {
    if (k != 3) {
      EXPECT_EQ(words[k], 100 + k) << "word " << k;
    }
  }
  EXPECT_EQ(words[18], 0xFFFF);
  EXPECT_EQ(words[19], 201);
  EXPECT_EQ(words[35], 0x8000);

  std::vector<kiv::T_RawRecord> back;
  skarvdds::AppendRecords(words, back);
  ASSERT_EQ(back.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(back[i].SameWords(records[i])) << i;
    EXPECT_EQ(back[i].hostTimeNs, 0) << "the host time stays on its host";
  }
}

// Whole rotations only, each scan 2000 points from -180 degrees, drawn in
// the x-y plane (x right, y up) as the scan view draws the rotation on the
// screen (x right, y down): the first quarter of a scan is the end of one
// rotation, the rest the beginning of the next. A lost record's point is
// NaN, a point out of range +Inf; no scan is made of a rotation whose start
// was not seen, or across a change of scan state among lost records. The
// record numbers wrap on the way.
TEST(DdsLaserScan, WholeRotationsFromMinusPiShowTheScanViewsPicture) {
  constexpr size_t kRotation = 1998;
  constexpr uint16_t kDelt = 2;  // 20 us a record
  const auto rawAt = [](size_t point, int rotation) {
    return static_cast<uint16_t>(400.0 + 300.0 * std::sin(point * 0.01) + 10 * (point % 7) + 2000 * rotation);
  };
  skarvdds::CRotationScanner scanner(0.01);
  const auto t0 = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
  uint16_t count = 65000;
  uint64_t units = 0;
  std::vector<skarvdds::T_ScanPoints> scans;
  std::map<std::pair<int, size_t>, std::chrono::system_clock::time_point> timeOf;
  // Rotation 0 is seen from its middle; the edge of rotation 4 is lost with
  // a few records before it; rotation 2 loses records 700 to 709.
  for (int rotation = 0; rotation <= 6; ++rotation) {
    for (size_t point = rotation == 0 ? 1750 : 0; point < kRotation; ++point) {
      const uint16_t thisCount = count++;
      units += kDelt;
      if ((rotation == 2 && point >= 700 && point < 710) || (rotation == 4 && point < 3)) continue;
      kiv::T_RawRecord record;
      record.count = thisCount;
      record.flags = kiv::T_RawRecord::FlagsOf(rotation % 2, kDelt);
      record.rawDistance = rawAt(point, rotation);
      record.width = static_cast<uint16_t>(point % 300);
      if (point == 5) record.rawDistance = 0;  // held out of range
      if (point == 1600) record.width = 400;   // too wide: out of range
      const auto time = t0 + std::chrono::microseconds(units * 10);
      timeOf[{rotation, point}] = time;
      if (scanner.Add(record, time)) scans.push_back(scanner.Completed());
    }
  }
  // Scans of rotations 1+2 and 2+3 (rotation 0 was not seen from its
  // start); that of 3+4 went with the lost edge; rotation 5 with the start
  // of 6 (rotation 6 does not reach its last quarter, so 6+7 is unfinished).
  ASSERT_EQ(scans.size(), 3u);
  const int firstRotation[] = {1, 2, 5};

  const ui::T_PlotRegion region{0, 0, 1.0e6};
  for (size_t k = 0; k < scans.size(); ++k) {
    skarvdds::T_LaserScan scan;
    skarvdds::BuildLaserScan(scans[k], skarvdds::StampOf(scans[k].stamp), 5000, 0.01, "skarv", scan);
    const auto& m = scan.message;
    ASSERT_EQ(m.ranges._length, 2000u);
    ASSERT_EQ(m.intensities._length, 2000u);
    EXPECT_GE(static_cast<double>(m.angle_min), -M_PI);
    EXPECT_NEAR(m.angle_min, -M_PI, 1e-6);
    EXPECT_LE(static_cast<double>(m.angle_max), M_PI);
    EXPECT_FLOAT_EQ(m.angle_max, m.angle_min + 1999 * m.angle_increment);
    EXPECT_FLOAT_EQ(m.angle_increment, static_cast<float>(2 * M_PI / 2000));
    EXPECT_EQ(m.scan_time, 0.05f);
    EXPECT_NEAR(m.time_increment, 20e-6, 0.05e-6);
    // The stamp is the time of the point at -180 degrees: point 1500 of the
    // first rotation.
    const auto stamp = timeOf[{firstRotation[k], 1500}];
    EXPECT_EQ(m.header.stamp.sec, std::chrono::duration_cast<std::chrono::seconds>(stamp.time_since_epoch()).count());
    EXPECT_NEAR(m.header.stamp.nanosec,
                std::chrono::duration_cast<std::chrono::nanoseconds>(stamp.time_since_epoch()).count() % 1000000000,
                1000.0);
    for (int part = 0; part < 2; ++part) {
      const int rotation = firstRotation[k] + part;
      std::vector<double> distances(kRotation);
      for (size_t i = 0; i < kRotation; ++i) distances[i] = rawAt(i, rotation) * 0.1;
      std::vector<ui::T_PlotPoint> pixels;
      ui::ComputeTrace(distances.data(), static_cast<int>(kRotation), 100.0 + 200.0 * rotation, region, pixels);
      for (size_t j = part == 0 ? 0 : 500; j < (part == 0 ? 500u : 2000u); ++j) {
        const size_t point = (j + 1500) % 2000;
        const float range = m.ranges._buffer[j];
        if (point >= kRotation || (rotation == 2 && point >= 700 && point < 710)) {
          ASSERT_TRUE(std::isnan(range)) << k << ":" << j;
        } else if (point == 5 || point == 1600) {
          ASSERT_TRUE(std::isinf(range) && range > 0) << k << ":" << j;
          ASSERT_EQ(m.intensities._buffer[j], 0.0f);
        } else {
          ASSERT_EQ(m.intensities._buffer[j], static_cast<float>(point % 300)) << k << ":" << j;
          const double angle = m.angle_min + m.angle_increment * static_cast<double>(j);
          // metres x 100 = distance units; 1e6 pixels per (100 + 200 x rotation) units.
          const double pixelsPerMetre = 100.0 * 1.0e6 / (100.0 + 200.0 * rotation);
          ASSERT_NEAR(range * std::cos(angle) * pixelsPerMetre, pixels[point].x, 50.0) << k << ":" << j;
          ASSERT_NEAR(-range * std::sin(angle) * pixelsPerMetre, pixels[point].y, 50.0) << k << ":" << j;
        }
      }
    }
  }
}

}  // namespace
