#include "CsvLine.h"

#include <array>
#include <bit>
#include <utility>

#include "CsvColumns.h"

namespace recording {

namespace {

constexpr uint64_t kMicro = 1'000'000;

// "00" to "99": two digits at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// The two digits of `value` (below 100) at `at`.
void PutPair(char* at, uint32_t value) {
  at[0] = kDigitPairs[2 * value];
  at[1] = kDigitPairs[2 * value + 1];
}

// A value below 100,000 (every word, and the whole part of every reading a
// column holds) in decimal, as "%d" writes it.
char* PutSmall(char* at, uint32_t value) {
  const int digits = value >= 10000 ? 5 : value >= 1000 ? 4 : value >= 100 ? 3 : value >= 10 ? 2 : 1;
  char* const end = at + digits;
  char* next = end;
  while (value >= 100) {
    next -= 2;
    PutPair(next, value % 100);
    value /= 100;
  }
  if (value >= 10) {
    PutPair(next - 2, value);
  } else {
    next[-1] = static_cast<char>('0' + value);
  }
  return end;
}

// "%f" of a column's reading (finite, and below 100,000 in size).
char* PutDecimal(char* at, double value) {
  uint64_t micros = 0;
  detail::MagnitudeMicros(value, micros);
  if (std::bit_cast<uint64_t>(value) >> 63 != 0) {
    *at++ = '-';
  }
  at = PutSmall(at, static_cast<uint32_t>(micros / kMicro));
  *at++ = '.';
  const auto fraction = static_cast<uint32_t>(micros % kMicro);
  PutPair(at, fraction / 10000);
  PutPair(at + 2, fraction / 100 % 100);
  PutPair(at + 4, fraction % 100);
  return at + 6;
}

// The largest reading a scaled column holds, in size.
constexpr double LargestReading(const T_CsvColumn& column) {
  const double top = ScaledValue(column, 65535);
  const double bottom = ScaledValue(column, 0);
  return (top < 0 ? -top : top) > (bottom < 0 ? -bottom : bottom) ? (top < 0 ? -top : top)
                                                                   : (bottom < 0 ? -bottom : bottom);
}

template <size_t Column>
char* PutColumn(char* at, const kiv::T_RawRecord& record) {
  constexpr T_CsvColumn column = kCsvColumns[Column];
  if constexpr (Column > 0) {
    *at++ = ',';
  }
  const uint16_t word = ColumnWord(record, column);
  if constexpr (column.kind == ECsvKind::eScaled) {
    static_assert(LargestReading(column) < 99999.0);
    return PutDecimal(at, ScaledValue(column, word));
  } else if constexpr (column.kind == ECsvKind::eSignedWord) {
    const auto value = static_cast<int16_t>(word);
    if (value < 0) {
      *at++ = '-';
    }
    return PutSmall(at, static_cast<uint32_t>(value < 0 ? -value : value));
  } else {
    return PutSmall(at, word);
  }
}

template <size_t... Columns>
char* PutColumns(char* at, const kiv::T_RawRecord& record, std::index_sequence<Columns...>) {
  ((at = PutColumn<Columns>(at, record)), ...);
  return at;
}

}  // namespace

size_t FormatCsvLine(const kiv::T_RawRecord& record, char (&out)[kCsvLineCapacity]) {
  char* at = PutColumns(out, record, std::make_index_sequence<kCsvColumnCount>());
  *at++ = '\n';
  return static_cast<size_t>(at - out);
}

}  // namespace recording
