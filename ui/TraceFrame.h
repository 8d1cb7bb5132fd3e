#pragma once
// One scan as the scan view draws it: both traces' points, the pixels each
// trace covers and the tiles they touch, for a given plot size, centre,
// radius and pair of limits. Plain C++, so that the data path's thread can
// work it out for every scan while the GUI thread only stores the pixels.

#include <cstdint>
#include <vector>

#include "PlotGeometry.h"
#include "TraceRaster.h"

struct T_Scan;

namespace ui {

// What a frame depends on besides the scan.
struct T_TraceInputs {
  int width = 0;  // the plot area's size in pixels; pixel indices run
  int height = 0;  // row by row, `width` to a row
  T_PlotRegion region;
  int32_t distLimit = 0;
  int32_t widthLimit = 0;
  uint64_t backgroundVersion = 0;  // which background the traces lie on

  bool operator==(const T_TraceInputs& other) const {
    return width == other.width && height == other.height && region.xCenter == other.region.xCenter &&
           region.yCenter == other.region.yCenter && region.scale == other.region.scale &&
           distLimit == other.distLimit && widthLimit == other.widthLimit &&
           backgroundVersion == other.backgroundVersion;
  }
};

struct T_TraceFrame {
  T_TraceInputs inputs;
  std::vector<T_PlotPoint> distPoints;
  std::vector<T_PlotPoint> widthPoints;
  T_DrawnPixels distPixels;
  T_DrawnPixels widthPixels;
  // The background's colours under each trace's pixels, which taking the
  // trace out again puts back.
  std::vector<uint32_t> distUnder;
  std::vector<uint32_t> widthUnder;
  CTileMask tiles;
};

// Works out `scan`'s frame along the angles of the given sine and cosine
// tables (kAngleSteps entries each), over `background`: the pixels of the
// inputs' size and version, `width` to a row.
void BuildTraceFrame(const T_Scan& scan, const T_TraceInputs& inputs, const double* sinTable,
                     const double* cosTable, const uint32_t* background, T_TraceFrame& frame);

}  // namespace ui
