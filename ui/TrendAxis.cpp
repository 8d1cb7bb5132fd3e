#include "TrendAxis.h"

#include <algorithm>
#include <cmath>

namespace ui {

T_AxisRange RoundRange(double lo, double hi, int lines) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi) {
    return {};
  }
  if (hi - lo < 1e-9 * std::max(1.0, std::fabs(hi))) {
    // A flat trace sits in the middle of a range of its own size.
    const double half = std::fabs(hi) > 1e-9 ? std::fabs(hi) * 0.01 : 0.5;
    lo -= half;
    hi += half;
  }
  const double raw = (hi - lo) / std::max(lines, 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= raw) break;
  }
  return {std::floor(lo / step) * step, std::ceil(hi / step) * step, step};
}

T_AxisRange KeptRange(const T_AxisRange& current, double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) {
    return current;
  }
  if (current.Holds(lo, hi) && (hi - lo) * 3 >= current.high - current.low) {
    return current;
  }
  return RoundRange(lo, hi);
}

}  // namespace ui
