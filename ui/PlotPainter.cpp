#include "PlotPainter.h"

#include <QPainter>
#include <vector>

#include "StraightCopy.h"

namespace ui {

namespace {

T_PixelBuffer PixelsAt(uchar* bits, qsizetype bytesPerLine, QPoint origin, QSize size) {
  const qsizetype stride = bytesPerLine / static_cast<qsizetype>(sizeof(uint32_t));
  auto* first = reinterpret_cast<uint32_t*>(bits) + origin.y() * stride + origin.x();
  return {first, size.width(), size.height(), static_cast<int>(stride)};
}

void PaintTraces(const T_PixelBuffer& pixels, const T_TraceFrame& frame, T_TraceColours colours) {
  // One pixel wide, green over red.
  PaintPixels(pixels, frame.distPixels, colours.dist);
  PaintPixels(pixels, frame.widthPixels, colours.width);
}

void DrawPicture(QPainter& painter, const QImage& picture, const QRegion& region) {
  if (CopyStraight(painter, picture, region)) {
    return;
  }
  // Each rectangle under a clip of its own: under the paint event's clip of
  // many rectangles the raster engine blends the image span by span.
  for (const QRect& rect : region) {
    painter.setClipRect(rect);
    painter.drawImage(rect.topLeft(), picture, rect);
  }
  painter.setClipping(false);
}

// Whether the backing store cleared `region` before this paint, as Qt does
// for a window with an alpha channel: the plot's pixels are all opaque, so a
// transparent pixel at a corner of a rectangle shows it.
bool Cleared(const QImage& target, QPoint origin, const QRegion& region) {
  if (!target.hasAlphaChannel()) {
    return false;
  }
  for (const QRect& rect : region) {
    const QPoint at = rect.topLeft() + origin;
    if (qAlpha(reinterpret_cast<const QRgb*>(target.constScanLine(at.y()))[at.x()]) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

QRegion CPlotPainter::Request(const std::shared_ptr<const QImage>& background, const T_TraceFrame& frame,
                              const QRegion& extra) {
  const QRect plot = background->rect();
  if (!mScreenFrame || mScreenBackground != background) {
    mRequested = QRegion(plot);
    return mRequested;
  }
  // A frame without traces may have no tiles at all.
  mChanged.Clear(plot.width(), plot.height());
  mChanged.Add(mScreenFrame->tiles);
  mChanged.Add(frame.tiles);
  std::vector<QRect> rects;
  for (const T_PixelRect& tile : mChanged.Rects()) {
    rects.emplace_back(tile.left, tile.top, tile.width, tile.height);
  }
  QRegion tiles;
  tiles.setRects(rects.data(), static_cast<int>(rects.size()));
  mRequested = (tiles + extra) & plot;
  return mRequested;
}

void CPlotPainter::Paint(QPainter& painter, const QRegion& region, const std::shared_ptr<const QImage>& background,
                         const std::shared_ptr<const T_TraceFrame>& frame, T_TraceColours colours,
                         const QRect& marks) {
  QPoint origin;
  QImage* target = StraightTarget(painter, origin);
  if (!PaintStraight(target, origin, region, background, frame, colours, marks)) {
    // The backing store, if that is what this paints on, is no longer known.
    mScreenFrame.reset();
    DrawPicture(painter, Picture(background, frame, colours), region);
  }
}

bool CPlotPainter::PaintStraight(QImage* target, QPoint origin, const QRegion& region,
                                 const std::shared_ptr<const QImage>& background,
                                 const std::shared_ptr<const T_TraceFrame>& frame, T_TraceColours colours,
                                 const QRect& marks) {
  const QRect plot = background->rect();
  if (!target || background->format() != QImage::Format_RGB32 || !target->rect().contains(plot.translated(origin))) {
    return false;
  }
  const T_Screen screen{target->constBits(), target->size(), target->bytesPerLine(), origin};
  const T_PixelBuffer pixels = PixelsAt(target->bits(), screen.bytesPerLine, origin, plot.size());
  const QRegion wanted = region & plot;
  if (mScreenFrame && mScreen == screen && mScreenBackground == background) {
    // The old traces out; then the background where it may not be: where
    // the caller drew, and all of a region asked for by anyone else; then
    // the new traces in. Outside the region the pixels changed are those
    // of the old traces and the new, which are shown with the next request.
    const bool requested =
        !mRequested.isEmpty() && wanted.subtracted(mRequested).isEmpty() && !Cleared(*target, origin, wanted);
    RestorePixels(pixels, mScreenFrame->distPixels, mScreenFrame->distUnder);
    RestorePixels(pixels, mScreenFrame->widthPixels, mScreenFrame->widthUnder);
    CopyStraight(*target, origin, *background, (requested ? QRegion() : wanted) + (QRegion(mScreenMarks) & plot));
    PaintTraces(pixels, *frame, colours);
  } else if (wanted == QRegion(plot)) {
    CopyStraight(*target, origin, *background, wanted);
    PaintTraces(pixels, *frame, colours);
  } else {
    // Part of a plot whose rest is not known: from the picture, and the
    // next request is for the whole plot.
    mScreenFrame.reset();
    CopyStraight(*target, origin, Picture(background, frame, colours), wanted);
    return true;
  }
  mScreen = screen;
  mScreenBackground = background;
  mScreenFrame = frame;
  mScreenMarks = marks;
  return true;
}

const QImage& CPlotPainter::Picture(const std::shared_ptr<const QImage>& background,
                                    const std::shared_ptr<const T_TraceFrame>& frame, T_TraceColours colours) {
  if (mPictureBackground != background || mPictureFrame != frame || mPictureColours.dist != colours.dist ||
      mPictureColours.width != colours.width) {
    mPicture = background->convertToFormat(QImage::Format_RGB32);
    PaintTraces(PixelsAt(mPicture.bits(), mPicture.bytesPerLine(), QPoint(), mPicture.size()), *frame, colours);
    mPictureBackground = background;
    mPictureFrame = frame;
    mPictureColours = colours;
  }
  return mPicture;
}

}  // namespace ui
