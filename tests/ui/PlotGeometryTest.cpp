#include <gtest/gtest.h>

#include <vector>

#include "PlotGeometry.h"
#include "RangeRings.h"
#include "ScanReadout.h"

namespace {

using ui::T_PlotPoint;

TEST(PlotGeometry, CentreAndRadiusFromThePlotAreaSize) {
  const ui::T_PlotRegion wide = ui::ComputePlotRegion(800, 600);
  EXPECT_EQ(wide.xCenter, 400);
  EXPECT_EQ(wide.yCenter, 300);
  EXPECT_EQ(wide.scale, 400.0);
  const ui::T_PlotRegion tall = ui::ComputePlotRegion(600, 800);
  EXPECT_EQ(tall.xCenter, 300);
  EXPECT_EQ(tall.yCenter, 400);
  EXPECT_EQ(tall.scale, 400.0);
  EXPECT_EQ(ui::ComputePlotRegion(801, 601).scale, 400.0) << "integer halves";
}

TEST(PlotGeometry, DistancesScaleToTheLimitWithAFloorAndACap) {
  const ui::T_PlotRegion region = ui::ComputePlotRegion(800, 600);
  const double distances[] = {60.0, 300.0, 0.0, -4.0, 0.29, 0.3};
  std::vector<T_PlotPoint> points;
  ui::ComputeTrace(distances, 6, 120.0, region, points);
  ASSERT_EQ(points.size(), 6u);
  // Point 0 lies straight below the centre.
  EXPECT_EQ(points[0].x, 400);
  EXPECT_EQ(points[0].y, 300 + 200) << "60 of 120 at radius 400";
  const double sin1 = ui::SinTable()[1];
  const double cos1 = ui::CosTable()[1];
  EXPECT_EQ(points[1].x, static_cast<int>(400 + sin1 * 400.0)) << "300 is capped at the radius";
  EXPECT_EQ(points[1].y, static_cast<int>(300 + cos1 * 400.0));
  EXPECT_EQ(points[2].y, static_cast<int>(300 + ui::CosTable()[2] * 5.0)) << "zero is drawn 5 pixels out";
  EXPECT_EQ(points[3].y, static_cast<int>(300 + ui::CosTable()[3] * 5.0)) << "so is a negative value";
  EXPECT_EQ(points[4].y, static_cast<int>(300 + ui::CosTable()[4] * 5.0)) << "0.29 comes to under one pixel";
  EXPECT_EQ(points[5].y, static_cast<int>(300 + ui::CosTable()[5] * 1.0));

  const double widths[] = {100.0, 0.0};
  ui::ComputeTrace(widths, 2, 400.0, region, points);
  EXPECT_EQ(points[0].y, 400) << "100 of 400 at radius 400";
  EXPECT_EQ(points[1].y, static_cast<int>(300 + ui::CosTable()[1] * 5.0));
}

TEST(PlotGeometry, QuarterTurnsGoRightThenUp) {
  const ui::T_PlotRegion region = ui::ComputePlotRegion(800, 600);
  std::vector<double> distances(2000, 60.0);
  std::vector<T_PlotPoint> points;
  ui::ComputeTrace(distances.data(), 2100, 120.0, region, points);
  ASSERT_EQ(points.size(), 2000u) << "one turn at most";
  // The summed angle of point 500 lies a hair past a quarter turn, so its y
  // comes to just under 300 and truncates to 299.
  EXPECT_EQ(points[500].x, 600);
  EXPECT_EQ(points[500].y, 299) << "point 500 to the right of the centre";
  EXPECT_EQ(points[1000].x, 400);
  EXPECT_EQ(points[1000].y, 100) << "point 1000 above it";
  EXPECT_EQ(points[1500].x, 200);
  EXPECT_NEAR(points[1500].y, 300, 1);
}

TEST(PlotGeometry, AngleTableStepsByATenthOfAPercentOfATurn) {
  EXPECT_DOUBLE_EQ(ui::SinTable()[0], 0.0);
  EXPECT_DOUBLE_EQ(ui::CosTable()[0], 1.0);
  EXPECT_NEAR(ui::SinTable()[500], 1.0, 1e-12);
  EXPECT_NEAR(ui::CosTable()[1000], -1.0, 1e-12);
  EXPECT_NEAR(ui::SinTable()[1999], -0.0031415874858795, 1e-9);
}

TEST(PlotGeometry, ZoomStepsStayWholeAboveTheFloorAndInsideTheRange) {
  EXPECT_EQ(ui::ZoomedLimit(120, -1, 10), 150);
  EXPECT_EQ(ui::ZoomedLimit(120, 2, 10), 77) << "96, then 76.8 rounded";
  EXPECT_EQ(ui::ZoomedLimit(11, 1, 10), 10) << "never below the floor";
  EXPECT_EQ(ui::ZoomedLimit(10, -1, 10), 13);
  EXPECT_EQ(ui::ZoomedLimit(2000000000, -3, 10), 2147483647) << "never past 32 bits";
}

TEST(PlotGeometry, RingsAtQuartersOfTheLimitWithShortLabels) {
  const ui::T_RangeRings rings = ui::ComputeRangeRings(150, 400.0);
  const char* labels[] = {"37.5", "75", "112.5", "150"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rings[i].radius, 100.0 * (i + 1));
    EXPECT_EQ(rings[i].label, labels[i]);
  }
  EXPECT_EQ(ui::RingLabel(2.25), "2.25");
  EXPECT_EQ(ui::RingLabel(0.0), "0");
}

TEST(PlotGeometry, ReadoutNamesTheNearestPointOfEitherTrace) {
  const std::vector<T_PlotPoint> distance = {{0, 0}, {10, 0}, {20, 0}};
  const std::vector<T_PlotPoint> width = {{0, 5}, {10, 5}, {20, 9}};
  EXPECT_EQ(ui::NearestScanPoint(distance, width, 11, 1), 1);
  EXPECT_EQ(ui::NearestScanPoint(distance, width, 19, 8), 2) << "the width trace's point is nearer";
  EXPECT_EQ(ui::NearestScanPoint({}, {}, 3, 3), -1);
  EXPECT_EQ(ui::ReadoutText(500, 60.0, 100.456), "Angle 90.00\u00B0  Distance 60.00  Width 100.46");
}

}  // namespace
