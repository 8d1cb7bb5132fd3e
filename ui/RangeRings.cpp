#include "RangeRings.h"

#include <cstdio>

namespace ui {

T_RangeRings ComputeRangeRings(double limit, double scale) {
  T_RangeRings rings;
  for (int i = 0; i < static_cast<int>(rings.size()); ++i) {
    const double part = (i + 1) / 4.0;
    rings[i].radius = scale * part;
    rings[i].label = RingLabel(limit * part);
  }
  return rings;
}

std::string RingLabel(double distance) {
  char text[48];
  std::snprintf(text, sizeof text, "%.2f", distance);
  std::string label(text);
  while (label.back() == '0') {
    label.pop_back();
  }
  if (label.back() == '.') {
    label.pop_back();
  }
  return label;
}

}  // namespace ui
