#pragma once
// One line of a recording, written from a raw record into a caller's buffer
// exactly as printf writes its readings with "%d,%u,%f,%d,%f,%u,%d,%f" and
// ten ",%d" followed by "\n" in the C locale (the scaled columns with six
// decimals), without printf's cost: the record loop writes one per sample.

#include <bit>
#include <cstddef>
#include <cstdint>

#include "RawRecord.h"

namespace recording {

// Longer than any line: 18 columns of at most 11 characters, their commas
// and the line end.
constexpr size_t kCsvLineCapacity = 256;

// Writes the line (with its "\n") into `out` and returns its length.
size_t FormatCsvLine(const kiv::T_RawRecord& record, char (&out)[kCsvLineCapacity]);

namespace detail {

__extension__ typedef unsigned __int128 T_Wide;

// The size of `value` in millionths, as "%f" rounds it: the double's exact
// value times 10^6, rounded half to even. False for a value that is not
// finite or not below 10^12.
inline bool MagnitudeMicros(double value, uint64_t& micros) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  if (biased == 0x7FF) {
    return false;
  }
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  if (biased != 0) {
    mantissa |= uint64_t{1} << 52;
  }
  // value = mantissa x 2^exponent
  const int exponent = (biased != 0 ? biased : 1) - 1075;
  if (exponent > 0) {
    return false;
  }
  const int shift = -exponent;
  const T_Wide scaled = T_Wide{mantissa} * 1'000'000;  // below 2^73
  T_Wide rounded = 0;
  if (shift == 0) {
    rounded = scaled;
  } else if (shift < 75) {
    rounded = scaled >> shift;
    const T_Wide rest = scaled & ((T_Wide{1} << shift) - 1);
    const T_Wide half = T_Wide{1} << (shift - 1);
    if (rest > half || (rest == half && (rounded & 1) != 0)) {
      ++rounded;
    }
  }  // else below half a millionth: 0
  if (rounded >= T_Wide{1'000'000} * 1'000'000 * 1'000'000) {  // 10^12 or more
    return false;
  }
  micros = static_cast<uint64_t>(rounded);
  return true;
}

}  // namespace detail

// What "%f" writes for `value` in the C locale, in millionths (rounded half
// to even from the double's exact value, as printf rounds it), with its
// sign: false for a value that is not finite or not below 10^12 in size.
inline bool WrittenMicros(double value, int64_t& micros) {
  uint64_t magnitude = 0;
  if (!detail::MagnitudeMicros(value, magnitude)) {
    return false;
  }
  micros = std::bit_cast<uint64_t>(value) >> 63 != 0 ? -static_cast<int64_t>(magnitude)
                                                      : static_cast<int64_t>(magnitude);
  return true;
}

}  // namespace recording
