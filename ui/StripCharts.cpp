#include "StripCharts.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "FontFit.h"
#include "TrendChartList.h"

namespace ui {

namespace {

// A label of `value` with as many decimals as the axis's step needs.
QString AxisLabel(double value, double step) {
  const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 6);
  return QString::number(value, 'f', decimals);
}

}  // namespace

CStripCharts::CStripCharts(QWidget* parent) : QWidget(parent), mRanges(TrendCharts().size()) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(kLeftMargin + kRightMargin + 200, static_cast<int>(TrendCharts().size()) * 44 + kTimeAxisHeight);
}

int CStripCharts::PlotWidth() const { return std::max(width() - kLeftMargin - kRightMargin, 1); }

QRect CStripCharts::PlotRect(int chart) const {
  const int charts = static_cast<int>(TrendCharts().size());
  const int each = std::max((height() - kTimeAxisHeight) / charts, kTitleHeight + 8);
  const int top = chart * each + kTitleHeight;
  return QRect(kLeftMargin, top, PlotWidth(), each - kTitleHeight - 4);
}

CStripCharts::T_Rows CStripCharts::RowsOf(int chart) const {
  const QRect plot = PlotRect(chart);
  const T_AxisRange& range = Range(chart);
  return {plot.top(), plot.bottom(), range.low, (plot.height() - 1) / (range.high - range.low)};
}

int CStripCharts::RowOf(int chart, double value) const { return RowsOf(chart).Of(value); }

int CStripCharts::ColumnAt(int x) const {
  const int column = x - kLeftMargin;
  return column >= 0 && column < static_cast<int>(mColumns.size()) ? column : -1;
}

void CStripCharts::SetColumns(std::vector<trends::T_Column> columns, double spanSeconds) {
  SwapColumns(columns, spanSeconds);
}

void CStripCharts::SwapColumns(std::vector<trends::T_Column>& columns, double spanSeconds) {
  mColumns.swap(columns);
  mSpanSeconds = spanSeconds;
  for (size_t chart = 0; chart < mRanges.size(); ++chart) {
    double lo = 0.0;
    double hi = 0.0;
    Extent(static_cast<int>(chart), lo, hi);
    mRanges[chart] = KeptRange(mRanges[chart], lo, hi);
  }
  // Unless the axes changed, only the plots are sent to the screen again.
  if (Render()) {
    update();
  } else {
    QRegion plots;
    for (int chart = 0; chart < static_cast<int>(TrendCharts().size()); ++chart) plots += PlotRect(chart);
    update(plots);
  }
}

void CStripCharts::Extent(int chart, double& lo, double& hi) const {
  const T_TrendChart& chartInfo = TrendCharts()[static_cast<size_t>(chart)];
  lo = std::numeric_limits<double>::infinity();
  hi = -std::numeric_limits<double>::infinity();
  for (const trends::T_Column& column : mColumns) {
    if (column.Empty()) continue;
    for (const T_TrendTrace& trace : chartInfo.traces) {
      lo = std::min(lo, trace.envelope ? double{column.min[trace.channel]} : column.mean[trace.channel]);
      hi = std::max(hi, trace.envelope ? double{column.max[trace.channel]} : column.mean[trace.channel]);
    }
    if (chartInfo.band) {
      const double f = column.mean[trends::eFiltered];
      const double s = column.mean[trends::eStdDev];
      lo = std::min(lo, f - s);
      hi = std::max(hi, f + s);
    }
    if (chartInfo.rate && column.HasRate()) {
      // From zero, so that a dip reads in proportion, and with room above
      // a steady rate, so that it does not run along the frame.
      lo = 0.0;
      hi = std::max(hi, column.RecordsPerSecond() * 1.2);
    }
  }
}

void CStripCharts::resizeEvent(QResizeEvent*) {
  mBackground = QImage();
  if (mOnResize) {
    mOnResize();
  } else {
    Render();
  }
}

void CStripCharts::DrawBackground() {
  mBackground = QImage(size(), QImage::Format_RGB32);
  mBackground.fill(palette().color(QPalette::Window));
  QPainter painter(&mBackground);
  painter.setFont(DesktopFont(8));
  const QFontMetrics metrics(painter.font());
  const std::vector<T_TrendChart>& charts = TrendCharts();
  for (size_t chart = 0; chart < charts.size(); ++chart) {
    const QRect plot = PlotRect(static_cast<int>(chart));
    const T_AxisRange& range = mRanges[chart];
    painter.fillRect(plot, QColor::fromRgb(kPlotBackground));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(plot.left(), plot.top() - kTitleHeight, plot.width(), kTitleHeight),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromUtf8(charts[chart].title) + QStringLiteral(" (") +
                         QString::fromUtf8(charts[chart].unit) + QStringLiteral(")"));
    for (double v = range.low; v <= range.high + range.step * 0.5; v += range.step) {
      const int row = RowOf(static_cast<int>(chart), v);
      painter.setPen(QColor::fromRgb(kGrid));
      painter.drawLine(plot.left(), row, plot.right(), row);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    for (const double v : {range.low, range.high}) {
      const int row = RowOf(static_cast<int>(chart), v);
      painter.drawText(QRect(0, row - metrics.height() / 2, kLeftMargin - 4, metrics.height()),
                       Qt::AlignRight | Qt::AlignVCenter, AxisLabel(v, range.step));
    }
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(plot.adjusted(-1, -1, 0, 0));
  }
  // The time axis: seconds before the newest record, at fifths of the span.
  const QRect last = PlotRect(static_cast<int>(charts.size()) - 1);
  const int axisTop = last.bottom() + 4;
  painter.setPen(palette().color(QPalette::WindowText));
  for (int i = 0; i <= 5; ++i) {
    const int x = last.left() + (last.width() - 1) * i / 5;
    const double seconds = -mSpanSeconds * (5 - i) / 5;
    painter.drawLine(x, axisTop - 3, x, axisTop);
    const QString text = i == 5 ? QStringLiteral("0 s") : QString::number(seconds, 'f', 0) + QStringLiteral(" s");
    const int w = metrics.horizontalAdvance(text);
    painter.drawText(QRect(std::min(x - w / 2, width() - w - 1), axisTop, w + 2, kTimeAxisHeight - 4),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
  }
  mBackgroundRanges = mRanges;
  mBackgroundSpan = mSpanSeconds;
}

void CStripCharts::DrawChart(int chart) {
  const T_TrendChart& chartInfo = TrendCharts()[static_cast<size_t>(chart)];
  const QRect plot = PlotRect(chart);
  const int columns = std::min(static_cast<int>(mColumns.size()), plot.width());
  const T_Rows rows = RowsOf(chart);
  auto row = [&rows](double v) { return rows.Of(v); };
  if (chartInfo.band) {
    for (int i = 0; i < columns; ++i) {
      const trends::T_Column& column = mColumns[static_cast<size_t>(i)];
      if (column.Empty()) continue;
      const double f = column.mean[trends::eFiltered];
      const double s = column.mean[trends::eStdDev];
      Run(plot.left() + i, row(f + s), row(f - s), kBand);
    }
  }
  auto trace = [&](auto lowOf, auto highOf, QRgb colour, bool rate = false) {
    bool previous = false;
    double prevLow = 0.0;
    double prevHigh = 0.0;
    for (int i = 0; i < columns; ++i) {
      const trends::T_Column& column = mColumns[static_cast<size_t>(i)];
      if (column.Empty() || (rate && !column.HasRate())) {
        previous = false;
        continue;
      }
      const double a = lowOf(column);
      const double b = highOf(column);
      // Joined to the column before: the run reaches the nearer end of its.
      const double low = previous ? std::min(a, prevHigh) : a;
      const double high = previous ? std::max(b, prevLow) : b;
      Run(plot.left() + i, row(high), row(low), colour);
      previous = true;
      prevLow = a;
      prevHigh = b;
    }
  };
  for (const T_TrendTrace& t : chartInfo.traces) {
    const int c = t.channel;
    if (t.envelope) {
      trace([c](const trends::T_Column& k) { return double{k.min[c]}; },
            [c](const trends::T_Column& k) { return double{k.max[c]}; }, t.colour);
    } else {
      trace([c](const trends::T_Column& k) { return k.mean[c]; }, [c](const trends::T_Column& k) { return k.mean[c]; },
            t.colour);
    }
  }
  if (chartInfo.band) {
    for (const double sign : {1.0, -1.0}) {
      auto edge = [sign](const trends::T_Column& k) { return k.mean[trends::eFiltered] + sign * k.mean[trends::eStdDev]; };
      trace(edge, edge, kBandEdge);
    }
  }
  if (chartInfo.rate) {
    auto rate = [](const trends::T_Column& k) { return k.RecordsPerSecond(); };
    trace(rate, rate, kRateTrace, true);
    for (int i = 0; i < columns; ++i) {
      if (mColumns[static_cast<size_t>(i)].gaps > 0) {
        Run(plot.left() + i, plot.top(), plot.top() + plot.height() / 3, kGapMark);
      }
    }
  }
}

bool CStripCharts::Render() {
  if (width() <= 0 || height() <= 0) {
    return false;
  }
  bool background = false;
  if (mBackground.size() != size() || mBackgroundRanges != mRanges || mBackgroundSpan != mSpanSeconds) {
    DrawBackground();
    background = true;
  }
  const int charts = static_cast<int>(TrendCharts().size());
  if (background || mFrame.size() != mBackground.size() || mFrame.format() != mBackground.format()) {
    mFrame = mBackground.copy();
  } else {
    // Outside the plots the frame is the background already: only the
    // plots' rows are put back.
    for (int chart = 0; chart < charts; ++chart) {
      const QRect plot = PlotRect(chart);
      const size_t bytes = static_cast<size_t>(plot.width()) * sizeof(QRgb);
      for (int y = plot.top(); y <= plot.bottom(); ++y) {
        std::memcpy(reinterpret_cast<QRgb*>(mFrame.scanLine(y)) + plot.left(),
                    reinterpret_cast<const QRgb*>(mBackground.constScanLine(y)) + plot.left(), bytes);
      }
    }
  }
  mPixels = reinterpret_cast<QRgb*>(mFrame.bits());
  mStride = mFrame.bytesPerLine() / static_cast<ptrdiff_t>(sizeof(QRgb));
  for (int chart = 0; chart < charts; ++chart) {
    DrawChart(chart);
  }
  mPixels = nullptr;
  return background;
}

void CStripCharts::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (mFrame.isNull()) {
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    return;
  }
  painter.drawImage(event->rect(), mFrame, event->rect());
}

void CStripCharts::mouseMoveEvent(QMouseEvent* event) {
  if (mOnPointer) mOnPointer(ColumnAt(static_cast<int>(event->position().x())));
}

void CStripCharts::leaveEvent(QEvent*) {
  if (mOnPointer) mOnPointer(-1);
}

}  // namespace ui
