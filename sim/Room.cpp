#include "Room.h"

#include <cmath>
#include <limits>

namespace sim {

namespace {

// Hits closer than this are the ray's own origin, not a surface.
constexpr double kMinHitDistance = 1e-9;

double Cross(T_Point a, T_Point b) { return a.x * b.y - a.y * b.x; }

}  // namespace

CRoom::CRoom() : CRoom(Variant(0)) {}

CRoom CRoom::Variant(unsigned variant) {
  // Turned by about 47 degrees a variant, and up to a fifth smaller: every
  // distance stays within the sensor's range.
  const double turn = 0.83 * variant;
  const double scale = 1.0 - 0.06 * (variant % 4);
  const auto place = [&](T_Point p) {
    return T_Point{scale * (p.x * std::cos(turn) - p.y * std::sin(turn)),
                   scale * (p.x * std::sin(turn) + p.y * std::cos(turn))};
  };
  std::vector<T_Point> walls;
  for (T_Point corner :
       {T_Point{-60.0, -45.0}, {95.0, -40.0}, {100.0, 30.0}, {60.0, 70.0}, {-50.0, 75.0}, {-70.0, 10.0}}) {
    walls.push_back(place(corner));
  }
  CRoom room(walls);
  room.AddPillar(place({35.0, 25.0}), 7.0 * scale);
  // The box keeps its sides along the axes: its corners turn about its centre.
  const T_Point centre = place({-24.0, -22.0});
  const double half = 6.0 * scale;
  room.AddBox({centre.x - half, centre.y - half}, {centre.x + half, centre.y + half});
  return room;
}

CRoom::CRoom(const std::vector<T_Point>& walls) { AddPolygon(walls); }

void CRoom::AddPillar(T_Point centre, double radius) { mCircles.push_back({centre, radius}); }

void CRoom::AddBox(T_Point corner, T_Point oppositeCorner) {
  AddPolygon({corner, {oppositeCorner.x, corner.y}, oppositeCorner, {corner.x, oppositeCorner.y}});
}

void CRoom::AddPolygon(const std::vector<T_Point>& corners) {
  for (size_t i = 0; i < corners.size(); ++i) {
    mSegments.push_back({corners[i], corners[(i + 1) % corners.size()]});
  }
}

double CRoom::DistanceAt(double angleRad) const { return Cast(angleRad).distance; }

double CRoom::WidthAt(double angleRad) const {
  const T_Hit hit = Cast(angleRad);
  if (std::isinf(hit.distance)) {
    return 0.0;
  }
  return kMinWidth + (kMaxWidth - kMinWidth) * (1.0 - hit.cosIncidence);
}

CRoom::T_Hit CRoom::Cast(double angleRad) const {
  const T_Point dir{std::cos(angleRad), std::sin(angleRad)};
  T_Hit nearest{std::numeric_limits<double>::infinity(), 1.0};

  // Ray t*dir against segment from + s*(to - from), 0 <= s <= 1.
  for (const T_Segment& seg : mSegments) {
    const T_Point edge{seg.to.x - seg.from.x, seg.to.y - seg.from.y};
    const double denom = Cross(dir, edge);
    if (denom == 0.0) {
      continue;  // parallel to the ray
    }
    const double t = Cross(seg.from, edge) / denom;
    const double s = Cross(seg.from, dir) / denom;
    if (t > kMinHitDistance && s >= 0.0 && s <= 1.0 && t < nearest.distance) {
      const double length = std::hypot(edge.x, edge.y);
      nearest = {t, std::fabs(denom) / length};  // |dir x edge| / |edge| = |dir . normal|
    }
  }

  // Ray against circle: |t*dir - centre|^2 = r^2.
  for (const T_Circle& circle : mCircles) {
    const double along = dir.x * circle.centre.x + dir.y * circle.centre.y;
    const double squared = circle.centre.x * circle.centre.x + circle.centre.y * circle.centre.y;
    const double discriminant = along * along - squared + circle.radius * circle.radius;
    if (discriminant < 0.0) {
      continue;
    }
    const double root = std::sqrt(discriminant);
    const double t = (along - root > kMinHitDistance) ? along - root : along + root;
    if (t > kMinHitDistance && t < nearest.distance) {
      const T_Point normal{(t * dir.x - circle.centre.x) / circle.radius,
                           (t * dir.y - circle.centre.y) / circle.radius};
      nearest = {t, std::fabs(dir.x * normal.x + dir.y * normal.y)};
    }
  }
  return nearest;
}

}  // namespace sim
