#include <gtest/gtest.h>

#include <vector>

#include "PlotGeometry.h"

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

}  // namespace
