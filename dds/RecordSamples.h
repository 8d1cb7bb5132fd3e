#pragma once
// The sensor's raw records as the words of a record batch, and back: each
// record is kWordsPerRecord words, in the order SkarvRecordTypes.idl gives
// (the sample entry's count, raw distance, width and flags, then its frame
// header's supply, laser temperature, laser power, aux word and ten IMU
// words). The words go as the sensor sent them, the flags word whole, so
// nothing is lost either way; the host arrival time is not carried.

#include <cstddef>
#include <cstdint>
#include <span>

#include "RawRecord.h"

namespace skarvdds {

inline constexpr uint32_t kWordsPerRecord = 18;

// Writes the words of `records` into `words`, which has room for exactly
// kWordsPerRecord words a record.
void PackRecords(std::span<const kiv::T_RawRecord> records, std::span<uint16_t> words);
// The record of one record's words (its host time 0).
kiv::T_RawRecord UnpackRecord(std::span<const uint16_t, kWordsPerRecord> words);
// Appends the records of `words`, whole records, to `records` (a container
// of kiv::T_RawRecord with push_back).
template <typename Container>
void AppendRecords(std::span<const uint16_t> words, Container& records) {
  for (size_t at = 0; at + kWordsPerRecord <= words.size(); at += kWordsPerRecord) {
    records.push_back(UnpackRecord(words.subspan(at).template first<kWordsPerRecord>()));
  }
}

}  // namespace skarvdds
