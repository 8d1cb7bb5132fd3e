#include "ValueFormat.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace ui {

std::string FormatF2(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  if (result.ec != std::errc()) {
    return "0.00";
  }
  std::string formatted(text, result.ptr);
  if (formatted == "-0.00") {
    formatted = "0.00";
  }
  return formatted;
}

bool ParseInt32(const std::string& text, int32_t& value) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  if (begin < end && text[begin] == '+') {
    ++begin;
    if (begin < end && (text[begin] == '-' || text[begin] == '+')) return false;
  }
  if (begin == end) {
    return false;
  }
  int32_t parsed = 0;
  const auto result = std::from_chars(text.data() + begin, text.data() + end, parsed, 10);
  if (result.ec != std::errc() || result.ptr != text.data() + end) {
    return false;
  }
  value = parsed;
  return true;
}

int BarValue(double reading, int maximum) {
  if (!(reading < maximum)) {
    return maximum < 0 ? 0 : maximum;
  }
  const double truncated = std::trunc(reading);
  return truncated < 0 ? 0 : static_cast<int>(truncated);
}

}  // namespace ui
