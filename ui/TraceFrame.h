#pragma once
// One scan as the scan view draws it: both traces' points, the tiles they
// touch and the plot's picture with them over the background, for a given
// plot size, centre, radius, pair of limits and background. Made of
// reentrant parts only, so that the data path's thread can work it out for
// every scan while the GUI thread only copies the picture's changed tiles.

#include <QImage>
#include <QRgb>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "PlotGeometry.h"
#include "TraceRaster.h"

struct T_Scan;

namespace ui {

// What a frame depends on besides the scan.
struct T_TraceInputs {
  int width = 0;  // the plot area's size in pixels
  int height = 0;
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

struct T_TraceColours {
  QRgb dist = 0;
  QRgb width = 0;
};

struct T_TraceFrame {
  T_TraceInputs inputs;
  std::vector<T_PlotPoint> distPoints;
  std::vector<T_PlotPoint> widthPoints;
  CTileMask tiles;
  // The plot: the background with the distance trace and then the width
  // trace over it, one pixel wide, without antialiasing.
  QImage picture;
};

// Works out each scan's frame and paints its picture over again for each
// new frame, in RGB32 pixels of its own: where it holds an earlier frame's
// traces on the same background, only their pixels get the background's
// back before the new traces are drawn, rather than the whole picture being
// copied. The frame handed out shares the picture's pixels; while it is
// still held (by any thread), the next frame's picture is painted on a copy.
class CTraceCanvas {
 public:
  // `scan`'s frame along the angles of the given sine and cosine tables
  // (kAngleSteps entries each), its picture over `background` (the plot's
  // size at any pixel ratio, RGB32), each trace one logical pixel wide in
  // its colour.
  std::shared_ptr<const T_TraceFrame> Build(const T_Scan& scan, const T_TraceInputs& inputs, const double* sinTable,
                                            const double* cosTable, const QImage& background,
                                            T_TraceColours colours);

 private:
  // Paints `frame`'s picture and marks the tiles its pixels lie in.
  QImage Paint(T_TraceFrame& frame, const QImage& background, T_TraceColours colours);
  void DrawTrace(const std::vector<T_PlotPoint>& points, QRgb colour, T_TraceFrame& frame);

  QImage mPicture;
  uint64_t mBackgroundVersion = 0;
  // The pixels the traces cover, by their place in the picture's pixels.
  std::vector<qsizetype> mDrawn;
  // Whether the frame last handed out is still held; cleared once it has
  // gone, picture and all, so that its holder's last look at the pixels
  // comes before this canvas writes them again.
  std::shared_ptr<std::atomic<bool>> mHandedOutHeld;
};

}  // namespace ui
