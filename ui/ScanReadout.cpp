#include "ScanReadout.h"

#include <cstdint>

#include "ValueFormat.h"

namespace ui {

namespace {

constexpr double kDegreesPerPoint = 360.0 / kAngleSteps;

int64_t SquaredDistance(const T_PlotPoint& p, int x, int y) {
  const int64_t dx = p.x - x;
  const int64_t dy = p.y - y;
  return dx * dx + dy * dy;
}

}  // namespace

int NearestScanPoint(const std::vector<T_PlotPoint>& distancePoints, const std::vector<T_PlotPoint>& widthPoints,
                     int x, int y) {
  int nearest = -1;
  int64_t best = 0;
  for (const std::vector<T_PlotPoint>* trace : {&distancePoints, &widthPoints}) {
    for (size_t i = 0; i < trace->size(); ++i) {
      const int64_t d = SquaredDistance((*trace)[i], x, y);
      if (nearest < 0 || d < best) {
        nearest = static_cast<int>(i);
        best = d;
      }
    }
  }
  return nearest;
}

double ScanPointAngle(int index) { return index * kDegreesPerPoint; }

std::string ReadoutText(int index, double distance, double width) {
  return "Angle " + FormatF2(ScanPointAngle(index)) + "\u00B0  Distance " + FormatF2(distance) + "  Width " +
         FormatF2(width);
}

}  // namespace ui
