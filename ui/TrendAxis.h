#pragma once
// The value axis of a strip chart: a range of round numbers (steps of 1, 2
// or 5 times a power of ten) around what the chart shows, kept while the
// values stay within it and fill a fair part of it, so that the axis's
// labels, drawn once per range, seldom change.

namespace ui {

struct T_AxisRange {
  double low = 0.0;
  double high = 1.0;
  double step = 0.5;  // between the labelled lines

  bool operator==(const T_AxisRange& other) const = default;
  bool Holds(double lo, double hi) const { return lo >= low && hi <= high; }
};

// A round range holding [lo, hi] with about `lines` steps; a flat or empty
// span gets a range around it of its own.
T_AxisRange RoundRange(double lo, double hi, int lines = 4);

// `current` while it holds [lo, hi] and the span fills at least a third of
// it; otherwise the round range of the span.
T_AxisRange KeptRange(const T_AxisRange& current, double lo, double hi);

}  // namespace ui
