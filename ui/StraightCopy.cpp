#include "StraightCopy.h"

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPoint>
#include <QRegion>
#include <QTransform>
#include <cstring>

namespace ui {

namespace {

// Formats whose opaque pixels have the bits of the same RGB32 pixel.
bool HoldsRgb32Pixels(QImage::Format format) {
  return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
         format == QImage::Format_ARGB32_Premultiplied;
}

// `device` when it is an image that can be written straight in logical
// pixels. Writing into an image that shares its pixels would first copy
// them, away from where the engine paints.
QImage* WritableImage(QPaintDevice* device) {
  if (!device || device->devType() != QInternal::Image) {
    return nullptr;
  }
  auto* image = static_cast<QImage*>(device);
  if (!HoldsRgb32Pixels(image->format()) || image->devicePixelRatio() != 1.0 || !image->isDetached()) {
    return nullptr;
  }
  return image;
}

}  // namespace

QImage* StraightTarget(QPainter& painter, QPoint& origin) {
  QPaintEngine* engine = painter.paintEngine();
  QImage* target = WritableImage(engine ? engine->paintDevice() : nullptr);
  const QTransform transform = painter.deviceTransform();
  if (!target || transform.type() > QTransform::TxTranslate) {
    return nullptr;
  }
  origin = QPoint(static_cast<int>(transform.dx()), static_cast<int>(transform.dy()));
  if (origin.x() != transform.dx() || origin.y() != transform.dy()) {
    return nullptr;
  }
  return target;
}

QImage* StraightTarget(QPaintDevice* device, QPoint offset, QPoint& origin) {
  QImage* target = WritableImage(device);
  if (target) {
    origin = -offset;  // a painter would translate by the same
  }
  return target;
}

bool CopyStraight(QPainter& painter, const QImage& picture, const QRegion& region) {
  QPoint origin;
  QImage* target = StraightTarget(painter, origin);
  return target && CopyStraight(*target, origin, picture, region);
}

bool CopyStraight(QImage& target, QPoint origin, const QImage& picture, const QRegion& region) {
  if (picture.format() != QImage::Format_RGB32 || !HoldsRgb32Pixels(target.format())) {
    return false;
  }
  const int dx = origin.x();
  const int dy = origin.y();
  for (const QRect& rect : region) {
    if (!picture.rect().contains(rect) || !target.rect().contains(rect.translated(dx, dy))) {
      return false;
    }
  }
  constexpr qsizetype kBytes = 4;
  uchar* const to = target.bits();
  const uchar* const from = picture.constBits();
  const qsizetype toStride = target.bytesPerLine();
  const qsizetype fromStride = picture.bytesPerLine();
  for (const QRect& rect : region) {
    const size_t length = static_cast<size_t>(rect.width()) * kBytes;
    uchar* line = to + (rect.top() + dy) * toStride + (rect.left() + dx) * kBytes;
    const uchar* source = from + rect.top() * fromStride + rect.left() * kBytes;
    for (int y = 0; y < rect.height(); ++y, line += toStride, source += fromStride) {
      std::memcpy(line, source, length);
    }
  }
  return true;
}

}  // namespace ui
