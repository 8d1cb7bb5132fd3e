#pragma once
// A fixed two-dimensional room around the sensor, which sits at the origin:
// walls forming one closed polygon, with round pillars and rectangular boxes
// standing inside. A ray turning with the sensor's head sees the nearest
// surface; the reflection width grows as the ray meets that surface more
// obliquely. Lengths are in the sensor's distance units (raw distance / 10);
// angles are in radians, 0 along +x, counter-clockwise.

#include <vector>

namespace sim {

struct T_Point {
  double x = 0.0;
  double y = 0.0;
};

class CRoom {
 public:
  // Width of a surface hit head-on, and of one hit at grazing incidence.
  static constexpr double kMinWidth = 60.0;
  static constexpr double kMaxWidth = 250.0;

  // The demo room: six walls of an irregular hexagon with the sensor off its
  // centre, a pillar and a box; every distance lies between about 24 and 105.
  CRoom();
  // The demo room turned by a different angle and drawn a little smaller for
  // each `variant` (0: the demo room itself), with its pillar and box moved
  // along: each of several virtual sensors stands in a room of its own.
  static CRoom Variant(unsigned variant);
  // A room with the given walls (a closed polygon around the origin) and
  // nothing inside.
  explicit CRoom(const std::vector<T_Point>& walls);

  void AddPillar(T_Point centre, double radius);
  void AddBox(T_Point corner, T_Point oppositeCorner);  // sides along the axes

  // Distance to the nearest surface along the ray at `angleRad`; infinity
  // when the ray hits nothing (only possible in a room that is not closed).
  double DistanceAt(double angleRad) const;
  // Reflection width of that surface: kMinWidth head-on, rising with the
  // angle of incidence to kMaxWidth at grazing incidence; 0 when nothing is hit.
  double WidthAt(double angleRad) const;

 private:
  struct T_Segment {
    T_Point from;
    T_Point to;
  };
  struct T_Circle {
    T_Point centre;
    double radius = 0.0;
  };
  struct T_Hit {
    double distance;
    double cosIncidence;  // |cos| of the angle between the ray and the surface normal
  };

  void AddPolygon(const std::vector<T_Point>& corners);
  T_Hit Cast(double angleRad) const;

  std::vector<T_Segment> mSegments;
  std::vector<T_Circle> mCircles;
};

}  // namespace sim
