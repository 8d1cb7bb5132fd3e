// Fuzzes the text conversions of the windows' boxes (ui/ValueFormat.h).
//  - ParseInt32 on any text: it never fails to return, it accepts exactly
//    the texts a parser written here accepts (blanks, an optional sign,
//    decimal digits, blanks; the value within 32 bits) with the same value,
//    and whatever it accepts, printed back, parses to the same value.
//  - FormatF2 on any double: no "-0.00"; for a finite value of a size any
//    reading could have (below 1e15), two decimals after a full stop, and
//    the text reads back within half a hundredth.
//  - BarValue on any reading and maximum: never below 0 nor above the
//    maximum.

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ValueFormat.h"

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The accepted texts, spelled out.
bool ReferenceParse(const std::string& text, int32_t& value) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) {
    negative = text[begin] == '-';
    ++begin;
  }
  if (begin == end) return false;
  int64_t magnitude = 0;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > 2147483648LL) return false;
  }
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT32_MAX) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}

void CheckParse(const std::string& text) {
  int32_t parsed = 12345;
  const bool ok = ui::ParseInt32(text, parsed);
  int32_t expected = 0;
  const bool expectedOk = ReferenceParse(text, expected);
  Require(ok == expectedOk, "accepts exactly the integer texts");
  if (!ok) {
    Require(parsed == 12345, "a refused text leaves the value alone");
    return;
  }
  Require(parsed == expected, "the value of the text");
  int32_t again = 0;
  Require(ui::ParseInt32(std::to_string(parsed), again) && again == parsed, "printed back, parses the same");
  Require(ui::ParseInt32(" " + std::to_string(parsed) + "\t", again) && again == parsed, "with blanks around");
}

void CheckFormat(double value) {
  const std::string text = ui::FormatF2(value);
  Require(text != "-0.00", "no negative zero");
  if (!(std::fabs(value) < 1e15)) {
    return;
  }
  const size_t point = text.find('.');
  Require(point != std::string::npos && text.size() - point == 3, "two decimals after a full stop");
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    Require((c >= '0' && c <= '9') || i == point || (i == 0 && c == '-'), "digits, a point and a sign only");
  }
  const double back = std::strtod(text.c_str(), nullptr);
  Require(std::fabs(back - value) <= 0.005 + std::fabs(value) * 1e-15, "reads back within half a hundredth");
}

void CheckBar(double reading, int maximum) {
  const int bar = ui::BarValue(reading, maximum);
  Require(bar >= 0, "bar not below 0");
  Require(bar <= (maximum < 0 ? 0 : maximum), "bar not above its maximum");
  if (reading >= 0 && reading < maximum) {
    Require(bar == static_cast<int>(std::trunc(reading)), "bar follows the reading");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) {
    return -1;
  }
  CheckParse(std::string(reinterpret_cast<const char*>(data), size));
  // The first bytes also serve as a double and an int.
  uint8_t raw[12] = {};
  std::memcpy(raw, data, size < sizeof raw ? size : sizeof raw);
  double value;
  int maximum;
  std::memcpy(&value, raw, sizeof value);
  std::memcpy(&maximum, raw + sizeof value, sizeof maximum);
  CheckFormat(value);
  CheckBar(value, maximum);
  // Texts of the sensor's scale: small integers printed as the boxes hold them.
  CheckFormat(static_cast<double>(maximum) / 100.0);
  CheckBar(static_cast<double>(maximum) / 7.0, static_cast<int>(size));
  return 0;
}
