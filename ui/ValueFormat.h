#pragma once
// Text and bar values of the windows, kept apart from the widgets so that
// they can be checked without a display.

#include <cstdint>
#include <string>

namespace ui {

// Fixed-point with exactly two decimals and a full stop, whatever the
// operator's locale ("150.46", "-0.50").
std::string FormatF2(double value);

// A text box's text as a decimal 32-bit signed integer: optional sign, blanks
// allowed before and after, nothing else. False for anything else, including
// an empty text and a value out of range.
bool ParseInt32(const std::string& text, int32_t& value);

// A progress bar's value for a reading: the reading truncated toward zero
// while it is below the bar's maximum, the maximum otherwise; never below 0.
int BarValue(double reading, int maximum);

}  // namespace ui
