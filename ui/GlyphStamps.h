#pragma once
// Paints a run of glyphs over a plain colour by copying pixels, without a
// painter. Each glyph, at each position a 64th of a pixel apart (the
// precision at which Qt places glyphs), is drawn once by Qt over the plain
// colour and its pixels are kept as a stamp; a run is then the stamps
// copied side by side. That is what drawing the run gives, pixel for pixel,
// where no two glyphs' pixels meet and every stamp lies on the plain colour:
// elsewhere Paint declines and the caller draws the run as usual.
//
// Building a painter and drawing a run through it cost the control panel's
// value boxes more than the rest of their painting.

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QRect>
#include <QRegion>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace ui {

class CGlyphStamps {
 public:
  // Forgets every stamp. `plainArea` is where the background is `plain`.
  void Reset(const QRawFont& font, const QColor& ink, QRgb plain, const QRect& plainArea);

  // Copies `background` (RGB32, the size of what is painted) and over it
  // the glyphs `indexes` at `positions`, within `region`, onto `target` at
  // `origin`; false, with nothing painted, where stamps cannot show the run.
  bool Paint(QImage& target, QPoint origin, const QImage& background, const QList<quint32>& indexes,
             const QList<QPointF>& positions, const QRegion& region);

 private:
  struct T_Stamp {
    QImage pixels;  // RGB32; null for a glyph without ink
    QRect ink;      // where they lie from the glyph's whole-pixel position
  };
  struct T_Placed {
    const T_Stamp* stamp;
    QRect at;
  };

  // Positions in 64ths of a pixel, as Qt takes them.
  const T_Stamp& StampFor(quint32 index, int64_t x64, int64_t y64, QImage::Format format);

  QRawFont mFont;
  QColor mInk;
  QRgb mPlain = 0;
  QRect mPlainArea;
  QImage::Format mFormat = QImage::Format_Invalid;  // the stamps were drawn in
  std::unordered_map<uint64_t, T_Stamp> mStamps;
  std::vector<T_Placed> mPlaced;
};

}  // namespace ui
