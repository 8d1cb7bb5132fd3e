#include "PlotGeometry.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

constexpr double kAngleStep = 0.0031415926535897933;  // π/1000
constexpr double kInnerRadius = 5.0;

struct CAngleTables {
  std::array<double, kAngleSteps> sin{};
  std::array<double, kAngleSteps> cos{};
  CAngleTables() {
    double angle = 0.0;
    for (int i = 0; i < kAngleSteps; ++i) {
      sin[i] = std::sin(angle);
      cos[i] = std::cos(angle);
      angle += kAngleStep;
    }
  }
};

const CAngleTables& Tables() {
  static const CAngleTables tables;
  return tables;
}

}  // namespace

T_PlotRegion ComputePlotRegion(int width, int height) {
  return T_PlotRegion{width / 2, height / 2, static_cast<double>(std::max(width, height) / 2)};
}

const std::array<double, kAngleSteps>& SinTable() { return Tables().sin; }
const std::array<double, kAngleSteps>& CosTable() { return Tables().cos; }

void ComputeTrace(const double* values, int count, double limit, const T_PlotRegion& region,
                  std::vector<T_PlotPoint>& points) {
  ComputeTrace(values, count, limit, region, SinTable().data(), CosTable().data(), points);
}

void ComputeTrace(const double* values, int count, double limit, const T_PlotRegion& region, const double* sin,
                  const double* cos, std::vector<T_PlotPoint>& points) {
  const int n = std::clamp(count, 0, kAngleSteps);
  points.resize(n);
  for (int i = 0; i < n; ++i) {
    double r = values[i] * region.scale / limit;
    if (r < 1.0) r = kInnerRadius;
    if (r > region.scale) r = region.scale;
    points[i].x = static_cast<int>(region.xCenter + sin[i] * r);
    points[i].y = static_cast<int>(region.yCenter + cos[i] * r);
  }
}

int32_t ZoomedLimit(int32_t limit, int steps, int32_t minimum) {
  double value = limit;
  for (int i = 0; i < steps; ++i) value *= 0.8;
  for (int i = 0; i > steps; --i) value *= 1.25;
  value = std::clamp(std::round(value), static_cast<double>(minimum), static_cast<double>(INT32_MAX));
  return static_cast<int32_t>(value);
}

}  // namespace ui
