#pragma once
// The scan view's geometry: the plot centre and radius from the plot area's
// size, the angle tables, and the pixel points of a trace. Kept apart from
// the widget so that it can be checked without a display.

#include <array>
#include <cstdint>
#include <vector>

namespace ui {

constexpr int kAngleSteps = 2000;  // one full turn, 0.18 degrees a step

struct T_PlotRegion {
  int xCenter = 0;
  int yCenter = 0;
  double scale = 0.0;  // radius in pixels at which a value equal to its limit is drawn
};

struct T_PlotPoint {
  int x = 0;
  int y = 0;
};

// Centre at half the width and height, radius half the larger of them.
T_PlotRegion ComputePlotRegion(int width, int height);

// sin and cos of angle i, each angle π/1000 on from the one before.
const std::array<double, kAngleSteps>& SinTable();
const std::array<double, kAngleSteps>& CosTable();

// The points of one trace of `count` values (at most kAngleSteps are used):
// value × scale / limit pixels from the centre along angle i, 5 pixels for a
// value that comes to less than one pixel, never past the radius; point 0
// straight below the centre, turning counter-clockwise on the screen.
// Coordinates are truncated toward zero.
void ComputeTrace(const double* values, int count, double limit, const T_PlotRegion& region,
                  std::vector<T_PlotPoint>& points);
// The same along the angles of the given sine and cosine tables
// (kAngleSteps entries each).
void ComputeTrace(const double* values, int count, double limit, const T_PlotRegion& region,
                  const double* sinTable, const double* cosTable, std::vector<T_PlotPoint>& points);

// The full-scale distance after `steps` wheel steps from `limit`: each step
// towards the operator (negative) shows more, ×1.25, each step away shows
// less, ×0.8; rounded to whole units, never below `minimum` nor past the
// 32-bit range.
int32_t ZoomedLimit(int32_t limit, int steps, int32_t minimum);

}  // namespace ui
