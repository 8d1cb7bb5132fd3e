#pragma once
// The scan view's traces as lists of pixels in a 32-bit pixel buffer: the
// pixels each trace covers, the background's colours under them (which
// take the trace out again) and the tiles they touch, so that a new scan
// repaints (and sends to the display) only the parts of the plot around
// the old and the new traces.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PlotGeometry.h"

namespace ui {

struct T_PixelBuffer {
  uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // pixels from one row to the next, at least the width
};

struct T_PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// The pixels drawn on, by their index in the buffer.
using T_DrawnPixels = std::vector<uint32_t>;

class CTileMask;

// The pixels that join each point to the next with a one-pixel line (both
// ends included), by their index in an area of `width` × `height` pixels,
// `width` to a row, added to `drawn`, and the tiles they lie in marked in
// `tiles` (cleared for an area of that size); pixels outside the area are
// left out.
void TracePixels(int width, int height, const std::vector<T_PlotPoint>& points, T_DrawnPixels& drawn,
                 CTileMask& tiles);

// Sets the pixels `drawn` names to `colour`; the buffer's width and height
// are those of the area the pixels were traced for, its stride any not
// below the width.
void PaintPixels(const T_PixelBuffer& buffer, const T_DrawnPixels& drawn, uint32_t colour);

// Square tiles over a plot area, marked where a polyline passes. Each run of
// marked tiles in a row becomes one rectangle to repaint, which the X
// server is sent as one image each: 32-pixel tiles give about half the
// rectangles of 16-pixel ones, for twice the pixels, which are cheap to copy.
class CTileMask {
 public:
  static constexpr int kTile = 32;

  // Unmarks every tile of an area of `width` × `height` pixels.
  void Clear(int width, int height);
  // Marks the tile that holds pixel (x, y), which lies inside the area.
  void MarkPixel(int x, int y) { mMarks[static_cast<size_t>(y / kTile) * mColumns + x / kTile] = 1; }
  // Marks every tile `other` marks (an area of the same size).
  void Add(const CTileMask& other);
  // The marked tiles as rectangles clipped to the area: row by row from the
  // top, left to right, neighbours in a row joined into one.
  std::vector<T_PixelRect> Rects() const;

 private:
  int mWidth = 0;
  int mHeight = 0;
  int mColumns = 0;
  int mRows = 0;
  std::vector<uint8_t> mMarks;
};

// The colours of an image of the traced area's size at the pixels `drawn`
// names, in the same order.
void SamplePixels(const uint32_t* image, const T_DrawnPixels& drawn, std::vector<uint32_t>& colours);

// Puts back at each pixel `drawn` names the colour `colours` holds for it
// (as SamplePixels took them from the background before the trace was
// painted); the buffer as for PaintPixels.
void RestorePixels(const T_PixelBuffer& buffer, const T_DrawnPixels& drawn, const std::vector<uint32_t>& colours);

}  // namespace ui
