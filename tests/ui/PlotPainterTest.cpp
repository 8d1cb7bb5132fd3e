// The plot painted in place into a window's image, scan after scan, must
// always equal the plot painted whole.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <memory>
#include <vector>

#include "PlotPainter.h"
#include "QtApp.h"

namespace {

constexpr int kWidth = 100;
constexpr int kHeight = 80;
const QPoint kOrigin(50, 30);  // where the plot lies in the window
const ui::T_TraceColours kColours{0xFFFF0000u, 0xFF008000u};

std::shared_ptr<const QImage> Background() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setPen(QColor(0xD3, 0xD3, 0xD3));
  painter.drawEllipse(QPoint(kWidth / 2, kHeight / 2), 30, 30);
  return std::make_shared<const QImage>(std::move(image));
}

std::shared_ptr<const ui::T_TraceFrame> Frame(const QImage& background, std::vector<ui::T_PlotPoint> dist,
                                             std::vector<ui::T_PlotPoint> width) {
  auto frame = std::make_shared<ui::T_TraceFrame>();
  frame->tiles.Clear(kWidth, kHeight);
  const auto* pixels = reinterpret_cast<const uint32_t*>(background.constBits());
  ui::TracePixels(kWidth, kHeight, dist, frame->distPixels, frame->tiles);
  ui::TracePixels(kWidth, kHeight, width, frame->widthPixels, frame->tiles);
  ui::SamplePixels(pixels, frame->distPixels, frame->distUnder);
  ui::SamplePixels(pixels, frame->widthPixels, frame->widthUnder);
  return frame;
}

// The plot painted whole on an image of its own.
QImage Whole(const std::shared_ptr<const QImage>& background, const std::shared_ptr<const ui::T_TraceFrame>& frame) {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  ui::CPlotPainter whole;
  QPainter painter(&image);
  whole.Paint(painter, QRegion(image.rect()), background, frame, kColours, QRect());
  return image;
}

TEST(PlotPainter, ScansPaintedInPlaceEqualThePlotPaintedWhole) {
  TestApp();
  const auto background = Background();
  const std::vector<std::shared_ptr<const ui::T_TraceFrame>> frames = {
      Frame(*background, {{10, 10}, {90, 70}}, {{10, 70}, {90, 10}}),
      Frame(*background, {{0, 40}, {99, 40}}, {{50, 0}, {50, 79}}),
      Frame(*background, {{20, 20}, {30, 25}}, {}),
      Frame(*background, {}, {}),
  };
  // A window wider than the plot, its rows longer than the plot's.
  QImage window(300, 200, QImage::Format_ARGB32_Premultiplied);
  window.fill(Qt::blue);
  ui::CPlotPainter painter;
  auto paint = [&](const QRegion& region, const std::shared_ptr<const ui::T_TraceFrame>& frame, QRect marks) {
    QPainter on(&window);
    on.translate(kOrigin);
    on.setClipRegion(region);
    painter.Paint(on, region, background, frame, kColours, marks);
    if (!marks.isEmpty()) {
      on.fillRect(marks, Qt::black);  // what the caller draws over the plot
    }
  };
  auto shown = [&] {
    return window.copy(QRect(kOrigin, QSize(kWidth, kHeight))).convertToFormat(QImage::Format_RGB32);
  };

  paint(QRegion(0, 0, kWidth, kHeight), frames[0], QRect());
  EXPECT_EQ(shown(), Whole(background, frames[0]));
  const QRect marks(40, 30, 12, 12);
  for (size_t i = 1; i < frames.size(); ++i) {
    // Requested: only the tiles of the old and new traces, and the marks.
    const QRegion request = painter.Request(background, *frames[i], i == 1 ? QRegion(marks) : QRegion());
    EXPECT_NE(request, QRegion(0, 0, kWidth, kHeight)) << i;
    if (i == 2) {
      // As Qt does before painting a window with an alpha channel.
      QPainter clear(&window);
      clear.setCompositionMode(QPainter::CompositionMode_Source);
      for (const QRect& rect : request) clear.fillRect(rect.translated(kOrigin), Qt::transparent);
    }
    paint(request, frames[i], i == 1 ? marks : QRect());
    painter.EndRequest();
    if (i != 1) {
      EXPECT_EQ(shown(), Whole(background, frames[i])) << "scan " << i;
    }
  }
  // A small region asked for by someone else is painted afresh.
  window.fill(Qt::blue);
  paint(QRegion(60, 60, 10, 10), frames.back(), QRect());
  EXPECT_EQ(shown().copy(60, 60, 10, 10), Whole(background, frames.back()).copy(60, 60, 10, 10));
  // Nothing outside the plot is touched.
  EXPECT_EQ(window.pixel(kOrigin.x() - 1, kOrigin.y()), QColor(Qt::blue).rgb());
  EXPECT_EQ(window.pixel(kOrigin.x() + kWidth, kOrigin.y() + kHeight - 1), QColor(Qt::blue).rgb());
}

}  // namespace
