#pragma once
// The scan view's scale: rings at a quarter, a half, three quarters and the
// whole of the full-scale distance, each with the distance it stands for.

#include <array>
#include <string>

namespace ui {

struct T_RangeRing {
  double radius = 0.0;  // pixels from the plot centre
  std::string label;    // the distance, as few digits as it needs
};

using T_RangeRings = std::array<T_RangeRing, 4>;

// The rings for a full-scale distance `limit` drawn at `scale` pixels.
T_RangeRings ComputeRangeRings(double limit, double scale);

// A distance as a ring's label: a whole number plainly, otherwise with up to
// two decimals and no trailing zeros (37.5, 112.5, 2.25).
std::string RingLabel(double distance);

}  // namespace ui
