#pragma once
// The scan view's traces as pixels: Bresenham's line, and the square tiles
// the pixels lie in, so that a new scan repaints (and sends to the display)
// only the tiles of the old and the new traces rather than the whole plot.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PlotGeometry.h"

namespace ui {

struct T_PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// Square tiles over a plot area, marked where a polyline passes. Each run of
// marked tiles in a row becomes one rectangle to repaint: 32-pixel tiles
// give about half the rectangles of 16-pixel ones, for twice the pixels.
class CTileMask {
 public:
  static constexpr int kTile = 32;

  // Unmarks every tile of an area of `width` × `height` pixels.
  void Clear(int width, int height);
  // Marks the tile that holds pixel (x, y), when it lies inside the area.
  void MarkPixel(int x, int y) {
    if (x >= 0 && y >= 0 && x < mWidth && y < mHeight) {
      mMarks[static_cast<size_t>(y / kTile) * mColumns + x / kTile] = 1;
    }
  }
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

// Calls plot(x, y) for each pixel of the one-pixel line from (x0, y0) to
// (x1, y1), both ends included, by Bresenham's rule, in all octants.
template <typename Plot>
void WalkLine(int x0, int y0, int x1, int y1, Plot plot) {
  const int dx = x1 > x0 ? x1 - x0 : x0 - x1;
  const int dy = y1 > y0 ? y0 - y1 : y1 - y0;  // minus the vertical extent
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  int error = dx + dy;
  while (true) {
    plot(x0, y0);
    if (x0 == x1 && y0 == y1) {
      return;
    }
    const int doubled = 2 * error;
    if (doubled >= dy) {
      error += dy;
      x0 += sx;
    }
    if (doubled <= dx) {
      error += dx;
      y0 += sy;
    }
  }
}

}  // namespace ui
