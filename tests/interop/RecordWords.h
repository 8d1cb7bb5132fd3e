#pragma once
// The 18 words of a record in a RawRecordBatch, in the order the README
// gives them: the sample entry's count, raw distance, width and flags word,
// then its frame header's supply, laser temperature, laser power, aux word
// and the ten IMU words; and a recording read back into its records.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "CsvReader.h"
#include "RawRecord.h"

namespace interop {

inline constexpr size_t kWordsPerRecord = 18;
inline constexpr size_t kAuxWord = 7;  // not in a recording's lines

inline void AppendWords(const kiv::T_RawRecord& r, std::vector<uint16_t>& words) {
  const uint16_t head[8] = {r.count, r.rawDistance, r.width, r.flags, r.rawSupplyVoltage, r.rawAnaTemp,
                            r.laserPower, r.auxWord};
  words.insert(words.end(), head, head + 8);
  words.insert(words.end(), r.imu.begin(), r.imu.end());
}

// The record of words [at, at + 18).
inline kiv::T_RawRecord RecordAt(const std::vector<uint16_t>& words, size_t at) {
  kiv::T_RawRecord r;
  const uint16_t* w = words.data() + at;
  r.count = w[0];
  r.rawDistance = w[1];
  r.width = w[2];
  r.flags = w[3];
  r.rawSupplyVoltage = w[4];
  r.rawAnaTemp = w[5];
  r.laserPower = w[6];
  r.auxWord = w[kAuxWord];
  for (size_t i = 0; i < r.imu.size(); ++i) r.imu[i] = w[8 + i];
  return r;
}

// Every record of a recording (the aux word, which it does not hold, 0);
// `error` says what stopped the reading, empty when it reached the end.
inline std::vector<kiv::T_RawRecord> ReadRecording(const std::filesystem::path& file, std::string& error) {
  recording::CCsvReader reader(file.string());
  std::vector<kiv::T_RawRecord> records;
  if (!reader.Open()) {
    error = reader.Error();
    return records;
  }
  kiv::T_RawRecord record;
  recording::CRecordSource::EResult result;
  while ((result = reader.Next(record)) == recording::CRecordSource::EResult::eRecord) records.push_back(record);
  if (result != recording::CRecordSource::EResult::eEnd) error = reader.Error();
  return records;
}

}  // namespace interop
