#include "CsvLine.h"

#include <charconv>

namespace {

// to_chars in fixed notation with precision 6 is, by definition, printf's
// "%f" in the C locale; integers are plain decimal like "%d" and "%u".
template <typename T>
char* Put(char* at, char* end, T value) {
  return std::to_chars(at, end, value).ptr;
}

char* Put(char* at, char* end, double value) {
  return std::to_chars(at, end, value, std::chars_format::fixed, 6).ptr;
}

}  // namespace

size_t FormatCsvLine(const T_CsvFields& f, char (&out)[kCsvLineCapacity]) {
  char* const end = out + kCsvLineCapacity;
  char* at = out;
  at = Put(at, end, f.count);
  *at++ = ',';
  at = Put(at, end, f.deltTime);
  *at++ = ',';
  at = Put(at, end, f.distance);
  *at++ = ',';
  at = Put(at, end, f.width);
  *at++ = ',';
  at = Put(at, end, f.anaTemp);
  *at++ = ',';
  at = Put(at, end, f.scanState);
  *at++ = ',';
  at = Put(at, end, f.laserPower);
  *at++ = ',';
  at = Put(at, end, f.supplyVoltage);
  for (int16_t value : f.imu) {
    *at++ = ',';
    at = Put(at, end, static_cast<int32_t>(value));
  }
  *at++ = '\n';
  return static_cast<size_t>(at - out);
}
