// What the DDS front end makes of the sensor's data without DDS itself:
// records back to their words, the options, and the LaserScan geometry
// against the scan view's picture.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "DdsOptions.h"
#include "PlotGeometry.h"
#include "RecordSamples.h"
#include "RosMessages.h"
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

// The scan in the x-y plane (x right, y up) has the shape the scan view
// draws on the screen (x right, y down), point by point, and ranges in
// metres with out-of-range points as +Inf.
TEST(DdsLaserScan, AViewerInTheXyPlaneShowsTheScanViewsPicture) {
  std::vector<double> distances(1998), widths(1998);
  for (size_t i = 0; i < distances.size(); ++i) {
    distances[i] = 40.0 + 30.0 * std::sin(i * 0.01) + (i % 7);
    widths[i] = static_cast<double>(i % 300);
  }
  distances[5] = 0.0;  // held out of range
  widths[5] = 0.0;
  skarvdds::T_LaserScan scan;
  skarvdds::BuildLaserScan(distances, widths, 5000, 0.01, "skarv", {12, 34}, scan);
  const auto& m = scan.message;
  ASSERT_EQ(m.ranges._length, distances.size());
  EXPECT_EQ(m.scan_time, 0.05f);
  EXPECT_FLOAT_EQ(m.time_increment, 0.05f / 1998);
  EXPECT_EQ(m.header.stamp.sec, 12);
  EXPECT_EQ(m.header.stamp.nanosec, 34u);
  EXPECT_TRUE(std::isinf(m.ranges._buffer[5]) && m.ranges._buffer[5] > 0);
  EXPECT_EQ(m.intensities._buffer[5], 0.0f);
  EXPECT_EQ(m.intensities._buffer[299], 299.0f);
  EXPECT_LT(m.range_min, m.range_max);

  const ui::T_PlotRegion region{0, 0, 1.0e6};
  std::vector<ui::T_PlotPoint> pixels;
  ui::ComputeTrace(distances.data(), static_cast<int>(distances.size()), 100.0, region, pixels);
  for (size_t i = 0; i < distances.size(); i += 37) {
    if (i == 5) continue;
    const double angle = m.angle_min + m.angle_increment * static_cast<double>(i);
    const double x = m.ranges._buffer[i] * std::cos(angle);
    const double y = m.ranges._buffer[i] * std::sin(angle);
    // metres x 100 = distance units; 1e6 pixels per 100 units.
    EXPECT_NEAR(x * 100.0 * 1.0e4, pixels[i].x, 50.0) << i;
    EXPECT_NEAR(-y * 100.0 * 1.0e4, pixels[i].y, 50.0) << i;
  }
}

}  // namespace
