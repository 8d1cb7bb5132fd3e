#include "TrendChartList.h"

namespace ui {

namespace {

constexpr QRgb kRed = 0xFFD01010;
constexpr QRgb kGreen = 0xFF109010;
constexpr QRgb kBlue = 0xFF1040D0;
constexpr QRgb kDark = 0xFF202020;

std::vector<T_TrendChart> MakeCharts() {
  using namespace trends;
  auto axes = [](const char* title, int x) {
    return T_TrendChart{title,
                            "counts",
                            {{x, kRed, true, "X"}, {x + 1, kGreen, true, "Y"}, {x + 2, kBlue, true, "Z"}},
                            false,
                            false,
                            true};
  };
  return {
      {"Distance", "distance units",
       {{eDistance, kRed, true, "current"}, {eFiltered, kBlue, false, "filtered"}}, true, false, false},
      {"Width", "counts", {{eWidth, kGreen, true, ""}}, false, false, true},
      {"Laser temperature", "\u00B0C", {{eLaserTemp, kRed, true, ""}}, false, false, false},
      {"IMU temperature", "\u00B0C", {{eImuTemp, kBlue, true, ""}}, false, false, false},
      {"Supply voltage", "V", {{eSupply, kDark, true, ""}}, false, false, false},
      axes("Accelerometer", eAccelX),
      axes("Gyroscope", eGyroX),
      axes("Magnetometer", eMagX),
      {"Records", "per second", {}, false, true, true},
  };
}

}  // namespace

const std::vector<T_TrendChart>& TrendCharts() {
  static const std::vector<T_TrendChart> charts = MakeCharts();
  return charts;
}

}  // namespace ui
