#pragma once
// The read-out under the pointer: which scan point lies nearest the pointer
// on the plot, and how it reads (its angle, distance and width).

#include <string>
#include <vector>

#include "PlotGeometry.h"

namespace ui {

// The index of the point nearest (x, y) among both traces' points (point i
// of either trace stands for scan point i), or -1 when there are none.
int NearestScanPoint(const std::vector<T_PlotPoint>& distancePoints, const std::vector<T_PlotPoint>& widthPoints,
                     int x, int y);

// The angle of scan point `index` in degrees: 0.18 a point.
double ScanPointAngle(int index);

// "Angle 90.00°  Distance 60.00  Width 100.00" (UTF-8).
std::string ReadoutText(int index, double distance, double width);

}  // namespace ui
