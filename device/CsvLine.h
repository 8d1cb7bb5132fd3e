#pragma once
// One line of the recording, formatted into a caller's buffer exactly as
// printf formats "%d,%u,%f,%d,%f,%u,%d,%f" and ten ",%d" followed by "\n" in
// the C locale, without printf's cost: the record loop writes one per sample.

#include <cstddef>
#include <cstdint>

struct T_CsvFields {
  int32_t count;
  uint32_t deltTime;
  double distance;
  int32_t width;
  double anaTemp;
  uint32_t scanState;
  int32_t laserPower;
  double supplyVoltage;
  int16_t imu[10];
};

// Longest line: eight leading fields of at most ~330 characters each (a %f
// of the largest double) and ten short ones.
constexpr size_t kCsvLineCapacity = 4096;

// Writes the line (with its "\n") into `out` and returns its length.
size_t FormatCsvLine(const T_CsvFields& fields, char (&out)[kCsvLineCapacity]);
