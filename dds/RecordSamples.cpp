#include "RecordSamples.h"

#include <cassert>

namespace skarvdds {

namespace {

// Hands every word of `record` to `visit`, in the order they travel: the one
// place that order is written, for packing and unpacking alike.
template <typename Record, typename Visit>
constexpr void ForEachWord(Record& record, Visit&& visit) {
  visit(record.count);
  visit(record.rawDistance);
  visit(record.width);
  visit(record.flags);
  visit(record.rawSupplyVoltage);
  visit(record.rawAnaTemp);
  visit(record.laserPower);
  visit(record.auxWord);
  for (auto& word : record.imu) {
    visit(word);
  }
}

constexpr uint32_t WordsVisited() {
  kiv::T_RawRecord record;
  uint32_t n = 0;
  ForEachWord(record, [&n](uint16_t) { ++n; });
  return n;
}
static_assert(WordsVisited() == kWordsPerRecord, "every word of a record travels, and nothing else");

}  // namespace

void PackRecords(std::span<const kiv::T_RawRecord> records, std::span<uint16_t> words) {
  assert(words.size() == records.size() * kWordsPerRecord);
  uint16_t* out = words.data();
  for (const kiv::T_RawRecord& record : records) {
    ForEachWord(record, [&out](uint16_t word) { *out++ = word; });
  }
}

kiv::T_RawRecord UnpackRecord(std::span<const uint16_t, kWordsPerRecord> words) {
  kiv::T_RawRecord record;
  const uint16_t* in = words.data();
  ForEachWord(record, [&in](uint16_t& word) { word = *in++; });
  return record;
}

}  // namespace skarvdds
