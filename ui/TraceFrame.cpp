#include "TraceFrame.h"

#include <algorithm>
#include <cmath>

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
  }
  auto* pixels = reinterpret_cast<QRgb*>(mPicture.bits());
  const auto* under = reinterpret_cast<const QRgb*>(background.constBits());
  for (const qsizetype at : mDrawn) {
    pixels[at] = under[at];
  }
  mDrawn.clear();
  // Green over red.
  DrawTrace(frame.distPoints, colours.dist, frame.tiles);
  DrawTrace(frame.widthPoints, colours.width, frame.tiles);
  return mPicture;
}

// In the picture's own pixels: a logical pixel is `ratio` of them across,
// so each of the line's pixels becomes a square as wide as that, rounded
// up. Each segment after the first leaves out its first pixel, the last
// one of the segment before.
void CTraceCanvas::DrawTrace(const std::vector<T_PlotPoint>& points, QRgb colour, CTileMask& tiles) {
  const qreal ratio = mPicture.devicePixelRatio();
  const int side = std::max(1, static_cast<int>(std::ceil(ratio)));
  const int width = mPicture.width();
  const int height = mPicture.height();
  const qsizetype stride = mPicture.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
  auto* pixels = reinterpret_cast<QRgb*>(mPicture.bits());
  const auto inPixels = [ratio](int logical) { return static_cast<int>(std::floor(logical * ratio)); };
  int skipX = -1;
  int skipY = -1;
  bool skip = false;
  const auto plot = [&](int x, int y) {
    if (skip && x == skipX && y == skipY) {
      return;
    }
    for (int row = std::max(y, 0); row < std::min(y + side, height); ++row) {
      for (int column = std::max(x, 0); column < std::min(x + side, width); ++column) {
        const qsizetype at = row * stride + column;
        pixels[at] = colour;
        mDrawn.push_back(at);
        tiles.MarkPixel(static_cast<int>(column / ratio), static_cast<int>(row / ratio));
      }
    }
  };
  for (size_t i = 1; i < points.size(); ++i) {
    const int x1 = inPixels(points[i].x);
    const int y1 = inPixels(points[i].y);
    WalkLine(inPixels(points[i - 1].x), inPixels(points[i - 1].y), x1, y1, plot);
    skip = true;
    skipX = x1;
    skipY = y1;
  }
}

void BuildTraceFrame(const T_Scan& scan, const T_TraceInputs& inputs, const double* sinTable,
                     const double* cosTable, const QImage& background, T_TraceColours colours,
                     CTraceCanvas& canvas, T_TraceFrame& frame) {
  frame.inputs = inputs;
  const int count = static_cast<int>(scan.distances.size());
  ComputeTrace(scan.distances.data(), count, inputs.distLimit, inputs.region, sinTable, cosTable,
               frame.distPoints);
  ComputeTrace(scan.widths.data(), count, inputs.widthLimit, inputs.region, sinTable, cosTable,
               frame.widthPoints);
  frame.tiles.Clear(inputs.width, inputs.height);
  frame.picture = canvas.Paint(frame, background, colours);
}

}  // namespace ui
