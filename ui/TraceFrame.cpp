#include "TraceFrame.h"

#include "DataPath.h"

namespace ui {

void BuildTraceFrame(const T_Scan& scan, const T_TraceInputs& inputs, const double* sinTable,
                     const double* cosTable, const uint32_t* background, T_TraceFrame& frame) {
  frame.inputs = inputs;
  const int count = static_cast<int>(scan.distances.size());
  ComputeTrace(scan.distances.data(), count, inputs.distLimit, inputs.region, sinTable, cosTable,
               frame.distPoints);
  ComputeTrace(scan.widths.data(), count, inputs.widthLimit, inputs.region, sinTable, cosTable,
               frame.widthPoints);
  frame.distPixels.clear();
  frame.widthPixels.clear();
  frame.tiles.Clear(inputs.width, inputs.height);
  TracePixels(inputs.width, inputs.height, frame.distPoints, frame.distPixels, frame.tiles);
  TracePixels(inputs.width, inputs.height, frame.widthPoints, frame.widthPixels, frame.tiles);
  SamplePixels(background, frame.distPixels, frame.distUnder);
  SamplePixels(background, frame.widthPixels, frame.widthUnder);
}

}  // namespace ui
