#include "Room.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace sim {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(Room, WallsGiveDistanceAndWidthFromIncidence) {
  const CRoom room({{-50, -50}, {50, -50}, {50, 50}, {-50, 50}});
  EXPECT_NEAR(room.DistanceAt(0.0), 50.0, 1e-9);
  EXPECT_NEAR(room.DistanceAt(kPi), 50.0, 1e-9);
  EXPECT_NEAR(room.DistanceAt(kPi / 4), 50.0 * std::sqrt(2.0), 1e-9);
  EXPECT_NEAR(room.WidthAt(0.0), 60.0, 1e-9);
  EXPECT_NEAR(room.WidthAt(kPi / 4), 60.0 + 190.0 * (1.0 - std::sqrt(0.5)), 1e-9);
}

TEST(Room, NearestObjectHidesTheWallBehindIt) {
  CRoom room({{-50, -50}, {50, -50}, {50, 50}, {-50, 50}});
  room.AddPillar({30, 0}, 5);
  room.AddBox({-20, -5}, {-10, 5});
  EXPECT_NEAR(room.DistanceAt(0.0), 25.0, 1e-9);
  EXPECT_NEAR(room.WidthAt(0.0), 60.0, 1e-9);
  EXPECT_GT(room.WidthAt(0.16), 150.0);  // the pillar's edge, nearly grazing
  EXPECT_NEAR(room.DistanceAt(kPi), 10.0, 1e-9);
  EXPECT_NEAR(room.DistanceAt(kPi / 2), 50.0, 1e-9);
}

TEST(Room, DemoRoomStaysWithinPlotLimits) {
  const CRoom room;
  for (int i = 0; i < 1000; ++i) {
    const double angle = 2.0 * kPi * i / 1000;
    EXPECT_GE(room.DistanceAt(angle), 20.0) << i;
    EXPECT_LE(room.DistanceAt(angle), 110.0) << i;
    EXPECT_GE(room.WidthAt(angle), 60.0) << i;
    EXPECT_LE(room.WidthAt(angle), 250.0) << i;
  }
}

}  // namespace
}  // namespace sim
