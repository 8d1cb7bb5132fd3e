// The recording line must be byte for byte what printf makes of it.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "CsvLine.h"

namespace {

std::string WithPrintf(const T_CsvFields& f) {
  char text[kCsvLineCapacity];
  int n = std::snprintf(text, sizeof text, "%d,%u,%f,%d,%f,%u,%d,%f", f.count, f.deltTime, f.distance, f.width,
                        f.anaTemp, f.scanState, f.laserPower, f.supplyVoltage);
  for (int16_t value : f.imu) {
    n += std::snprintf(text + n, sizeof text - n, ",%d", value);
  }
  n += std::snprintf(text + n, sizeof text - n, "\n");
  return std::string(text, n);
}

std::string WithFormatter(const T_CsvFields& f) {
  char text[kCsvLineCapacity];
  return std::string(text, FormatCsvLine(f, text));
}

TEST(CsvLine, SameBytesAsPrintf) {
  T_CsvFields f{5, 100, 123.4, 50, 25.5, 1, 200, 12.0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(WithFormatter(f), "5,100,123.400000,50,25.500000,1,200,12.000000,1,2,3,4,5,6,7,8,9,10\n");

  const double doubles[] = {0.0,    -0.0,     6000.0, 0.0000005, 0.0000015, 2.5e-7, -2.5e-7, 12.4155,
                            19.48,  -27.0,    1e300,  -DBL_MAX,  DBL_MIN,   0.1,    1.0 / 3, 999999999999.9999995,
                            1e12,   -1e-300,  4e-324, 0.9999995, 9007199254740993.0};
  for (double d : doubles) {
    f = T_CsvFields{-1, 16383, d, 65535, -d, 0, 0, d * 0.0022711, {-32768, 32767, -1, 0, 1, 2, 3, 4, 5, 6}};
    EXPECT_EQ(WithFormatter(f), WithPrintf(f)) << d;
  }
  // Every value a recording holds: each raw word scaled as the controller
  // scales it, and the halfway cases of the sixth decimal.
  for (int raw = 0; raw <= 65535; ++raw) {
    f.distance = raw * 0.1;
    f.anaTemp = raw * 0.01162 + -27.0;
    f.supplyVoltage = raw * 0.0022711 + 1.06;
    ASSERT_EQ(WithFormatter(f), WithPrintf(f)) << raw;
    f.distance = (raw + 0.5) / 1e6;
    f.anaTemp = -(raw + 0.5) / 64;
    f.supplyVoltage = std::ldexp(raw + 0.5, -21);
    ASSERT_EQ(WithFormatter(f), WithPrintf(f)) << raw;
  }
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> range(-10000.0, 10000.0);
  for (int i = 0; i < 20000; ++i) {
    f.distance = range(random);
    f.anaTemp = range(random) / 1000;
    f.supplyVoltage = std::ldexp(range(random), static_cast<int>(random() % 40) - 20);
    f.count = static_cast<int32_t>(random() % 65536);
    f.imu[3] = static_cast<int16_t>(random());
    ASSERT_EQ(WithFormatter(f), WithPrintf(f)) << f.distance << ' ' << f.anaTemp << ' ' << f.supplyVoltage;
  }
}

}  // namespace
