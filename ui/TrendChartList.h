#pragma once
// What each strip chart of the trends window shows: its title with the
// unit the control panel's readings are in, and its traces, each a channel
// of the trend store drawn as the least and greatest value of every column
// (an envelope) or as its mean (a line).

#include <QRgb>
#include <vector>

#include "TrendChannels.h"

namespace ui {

struct T_TrendTrace {
  int channel;
  QRgb colour;
  bool envelope;  // the column's extremes, or else its mean
  const char* label;  // in the pointer's read-out
};

struct T_TrendChart {
  const char* title;
  const char* unit;
  std::vector<T_TrendTrace> traces;
  bool band = false;  // the filtered distance's standard deviation as a band about it
  bool rate = false;  // records per second, with the gaps marked
  bool integers = false;  // readings the panel shows as whole numbers
};

// The charts, top to bottom.
const std::vector<T_TrendChart>& TrendCharts();

}  // namespace ui
