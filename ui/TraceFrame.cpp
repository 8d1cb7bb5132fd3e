#include "TraceFrame.h"

#include <algorithm>

#include "DataPath.h"

namespace ui {

QImage CTraceCanvas::Paint(T_TraceFrame& frame, const QImage& background, T_TraceColours colours) {
  if (background.isNull() || background.format() != QImage::Format_RGB32) {
    return background;
  }
  const bool sameBackground = !mPicture.isNull() && mBackgroundVersion == frame.inputs.backgroundVersion &&
                              mPicture.size() == background.size() &&
                              mPicture.bytesPerLine() == background.bytesPerLine();
  if (!sameBackground) {
    mPicture = background.copy();
    mPicture.setDevicePixelRatio(background.devicePixelRatio());
    mBackgroundVersion = frame.inputs.backgroundVersion;
    mDrawn.clear();
  } else if (mHandedOutHeld && mHandedOutHeld->load(std::memory_order_acquire)) {
    const qreal ratio = mPicture.devicePixelRatio();
    mPicture = mPicture.copy();
    mPicture.setDevicePixelRatio(ratio);
  }
  auto* pixels = reinterpret_cast<QRgb*>(mPicture.bits());
  const auto* under = reinterpret_cast<const QRgb*>(background.constBits());
  for (const qsizetype at : mDrawn) {
    pixels[at] = under[at];
  }
  mDrawn.clear();
  // Green over red.
  DrawTrace(frame.distPoints, colours.dist, frame);
  DrawTrace(frame.widthPoints, colours.width, frame);
  return mPicture;
}

// Along the plot's own pixels, each of which is `ratio` of the picture's
// across: a line one pixel wide at any ratio, and its pixels' tiles. Each
// segment after the first leaves out its first pixel, the last one of the
// segment before.
void CTraceCanvas::DrawTrace(const std::vector<T_PlotPoint>& points, QRgb colour, T_TraceFrame& frame) {
  const qreal ratio = mPicture.devicePixelRatio();
  const int width = frame.inputs.width;
  const int height = frame.inputs.height;
  const int pictureWidth = mPicture.width();
  const int pictureHeight = mPicture.height();
  const qsizetype stride = mPicture.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
  auto* pixels = reinterpret_cast<QRgb*>(mPicture.bits());
  const auto inPicture = [ratio](int at, int limit) { return std::min(static_cast<int>(at * ratio), limit); };
  int skipX = -1;
  int skipY = -1;
  const auto plot = [&](int x, int y) {
    if ((x == skipX && y == skipY) || x < 0 || y < 0 || x >= width || y >= height) {
      return;
    }
    frame.tiles.MarkPixel(x, y);
    const int right = inPicture(x + 1, pictureWidth);
    const int bottom = inPicture(y + 1, pictureHeight);
    for (int row = inPicture(y, pictureHeight); row < bottom; ++row) {
      for (int column = inPicture(x, pictureWidth); column < right; ++column) {
        const qsizetype at = row * stride + column;
        pixels[at] = colour;
        mDrawn.push_back(at);
      }
    }
  };
  for (size_t i = 1; i < points.size(); ++i) {
    WalkLine(points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, plot);
    skipX = points[i].x;
    skipY = points[i].y;
  }
}

std::shared_ptr<const T_TraceFrame> CTraceCanvas::Build(const T_Scan& scan, const T_TraceInputs& inputs,
                                                        const double* sinTable, const double* cosTable,
                                                        const QImage& background, T_TraceColours colours) {
  auto frame = std::make_unique<T_TraceFrame>();
  frame->inputs = inputs;
  const int count = static_cast<int>(scan.distances.size());
  ComputeTrace(scan.distances.data(), count, inputs.distLimit, inputs.region, sinTable, cosTable,
               frame->distPoints);
  ComputeTrace(scan.widths.data(), count, inputs.widthLimit, inputs.region, sinTable, cosTable,
               frame->widthPoints);
  frame->tiles.Clear(inputs.width, inputs.height);
  frame->picture = Paint(*frame, background, colours);
  auto held = std::make_shared<std::atomic<bool>>(true);
  mHandedOutHeld = held;
  return std::shared_ptr<const T_TraceFrame>(frame.release(), [held](const T_TraceFrame* gone) {
    delete gone;
    held->store(false, std::memory_order_release);
  });
}

}  // namespace ui
