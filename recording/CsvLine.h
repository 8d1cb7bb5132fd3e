#pragma once
// One line of a recording, written from a raw record into a caller's buffer
// exactly as printf writes its readings with "%d,%u,%f,%d,%f,%u,%d,%f" and
// ten ",%d" followed by "\n" in the C locale (the scaled columns with six
// decimals), without printf's cost: the record loop writes one per sample.

#include <cstddef>
#include <cstdint>

#include "RawRecord.h"

namespace recording {

// Longer than any line: 18 columns of at most 11 characters, their commas
// and the line end.
constexpr size_t kCsvLineCapacity = 256;

// Writes the line (with its "\n") into `out` and returns its length.
size_t FormatCsvLine(const kiv::T_RawRecord& record, char (&out)[kCsvLineCapacity]);

// What "%f" writes for `value` in the C locale, in millionths (rounded half
// to even from the double's exact value, as printf rounds it), with its
// sign: false for a value that is not finite or not below 10^12 in size.
bool WrittenMicros(double value, int64_t& micros);

}  // namespace recording
