// The recording line must be byte for byte what printf makes of the
// record's readings.

#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "CsvColumns.h"
#include "CsvLine.h"
#include "SampleFrameCodec.h"

namespace {

using recording::FormatCsvLine;
using recording::kCsvLineCapacity;

// The line as printf writes it from the scaled record.
std::string WithPrintf(const kiv::T_RawRecord& raw) {
  const kiv::T_Record r = kiv::ScaledRecord(raw);
  char text[512];
  int n = std::snprintf(text, sizeof text, "%d,%u,%f,%d,%f,%u,%d,%f", r.Count, static_cast<unsigned>(r.DeltTime),
                        r.Distance, r.Width, r.IMURecord.AnaTemp, static_cast<unsigned>(r.ScanState),
                        r.IMURecord.LaserPower, r.IMURecord.SupplyVoltage);
  for (int channel = 0; channel < kiv::eNumIMUChannels; ++channel) {
    n += std::snprintf(text + n, sizeof text - n, ",%d", static_cast<int16_t>(r.IMURecord.IMU[channel]));
  }
  n += std::snprintf(text + n, sizeof text - n, "\n");
  return std::string(text, static_cast<size_t>(n));
}

std::string WithFormatter(const kiv::T_RawRecord& raw) {
  char text[kCsvLineCapacity];
  return std::string(text, FormatCsvLine(raw, text));
}

TEST(CsvLine, EveryWordOfEveryColumnAsPrintfWritesIt) {
  kiv::T_RawRecord raw;
  raw.count = 5;
  raw.flags = kiv::T_RawRecord::FlagsOf(1, 100);
  raw.rawDistance = 1234;
  raw.width = 50;
  raw.imu = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(WithFormatter(raw), WithPrintf(raw));
  EXPECT_EQ(recording::CsvHeader(),
            "Count,DeltTime,Distance,Width,AnaTemp,ScanState,LaserPower,SupplyVoltage,AccelX,AccelY,AccelZ,IMUTemp,"
            "GyroX,GyroY,GyroZ,MagX,MagY,MagZ");
  for (int word = 0; word <= 65535; ++word) {
    const auto w = static_cast<uint16_t>(word);
    raw.count = w;
    raw.flags = w;  // every scan state and DeltTime, and the unused bit
    raw.rawDistance = w;
    raw.width = w;
    raw.rawAnaTemp = w;
    raw.laserPower = w;
    raw.rawSupplyVoltage = w;
    raw.imu.fill(w);
    raw.imu[0] = static_cast<uint16_t>(65535 - word);
    ASSERT_EQ(WithFormatter(raw), WithPrintf(raw)) << word;
  }
}

TEST(CsvLine, WrittenMicrosIsPrintfsSixDecimals) {
  const auto viaPrintf = [](double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.6f", value);
    return std::string(text);
  };
  const auto viaMicros = [](double value) {
    int64_t micros = 0;
    if (!recording::WrittenMicros(value, micros)) return std::string("refused");
    const int64_t magnitude = micros < 0 ? -micros : micros;
    char text[64];
    std::snprintf(text, sizeof text, "%s%lld.%06lld", std::signbit(value) ? "-" : "",
                  static_cast<long long>(magnitude / 1000000), static_cast<long long>(magnitude % 1000000));
    return std::string(text);
  };
  const double values[] = {0.0, -0.0, 6000.0, 0.0000005, 0.0000015, 2.5e-7, -2.5e-7, 12.4155, 19.48, -27.0,
                           DBL_MIN, 0.1, 1.0 / 3, 999999999999.9999, -1e-300, 4e-324, 0.9999995};
  for (double value : values) {
    EXPECT_EQ(viaMicros(value), viaPrintf(value)) << value;
  }
  int64_t micros = 0;
  EXPECT_FALSE(recording::WrittenMicros(1e12, micros));
  EXPECT_FALSE(recording::WrittenMicros(INFINITY, micros));
  EXPECT_FALSE(recording::WrittenMicros(NAN, micros));
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> range(-10000.0, 10000.0);
  for (int i = 0; i < 20000; ++i) {
    const double value = std::ldexp(range(random), static_cast<int>(random() % 40) - 20);
    ASSERT_EQ(viaMicros(value), viaPrintf(value)) << value;
    const double halfway = (static_cast<double>(random() % 65536) + 0.5) / 1e6;
    ASSERT_EQ(viaMicros(halfway), viaPrintf(halfway)) << halfway;
  }
}

}  // namespace
