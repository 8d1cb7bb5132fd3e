// A scan's picture painted over the one before it, scan after scan, is the
// picture painted afresh, and the tiles of each frame hold every pixel in
// which its picture differs from the background, at any pixel ratio.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <memory>

#include "DataPath.h"
#include "TraceFrame.h"

namespace {

constexpr int kWidth = 200;
constexpr int kHeight = 150;
constexpr ui::T_TraceColours kColours{0xFFFF0000u, 0xFF008000u};

QImage Background(qreal ratio) {
  QImage image(QSize(kWidth, kHeight) * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setPen(QColor(0xD3, 0xD3, 0xD3));
  painter.drawEllipse(QPoint(kWidth / 2, kHeight / 2), 50, 50);
  return image;
}

T_Scan Scan(double distance, double width, int points) {
  T_Scan scan;
  for (int i = 0; i < points; ++i) {
    // Far out on some rays, so that a trace leaves the plot and comes back.
    scan.distances.push_back(i % 97 == 0 ? 4 * distance : distance + i % 7);
    scan.widths.push_back(width);
  }
  return scan;
}

std::shared_ptr<const ui::T_TraceFrame> Frame(const T_Scan& scan, const QImage& background,
                                              ui::CTraceCanvas& canvas) {
  const ui::T_TraceInputs inputs{kWidth, kHeight, ui::ComputePlotRegion(kWidth, kHeight), 120, 400, 1};
  return canvas.Build(scan, inputs, ui::SinTable().data(), ui::CosTable().data(), background, kColours);
}

// Every pixel of the picture that is not the background's lies in a tile.
void ExpectChangesInsideTheTiles(const ui::T_TraceFrame& frame, const QImage& background) {
  const qreal ratio = background.devicePixelRatio();
  QImage outside = frame.picture;
  QPainter painter(&outside);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  for (const ui::T_PixelRect& tile : frame.tiles.Rects()) {
    painter.drawImage(QRectF(tile.left, tile.top, tile.width, tile.height), background,
                      QRectF(tile.left * ratio, tile.top * ratio, tile.width * ratio, tile.height * ratio));
  }
  painter.end();
  EXPECT_EQ(outside, background) << "at ratio " << ratio;
}

TEST(TraceCanvas, PaintedOverScanAfterScanIsThePicturePaintedAfreshAtEveryPixelRatio) {
  for (const qreal ratio : {1.0, 1.5, 2.0}) {
    SCOPED_TRACE(ratio);
    const QImage background = Background(ratio);
    ui::CTraceCanvas reused;
    const T_Scan scans[] = {Scan(60, 100, 1998), Scan(90, 300, 1500), Scan(30, 50, 3), Scan(60, 100, 0)};
    std::shared_ptr<const ui::T_TraceFrame> previous;
    for (const T_Scan& scan : scans) {
      // Every other frame is let go before the next is painted, as the
      // scan view does; the others are still held.
      const bool holdPrevious = scan.distances.size() % 2 == 0;
      if (!holdPrevious) previous.reset();
      const std::shared_ptr<const ui::T_TraceFrame> frame = Frame(scan, background, reused);
      ui::CTraceCanvas fresh;
      EXPECT_EQ(frame->picture, Frame(scan, background, fresh)->picture) << scan.distances.size() << " points";
      EXPECT_EQ(frame->picture.devicePixelRatio(), ratio);
      ExpectChangesInsideTheTiles(*frame, background);
      if (previous) {
        EXPECT_NE(previous->picture, frame->picture) << "a picture still held keeps its pixels";
      }
      previous = frame;
    }
  }
}

TEST(TraceCanvas, ATraceIsOneLogicalPixelWideInItsColourWithTheWidthOverTheDistance) {
  for (const qreal ratio : {1.0, 2.0}) {
    SCOPED_TRACE(ratio);
    const QImage background = Background(ratio);
    ui::CTraceCanvas canvas;
    // Both traces on the same circle: the width trace is drawn last.
    T_Scan scan;
    scan.distances.assign(1998, 60.0);
    scan.widths.assign(1998, 200.0);
    const auto same = Frame(scan, background, canvas);
    const ui::T_PlotPoint p = same->distPoints[250];
    EXPECT_EQ(same->picture.pixel(QPoint(p.x, p.y) * ratio), kColours.width);
    scan.widths.assign(1998, 100.0);
    const auto apart = Frame(scan, background, canvas);
    const ui::T_PlotPoint d = apart->distPoints[0];  // straight below the centre
    for (int dx = 0; dx < ratio; ++dx) {
      for (int dy = 0; dy < ratio; ++dy) {
        EXPECT_EQ(apart->picture.pixel(d.x * ratio + dx, d.y * ratio + dy), kColours.dist);
      }
    }
    EXPECT_EQ(apart->picture.pixel(d.x * ratio, (d.y + 1) * ratio + 1), background.pixel(0, 0)) << "one pixel wide";
  }
}

}  // namespace
