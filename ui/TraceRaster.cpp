#include "TraceRaster.h"

#include <algorithm>
#include <cstdlib>

namespace ui {

namespace {

// Bresenham's line, all octants, both ends included; `plot` gets each
// pixel's place and index in an area of the given size, pixels outside it
// are left out.
template <typename Plot>
void WalkLine(int width, int height, int x0, int y0, int x1, int y1, Plot plot) {
  const int dx = std::abs(x1 - x0);
  const int dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  int error = dx + dy;
  while (true) {
    if (x0 >= 0 && y0 >= 0 && x0 < width && y0 < height) {
      plot(x0, y0, static_cast<uint32_t>(y0) * static_cast<uint32_t>(width) + static_cast<uint32_t>(x0));
    }
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

}  // namespace

// Each segment after the first leaves out its first pixel, the last one of
// the segment before.
void TracePixels(int width, int height, const std::vector<T_PlotPoint>& points, T_DrawnPixels& drawn,
                 CTileMask& tiles) {
  constexpr uint32_t kNone = UINT32_MAX;
  uint32_t skip = kNone;
  auto plot = [&](int x, int y, uint32_t at) {
    if (at != skip) {
      drawn.push_back(at);
      tiles.MarkPixel(x, y);
    }
  };
  drawn.reserve(drawn.size() + 3 * points.size());
  for (size_t i = 1; i < points.size(); ++i) {
    WalkLine(width, height, points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, plot);
    const T_PlotPoint& end = points[i];
    const bool inside = end.x >= 0 && end.y >= 0 && end.x < width && end.y < height;
    skip = inside ? static_cast<uint32_t>(end.y) * static_cast<uint32_t>(width) + static_cast<uint32_t>(end.x) : kNone;
  }
}

namespace {

// Stores a colour at each pixel named by its index in an area `width`
// pixels wide, in a buffer whose rows may be longer (a window's backing
// store): the row and column come from a multiplication by the reciprocal
// of the width rather than a division, which would cost more than the store.
template <typename Colour>
void StorePixels(const T_PixelBuffer& buffer, const T_DrawnPixels& drawn, Colour colour) {
  if (buffer.width <= 0 || buffer.height <= 0 || buffer.stride < buffer.width) {
    return;
  }
  const uint64_t width = static_cast<uint64_t>(buffer.width);
  const uint64_t end = width * static_cast<uint64_t>(buffer.height);
  if (buffer.stride == buffer.width) {
    for (size_t i = 0; i < drawn.size(); ++i) {
      if (drawn[i] < end) {
        buffer.pixels[drawn[i]] = colour(i);
      }
    }
    return;
  }
  // (at * reciprocal) >> 40 is at / width, rounded down, for every index of
  // the area when end * width < 2^40: the error of the reciprocal, at most
  // width / 2^40, then stays below 1 / width.
  constexpr int kShift = 40;
  const bool exact = end * width < (uint64_t{1} << kShift);
  const uint64_t reciprocal = (uint64_t{1} << kShift) / width + 1;
  const size_t stride = static_cast<size_t>(buffer.stride);
  for (size_t i = 0; i < drawn.size(); ++i) {
    const uint64_t at = drawn[i];
    if (at < end) {
      const uint64_t row = exact ? (at * reciprocal) >> kShift : at / width;
      buffer.pixels[row * stride + (at - row * width)] = colour(i);
    }
  }
}

}  // namespace

void PaintPixels(const T_PixelBuffer& buffer, const T_DrawnPixels& drawn, uint32_t colour) {
  StorePixels(buffer, drawn, [colour](size_t) { return colour; });
}

void CTileMask::Clear(int width, int height) {
  mWidth = std::max(0, width);
  mHeight = std::max(0, height);
  mColumns = (mWidth + kTile - 1) / kTile;
  mRows = (mHeight + kTile - 1) / kTile;
  mMarks.assign(static_cast<size_t>(mColumns) * mRows, 0);
}

void CTileMask::Add(const CTileMask& other) {
  if (other.mMarks.size() != mMarks.size()) {
    return;
  }
  for (size_t i = 0; i < mMarks.size(); ++i) {
    mMarks[i] |= other.mMarks[i];
  }
}

std::vector<T_PixelRect> CTileMask::Rects() const {
  std::vector<T_PixelRect> rects;
  for (int row = 0; row < mRows; ++row) {
    const int top = row * kTile;
    const int height = std::min(kTile, mHeight - top);
    int column = 0;
    while (column < mColumns) {
      if (!mMarks[static_cast<size_t>(row) * mColumns + column]) {
        ++column;
        continue;
      }
      const int first = column;
      while (column < mColumns && mMarks[static_cast<size_t>(row) * mColumns + column]) {
        ++column;
      }
      const int left = first * kTile;
      rects.push_back({left, top, std::min(column * kTile, mWidth) - left, height});
    }
  }
  return rects;
}

void SamplePixels(const uint32_t* image, const T_DrawnPixels& drawn, std::vector<uint32_t>& colours) {
  colours.resize(drawn.size());
  for (size_t i = 0; i < drawn.size(); ++i) {
    colours[i] = image[drawn[i]];
  }
}

// Only the pixels the traces were drawn on, with the colours kept for them:
// a few thousand stores and no look-up in the background, whose pixels are
// scattered over the whole image.
void RestorePixels(const T_PixelBuffer& buffer, const T_DrawnPixels& drawn, const std::vector<uint32_t>& colours) {
  if (colours.size() != drawn.size()) {
    return;
  }
  StorePixels(buffer, drawn, [&colours](size_t i) { return colours[i]; });
}

}  // namespace ui
