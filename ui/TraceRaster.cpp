#include "TraceRaster.h"

#include <algorithm>

namespace ui {

void CTileMask::Clear(int width, int height) {
  mWidth = std::max(0, width);
  mHeight = std::max(0, height);
  mColumns = (mWidth + kTile - 1) / kTile;
  mRows = (mHeight + kTile - 1) / kTile;
  mMarks.assign(static_cast<size_t>(mColumns) * mRows, 0);
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

}  // namespace ui
