#include "CsvLine.h"

#include <bit>
#include <charconv>
#include <utility>

#include "CsvColumns.h"

namespace recording {

namespace {

__extension__ typedef unsigned __int128 T_Wide;

constexpr uint64_t kMicro = 1'000'000;

// The size of `value` in millionths, as "%f" rounds it: the double's exact
// value times 10^6, rounded half to even. False for a value that is not
// finite or not below 10^12.
bool MagnitudeMicros(double value, uint64_t& micros) {
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
  const T_Wide scaled = T_Wide{mantissa} * kMicro;  // below 2^73
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
  if (rounded >= T_Wide{kMicro} * kMicro * kMicro) {  // 10^12 or more
    return false;
  }
  micros = static_cast<uint64_t>(rounded);
  return true;
}

// "%f" of a column's reading (finite and small: always in range).
char* PutDecimal(char* at, char* end, double value) {
  uint64_t micros = 0;
  MagnitudeMicros(value, micros);
  if (std::bit_cast<uint64_t>(value) >> 63 != 0) {
    *at++ = '-';
  }
  at = std::to_chars(at, end, micros / kMicro).ptr;
  *at++ = '.';
  uint64_t fraction = micros % kMicro;
  for (int digit = 5; digit >= 0; --digit) {
    at[digit] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return at + 6;
}

template <size_t Column>
char* PutColumn(char* at, char* end, const kiv::T_RawRecord& record) {
  constexpr T_CsvColumn column = kCsvColumns[Column];
  if constexpr (Column > 0) {
    *at++ = ',';
  }
  const uint16_t word = ColumnWord(record, column);
  if constexpr (column.kind == ECsvKind::eScaled) {
    return PutDecimal(at, end, ScaledValue(column, word));
  } else if constexpr (column.kind == ECsvKind::eSignedWord) {
    return std::to_chars(at, end, static_cast<int16_t>(word)).ptr;
  } else {
    return std::to_chars(at, end, word).ptr;
  }
}

template <size_t... Columns>
char* PutColumns(char* at, char* end, const kiv::T_RawRecord& record, std::index_sequence<Columns...>) {
  ((at = PutColumn<Columns>(at, end, record)), ...);
  return at;
}

}  // namespace

bool WrittenMicros(double value, int64_t& micros) {
  uint64_t magnitude = 0;
  if (!MagnitudeMicros(value, magnitude)) {
    return false;
  }
  micros = std::bit_cast<uint64_t>(value) >> 63 != 0 ? -static_cast<int64_t>(magnitude)
                                                      : static_cast<int64_t>(magnitude);
  return true;
}

size_t FormatCsvLine(const kiv::T_RawRecord& record, char (&out)[kCsvLineCapacity]) {
  char* at = PutColumns(out, out + kCsvLineCapacity, record, std::make_index_sequence<kCsvColumnCount>());
  *at++ = '\n';
  return static_cast<size_t>(at - out);
}

}  // namespace recording
