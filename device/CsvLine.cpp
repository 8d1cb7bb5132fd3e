#include "CsvLine.h"

#include <bit>
#include <charconv>

namespace {

__extension__ typedef unsigned __int128 T_Wide;

constexpr uint64_t kMicro = 1'000'000;

// to_chars in fixed notation with precision 6 is, by definition, printf's
// "%f" in the C locale; integers are plain decimal like "%d" and "%u".
template <typename T>
char* Put(char* at, char* end, T value) {
  return std::to_chars(at, end, value).ptr;
}

// "%f" in integer arithmetic for the values a recording holds (finite, below
// 10^12): the double's exact value times 10^6, rounded half to even as printf
// rounds it. nullptr for any other value.
char* PutMicros(char* at, char* end, double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  if (biased == 0x7FF) {
    return nullptr;
  }
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  if (biased != 0) {
    mantissa |= uint64_t{1} << 52;
  }
  // value = mantissa x 2^exponent
  const int exponent = (biased != 0 ? biased : 1) - 1075;
  if (exponent > 0) {
    return nullptr;
  }
  const int shift = -exponent;
  const T_Wide scaled = T_Wide{mantissa} * kMicro;  // below 2^73
  T_Wide micros = 0;
  if (shift == 0) {
    micros = scaled;
  } else if (shift < 75) {
    micros = scaled >> shift;
    const T_Wide rest = scaled & ((T_Wide{1} << shift) - 1);
    const T_Wide half = T_Wide{1} << (shift - 1);
    if (rest > half || (rest == half && (micros & 1) != 0)) {
      ++micros;
    }
  }  // else below half a millionth: 0
  if (micros >= T_Wide{kMicro} * kMicro * kMicro) {  // 10^12 or more
    return nullptr;
  }
  const auto narrow = static_cast<uint64_t>(micros);  // below 10^18
  const uint64_t whole = narrow / kMicro;
  uint64_t fraction = narrow % kMicro;
  if (bits >> 63 != 0) {
    *at++ = '-';
  }
  at = std::to_chars(at, end, whole).ptr;
  *at++ = '.';
  for (int digit = 5; digit >= 0; --digit) {
    at[digit] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return at + 6;
}

char* Put(char* at, char* end, double value) {
  if (char* const done = PutMicros(at, end, value)) {
    return done;
  }
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
