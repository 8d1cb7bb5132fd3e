#pragma once
// Paints the scan view's plot: the background with the two traces over it.
//
// A window's widgets paint into its backing store, which keeps what they
// painted until they paint there again. So when the painter writes straight
// into the backing store and the plot painted there last is still the one
// this painter left, a new scan is painted in place: the old traces' pixels
// get their background colours back and the new traces' pixels are set, a
// few thousand stores. Anything else (a region Qt asks for on its own, a new
// size or background, a painter on another device such as a grab's) is
// painted afresh from the background.

#include <QImage>
#include <QRect>
#include <QRegion>
#include <cstdint>
#include <memory>

#include "TraceFrame.h"

class QPainter;

namespace ui {

struct T_TraceColours {
  uint32_t dist = 0;
  uint32_t width = 0;
};

class CPlotPainter {
 public:
  // What a new frame changes on the screen: the tiles of the traces painted
  // there and of `frame`'s, with `extra`, clipped to the plot; the whole
  // plot when what is there is not known. A paint of no more than this
  // region, until EndRequest(), paints the frame in place.
  QRegion Request(const std::shared_ptr<const QImage>& background, const T_TraceFrame& frame, const QRegion& extra);
  void EndRequest() { mRequested = QRegion(); }

  // Paints `region` of the plot (the background's size) with `frame` over
  // `background`. `marks` is where the caller draws over the plot after
  // this paint: those pixels are painted afresh the next time.
  void Paint(QPainter& painter, const QRegion& region, const std::shared_ptr<const QImage>& background,
             const std::shared_ptr<const T_TraceFrame>& frame, T_TraceColours colours, const QRect& marks);
  // The same straight onto `target`, the image a widget paints on, with the
  // plot's origin at `origin` in it; false, with nothing painted, where that
  // needs a painter (no target, or a target the plot does not fit in).
  bool PaintStraight(QImage* target, QPoint origin, const QRegion& region,
                     const std::shared_ptr<const QImage>& background,
                     const std::shared_ptr<const T_TraceFrame>& frame, T_TraceColours colours, const QRect& marks);

 private:
  // The image painted in place, as it was then.
  struct T_Screen {
    const uchar* bits = nullptr;
    QSize size;
    qsizetype bytesPerLine = 0;
    QPoint origin;
    bool operator==(const T_Screen& other) const {
      return bits == other.bits && size == other.size && bytesPerLine == other.bytesPerLine && origin == other.origin;
    }
  };

  // The plot as a picture, for a painter that does not write straight.
  const QImage& Picture(const std::shared_ptr<const QImage>& background,
                        const std::shared_ptr<const T_TraceFrame>& frame, T_TraceColours colours);

  // What the screen holds, known while there is a frame: the background and
  // the frame painted over it, and where the caller's marks lie over them.
  T_Screen mScreen;
  std::shared_ptr<const QImage> mScreenBackground;
  std::shared_ptr<const T_TraceFrame> mScreenFrame;
  QRect mScreenMarks;
  QRegion mRequested;
  CTileMask mChanged;  // kept for its storage

  QImage mPicture;
  std::shared_ptr<const QImage> mPictureBackground;
  std::shared_ptr<const T_TraceFrame> mPictureFrame;
  T_TraceColours mPictureColours;
};

}  // namespace ui
