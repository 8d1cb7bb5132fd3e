#include "GlyphStamps.h"

#include <QGlyphRun>
#include <QPainter>
#include <cmath>

#include "StraightCopy.h"

namespace ui {

namespace {

// Room around a glyph's outline for its antialiased edge and more.
constexpr int kStampMargin = 4;

}  // namespace

void CGlyphStamps::Reset(const QRawFont& font, const QColor& ink, QRgb plain, const QRect& plainArea) {
  mFont = font;
  mInk = ink;
  mPlain = plain;
  mPlainArea = plainArea;
  mStamps.clear();
}

bool CGlyphStamps::Paint(QImage& target, QPoint origin, const QImage& background, const QList<quint32>& indexes,
                         const QList<QPointF>& positions, const QRegion& region) {
  if (!mFont.isValid() || mPlainArea.isEmpty() || indexes.size() != positions.size()) {
    return false;
  }
  if (target.format() != mFormat) {
    mStamps.clear();
    mFormat = target.format();
  }
  mPlaced.clear();
  for (qsizetype i = 0; i < indexes.size(); ++i) {
    // Qt takes a glyph's position in whole 64ths, cutting off the rest.
    const auto x64 = static_cast<int64_t>(std::floor(positions[i].x() * 64));
    const auto y64 = static_cast<int64_t>(std::floor(positions[i].y() * 64));
    const T_Stamp& stamp = StampFor(indexes[i], x64, y64, target.format());
    if (stamp.ink.isNull()) {
      continue;  // nothing to see, like a space
    }
    if (stamp.pixels.isNull()) {
      return false;  // a glyph its stamp could not hold
    }
    const QRect at = stamp.ink.translated(static_cast<int>(x64 >> 6), static_cast<int>(y64 >> 6));
    if (!mPlainArea.contains(at)) {
      return false;
    }
    for (const T_Placed& placed : mPlaced) {
      if (placed.at.intersects(at)) {
        return false;  // drawn over each other, the order would tell
      }
    }
    mPlaced.push_back({&stamp, at});
  }
  if (!CopyStraight(target, origin, background, region)) {
    return false;
  }
  for (const T_Placed& placed : mPlaced) {
    const QRegion part = region.contains(placed.at) ? QRegion(placed.stamp->pixels.rect())
                                                    : (region & placed.at).translated(-placed.at.topLeft());
    CopyStraight(target, origin + placed.at.topLeft(), placed.stamp->pixels, part);
  }
  return true;
}

const CGlyphStamps::T_Stamp& CGlyphStamps::StampFor(quint32 index, int64_t x64, int64_t y64,
                                                    QImage::Format format) {
  const uint64_t key = (static_cast<uint64_t>(index) << 12) | (static_cast<uint64_t>(x64 & 63) << 6) |
                       static_cast<uint64_t>(y64 & 63);
  const auto found = mStamps.find(key);
  if (found != mStamps.end()) {
    return found->second;
  }
  T_Stamp& stamp = mStamps[key];
  // The glyph drawn by Qt over the plain colour, at the same fractions of a
  // pixel, on an image of the target's format.
  const QRectF outline = mFont.boundingRect(index);
  const QPoint zero(kStampMargin + static_cast<int>(std::ceil(-outline.left())),
                    kStampMargin + static_cast<int>(std::ceil(-outline.top())));
  QImage scratch(static_cast<int>(std::ceil(outline.width())) + 2 * kStampMargin + 2,
                 static_cast<int>(std::ceil(outline.height())) + 2 * kStampMargin + 2, format);
  scratch.fill(QColor::fromRgb(mPlain));
  const QRgb plain = scratch.pixel(0, 0);
  {
    QPainter painter(&scratch);
    painter.setPen(mInk);
    QGlyphRun run;
    run.setRawFont(mFont);
    run.setGlyphIndexes({index});
    run.setPositions(
        {QPointF(zero.x() + static_cast<double>(x64 & 63) / 64, zero.y() + static_cast<double>(y64 & 63) / 64)});
    painter.drawGlyphRun(QPointF(0, 0), run);
  }
  QRect ink;
  for (int y = 0; y < scratch.height(); ++y) {
    for (int x = 0; x < scratch.width(); ++x) {
      if (scratch.pixel(x, y) != plain) {
        ink |= QRect(x, y, 1, 1);
      }
    }
  }
  if (ink.isNull()) {
    return stamp;
  }
  stamp.ink = ink.translated(-zero);
  // Ink on the edge may go on beyond it: such a glyph is not stamped.
  if (scratch.rect().adjusted(1, 1, -1, -1).contains(ink)) {
    stamp.pixels = scratch.copy(ink).convertToFormat(QImage::Format_RGB32);
  }
  return stamp;
}

}  // namespace ui
