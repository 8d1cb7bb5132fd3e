#pragma once
// Copies rectangles of a picture straight into the image a painter paints
// on, line by line, bypassing the paint engine. A widget's painter paints
// on its window's backing store, and under a paint event's clip of many
// rectangles the raster engine blends an image span by span, or, clipped
// to each rectangle in turn, spends longer setting the clip than copying.
//
// Only where a copy is exactly what drawImage would give: an unscaled,
// untransformed painter on a 32-bit image that holds opaque pixels the
// same way as the picture, which is RGB32, and every rectangle inside both.
// Otherwise nothing is copied and the caller draws as usual.

class QImage;
class QPaintDevice;
class QPainter;
class QPoint;
class QRegion;

namespace ui {

// `picture`'s pixels in `region` (the painter's logical coordinates, which
// are the picture's) go to the same places in the painter's image. False,
// with nothing copied, where that cannot be done straight.
bool CopyStraight(QPainter& painter, const QImage& picture, const QRegion& region);
// The same onto `target`, with the picture's origin at `origin` in it.
bool CopyStraight(QImage& target, QPoint origin, const QImage& picture, const QRegion& region);

// The image the painter paints on, when it can be written and read straight
// as above, and where the painter's logical origin lies in it; nullptr
// otherwise.
QImage* StraightTarget(QPainter& painter, QPoint& origin);

// The same for a widget in its paint event without building a painter,
// which on a backing store under a clip of many rectangles costs more than
// a scan's pixels: `device` and `offset` are what the widget's redirected()
// gives, the device its paint event paints on and the offset to it.
QImage* StraightTarget(QPaintDevice* device, QPoint offset, QPoint& origin);

}  // namespace ui
