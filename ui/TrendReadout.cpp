#include "TrendReadout.h"

#include <cmath>

#include "TrendChartList.h"
#include "ValueFormat.h"

namespace ui {

namespace {

std::string Value(double value, bool integer) {
  return integer ? std::to_string(static_cast<long long>(std::llround(value))) : FormatF2(value);
}

std::string Reading(const trends::T_Column& column, const T_TrendTrace& trace, bool integer) {
  const int c = trace.channel;
  if (!trace.envelope) {
    return Value(column.mean[c], integer);
  }
  const std::string low = Value(column.min[c], integer);
  const std::string high = Value(column.max[c], integer);
  return low == high ? low : low + ".." + high;
}

}  // namespace

std::string TrendReadout(const trends::T_Column& column) {
  std::string text = "t " + FormatF2(column.StartSeconds()) + " s";
  if (column.Empty()) {
    return text + ": no records";
  }
  for (const T_TrendChart& chart : TrendCharts()) {
    text += "  |  ";
    text += chart.title;
    if (chart.rate) {
      text += column.HasRate() ? " " + Value(column.RecordsPerSecond(), true) + "/s" : " (still counting)";
      if (column.gaps > 0) {
        text += ", " + std::to_string(column.gaps) + " gap" + (column.gaps == 1 ? "" : "s") + " (" +
                std::to_string(column.missing) + " lost)";
      }
      continue;
    }
    for (const T_TrendTrace& trace : chart.traces) {
      text += " ";
      if (trace.label[0] != '\0') {
        text += std::string(trace.label) + " ";
      }
      text += Reading(column, trace, chart.integers);
    }
    if (chart.band) {
      text += " \u00B1 " + FormatF2(column.mean[trends::eStdDev]);
    }
  }
  return text;
}

}  // namespace ui
