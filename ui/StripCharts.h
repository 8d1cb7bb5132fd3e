#pragma once
// The trends window's strip charts, one above the other, drawn from the
// columns of the trend history: each chart's value axis is a round range
// around what it shows, labelled with the chart's unit, and the time axis
// along the bottom runs from the span's length ago to now (the newest
// record), in seconds.
//
// Drawing: the frames, grid lines and labels are drawn with QPainter into a
// background picture, once per size and set of ranges; each new set of
// columns copies that picture and sets the traces' pixels straight into the
// copy, a vertical run per column and trace, joined to the column before,
// so that nothing the window repaints ten times a second goes through text
// layout or path filling.

#include <QImage>
#include <QWidget>
#include <cstddef>
#include <utility>
#include <functional>
#include <vector>

#include "TrendAxis.h"
#include "TrendHistory.h"

namespace ui {

class CStripCharts : public QWidget {
 public:
  static constexpr int kLeftMargin = 64;   // the value labels
  static constexpr int kRightMargin = 8;
  static constexpr int kTitleHeight = 14;  // above each plot
  static constexpr int kTimeAxisHeight = 18;
  static constexpr QRgb kPlotBackground = 0xFFFFFFFF;
  static constexpr QRgb kGrid = 0xFFE0E0E0;
  // The standard deviation about the filtered distance: a band, its edges
  // drawn over the distance's trace so that it shows within a wide one.
  static constexpr QRgb kBand = 0xFFC8D8F8;
  static constexpr QRgb kBandEdge = 0xFF5070E0;
  static constexpr QRgb kRateTrace = 0xFF202020;
  static constexpr QRgb kGapMark = 0xFFE00000;

  explicit CStripCharts(QWidget* parent = nullptr);

  // Draws `columns` (one per pixel column of the plots, oldest first) over
  // a span of `spanSeconds`.
  void SetColumns(std::vector<trends::T_Column> columns, double spanSeconds);
  // The same, taking `columns` and leaving the ones drawn before in it, so
  // that a caller refreshing again and again reuses their storage.
  void SwapColumns(std::vector<trends::T_Column>& columns, double spanSeconds);
  const std::vector<trends::T_Column>& Columns() const { return mColumns; }
  // What the charts show now, as drawn.
  const QImage& Picture() const { return mFrame; }

  // The plot's width in pixels: how many columns the charts take.
  int PlotWidth() const;
  // The plot area of chart `chart` (of TrendCharts()).
  QRect PlotRect(int chart) const;
  // The pixel row of `value` in chart `chart`'s plot, as drawn now.
  int RowOf(int chart, double value) const;
  const T_AxisRange& Range(int chart) const { return mRanges[static_cast<size_t>(chart)]; }
  // The column under the widget's x, or -1.
  int ColumnAt(int x) const;

  // Called with the column under the pointer as it moves (-1 off the plots).
  void SetOnPointer(std::function<void(int column)> onPointer) { mOnPointer = std::move(onPointer); }
  // Called after a change of size, when the plots take another number of columns.
  void SetOnResize(std::function<void()> onResize) { mOnResize = std::move(onResize); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // Draws the frame; true when its background was drawn anew.
  bool Render();
  void DrawBackground();
  // The extent of what chart `chart` shows over the columns.
  void Extent(int chart, double& lo, double& hi) const;
  void DrawChart(int chart);
  // The rows of one chart's plot for its values, worked out once a frame.
  struct T_Rows {
    int top = 0;
    int bottom = 0;
    double low = 0.0;
    double perUnit = 0.0;  // rows per unit of value
    int Of(double value) const {
      const double offset = (value - low) * perUnit;
      if (!(offset > 0.0)) return bottom;  // below the range, or not a number
      const int row = bottom - static_cast<int>(offset + 0.5);
      return row < top ? top : row;
    }
  };
  T_Rows RowsOf(int chart) const;
  // Sets the pixels of column `x` from row `top` to `bottom` of the frame
  // being drawn.
  void Run(int x, int top, int bottom, QRgb colour) {
    if (top > bottom) std::swap(top, bottom);
    QRgb* pixel = mPixels + static_cast<ptrdiff_t>(top) * mStride + x;
    for (int y = top; y <= bottom; ++y, pixel += mStride) *pixel = colour;
  }

  std::vector<trends::T_Column> mColumns;
  double mSpanSeconds = 10.0;
  std::vector<T_AxisRange> mRanges;
  std::vector<T_AxisRange> mBackgroundRanges;
  double mBackgroundSpan = 0.0;
  QImage mBackground;
  QImage mFrame;
  QRgb* mPixels = nullptr;  // mFrame's, while a frame is drawn
  ptrdiff_t mStride = 0;
  std::function<void(int)> mOnPointer;
  std::function<void()> mOnResize;
};

}  // namespace ui
