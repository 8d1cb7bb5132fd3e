#pragma once
// The plot's full-scale distance and width: the scan view writes them from
// its boxes, the control panel reads them for its bars. Owned by whoever
// builds the two windows.

#include <atomic>
#include <cstdint>

struct T_PlotLimits {
  std::atomic<int32_t> Distance{0};
  std::atomic<int32_t> Width{0};
};
