#pragma once
// The columns of a SkarvData CSV recording, once for its writer and its
// reader: each column's name, the word of the raw record it holds, how that
// word is written (as it is, as its signed 16-bit value, or scaled into a
// reading with six decimals) and the range a line may hold. The header line
// is the columns' names.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "RawRecord.h"
#include "SampleRecord.h"

namespace recording {

enum class ECsvKind {
  eWord,        // the word, in decimal
  eSignedWord,  // the word's two's-complement value (the IMU channels)
  eScaled,      // word x scale + offset, as "%f" writes it
};

// The word of a raw record a column holds.
enum class ECsvWord {
  eCount,
  eDeltTime,   // bits 14..1 of the flags word
  eDistance,
  eWidth,
  eAnaTemp,
  eScanState,  // bit 15 of the flags word
  eLaserPower,
  eSupplyVoltage,
  eImu,        // imu[imuChannel]
};

struct T_CsvColumn {
  const char* name;
  ECsvKind kind;
  ECsvWord word;
  int imuChannel;  // for eImu
  double scale;    // eScaled: the reading is word x scale + offset
  double offset;
  long long min;   // of the value written, or for eScaled of the word
  long long max;
};

inline constexpr size_t kCsvColumnCount = 18;

namespace detail {
constexpr T_CsvColumn Word(const char* name, ECsvWord word, long long max) {
  return {name, ECsvKind::eWord, word, 0, 0, 0, 0, max};
}
constexpr T_CsvColumn Scaled(const char* name, ECsvWord word, double scale, double offset) {
  return {name, ECsvKind::eScaled, word, 0, scale, offset, 0, 65535};
}
constexpr T_CsvColumn Imu(const char* name, int channel) {
  return {name, ECsvKind::eSignedWord, ECsvWord::eImu, channel, 0, 0, -32768, 32767};
}
}  // namespace detail

inline constexpr std::array<T_CsvColumn, kCsvColumnCount> kCsvColumns = {{
    detail::Word("Count", ECsvWord::eCount, 65535),
    detail::Word("DeltTime", ECsvWord::eDeltTime, 16383),
    detail::Scaled("Distance", ECsvWord::eDistance, kiv::kScaleRawLaserDistance, 0.0),
    detail::Word("Width", ECsvWord::eWidth, 65535),
    detail::Scaled("AnaTemp", ECsvWord::eAnaTemp, kiv::kScaleRawLaserTemperature, kiv::kTemperatureOffset),
    detail::Word("ScanState", ECsvWord::eScanState, 1),
    detail::Word("LaserPower", ECsvWord::eLaserPower, 65535),
    detail::Scaled("SupplyVoltage", ECsvWord::eSupplyVoltage, kiv::kScaleRawSupplyVoltage, kiv::kScaleSupplyOffset),
    detail::Imu("AccelX", kiv::eAccelX),
    detail::Imu("AccelY", kiv::eAccelY),
    detail::Imu("AccelZ", kiv::eAccelZ),
    detail::Imu("IMUTemp", kiv::eIMUTemp),
    detail::Imu("GyroX", kiv::eGyroX),
    detail::Imu("GyroY", kiv::eGyroY),
    detail::Imu("GyroZ", kiv::eGyroZ),
    detail::Imu("MagX", kiv::eMagX),
    detail::Imu("MagY", kiv::eMagY),
    detail::Imu("MagZ", kiv::eMagZ),
}};

namespace detail {
constexpr size_t HeaderLength() {
  size_t length = kCsvColumnCount - 1;  // the commas
  for (const T_CsvColumn& column : kCsvColumns) {
    length += std::char_traits<char>::length(column.name);
  }
  return length;
}
constexpr std::array<char, HeaderLength()> HeaderText() {
  std::array<char, HeaderLength()> text{};
  size_t at = 0;
  for (const T_CsvColumn& column : kCsvColumns) {
    if (at > 0) {
      text[at++] = ',';
    }
    for (const char* c = column.name; *c != '\0'; ++c) {
      text[at++] = *c;
    }
  }
  return text;
}
// Made at compile time: a thread still reading a recording while the
// program's statics go finds it in place.
inline constexpr std::array<char, HeaderLength()> kHeaderText = HeaderText();
}  // namespace detail

// The first line of every recording, without its line end: the names.
constexpr std::string_view CsvHeader() { return {detail::kHeaderText.data(), detail::kHeaderText.size()}; }

// The word of `record` that `column` holds, and setting it.
constexpr uint16_t ColumnWord(const kiv::T_RawRecord& record, const T_CsvColumn& column) {
  switch (column.word) {
    case ECsvWord::eCount: return record.count;
    case ECsvWord::eDeltTime: return record.DeltTime();
    case ECsvWord::eDistance: return record.rawDistance;
    case ECsvWord::eWidth: return record.width;
    case ECsvWord::eAnaTemp: return record.rawAnaTemp;
    case ECsvWord::eScanState: return record.ScanState();
    case ECsvWord::eLaserPower: return record.laserPower;
    case ECsvWord::eSupplyVoltage: return record.rawSupplyVoltage;
    case ECsvWord::eImu: return record.imu[static_cast<size_t>(column.imuChannel)];
  }
  return 0;
}
constexpr void SetColumnWord(kiv::T_RawRecord& record, const T_CsvColumn& column, uint16_t word) {
  switch (column.word) {
    case ECsvWord::eCount: record.count = word; break;
    case ECsvWord::eDeltTime: record.flags = kiv::T_RawRecord::FlagsOf(record.ScanState(), word); break;
    case ECsvWord::eDistance: record.rawDistance = word; break;
    case ECsvWord::eWidth: record.width = word; break;
    case ECsvWord::eAnaTemp: record.rawAnaTemp = word; break;
    case ECsvWord::eScanState: record.flags = kiv::T_RawRecord::FlagsOf(word, record.DeltTime()); break;
    case ECsvWord::eLaserPower: record.laserPower = word; break;
    case ECsvWord::eSupplyVoltage: record.rawSupplyVoltage = word; break;
    case ECsvWord::eImu: record.imu[static_cast<size_t>(column.imuChannel)] = word; break;
  }
}

// Sets every column's word of `record` from `words`, in column order (each
// column's place in the record worked out at compile time).
template <typename Words>
constexpr void SetColumnWords(kiv::T_RawRecord& record, const Words& words) {
  [&]<size_t... Columns>(std::index_sequence<Columns...>) {
    (SetColumnWord(record, kCsvColumns[Columns], static_cast<uint16_t>(words[Columns])), ...);
  }(std::make_index_sequence<kCsvColumnCount>());
}

// The reading a scaled column writes for `word`, computed in double as the
// controller computes it.
constexpr double ScaledValue(const T_CsvColumn& column, uint16_t word) { return word * column.scale + column.offset; }

}  // namespace recording
