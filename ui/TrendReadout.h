#pragma once
// The pointer's read-out of the trends window: for the column under the
// pointer, its time and each chart's values in the panel's formats (two
// decimals, or whole numbers for counts), as a single value where the
// column's records agree and as "least..greatest" where they do not.

#include <string>

#include "TrendHistory.h"

namespace ui {

std::string TrendReadout(const trends::T_Column& column);

}  // namespace ui
