// Fuzzes the sample-frame decoder, kiv::DecodeSampleFrame. An input is one
// frame as it could arrive in a packet. Each input is decoded
//  - whole, at each of the 16 lengths just below, and at every length up to
//    44 bytes (around the header and the first entry), each time from a
//    buffer of exactly that many bytes;
//  - with lengths that cannot hold an entry (negative ones included), with
//    no frame and with no output, which must write nothing;
//  - again and again into one 5120-record store, as the data pipe fills it,
//    until the store is full (from empty, or from 64 calls short of full for
//    frames of few records).
// Every call is held against a decoding written here from the wire format:
// how many records it writes, every word of them and their readings, that
// each encodes back to its bytes, and that the slots just before and just
// after them are left alone.

#include <climits>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "SampleFrameCodec.h"

namespace {

using kiv::T_RawRecord;
using fuzz::Require;
using fuzz::Word;

constexpr int kHeader = 28;
constexpr int kEntry = 8;
// As many records as the data pipe keeps for one collection of transfers.
constexpr int kStoreRecords = 5120;

// The store, with one guard slot after its last record.
std::vector<T_RawRecord>& Store() {
  static std::vector<T_RawRecord> store(kStoreRecords + 1);
  return store;
}

// How many records a frame of `length` bytes gives with room for `room`:
// its entries up to the first whose count does not follow the first entry's
// count (modulo 65536).
int ExpectedStored(const uint8_t* frame, int length, int room) {
  const long long entries = (static_cast<long long>(length) - kHeader) / kEntry;
  if (frame == nullptr || entries <= 0) {
    return 0;
  }
  const uint16_t first = Word(frame + kHeader);
  int stored = 0;
  for (long long i = 0; i < entries && stored < room; ++i) {
    if (Word(frame + kHeader + i * kEntry) != static_cast<uint16_t>(first + i)) {
      break;
    }
    ++stored;
  }
  return stored;
}

constexpr int64_t kHostTime = 0x0123456789ABCDEF;

// The raw record holds the entry's and the header's words as they were,
// the scaled one the readings they stand for, and the record encoded again
// gives back the bytes it came from.
void CheckRecord(const T_RawRecord& r, const uint8_t* frame, int index) {
  const uint8_t* entry = frame + kHeader + index * kEntry;
  Require(r.count == Word(entry), "count");
  Require(r.rawDistance == Word(entry + 2), "distance word");
  Require(r.width == Word(entry + 4), "width");
  Require(r.flags == Word(entry + 6), "flags word");
  Require(r.rawSupplyVoltage == Word(frame) && r.rawAnaTemp == Word(frame + 2) && r.laserPower == Word(frame + 4) &&
              r.auxWord == Word(frame + 6),
          "header words");
  for (int channel = 0; channel < kiv::eNumIMUChannels; ++channel) {
    Require(r.imu[static_cast<size_t>(channel)] == Word(frame + 8 + 2 * channel), "IMU word");
  }
  Require(r.hostTimeNs == kHostTime, "host time");
  const kiv::T_Record s = kiv::ScaledRecord(r);
  Require(s.Count == Word(entry), "count");
  Require(s.Distance == static_cast<double>(Word(entry + 2)) * 0.1, "distance");
  Require(s.Width == Word(entry + 4), "width");
  Require(s.ScanState == Word(entry + 6) >> 15, "scan state");
  Require(s.DeltTime == ((Word(entry + 6) >> 1) & 0x3FFF), "sample time");
  const kiv::T_IMURecord& h = s.IMURecord;
  Require(h.SupplyVoltage == static_cast<double>(Word(frame)) * 0.0022711 + 1.06, "supply voltage");
  Require(h.AnaTemp == static_cast<double>(Word(frame + 2)) * 0.01162 - 27.0, "laser temperature");
  Require(h.LaserPower == Word(frame + 4), "laser power");
  Require(h.AuxWord == Word(frame + 6), "auxiliary word");
  for (int channel = 0; channel < kiv::eNumIMUChannels; ++channel) {
    Require(h.IMU[channel] == Word(frame + 8 + 2 * channel), "IMU word");
  }
  uint8_t again[kHeader + kEntry];
  kiv::EncodeFrameHeader(again, r);
  kiv::EncodeSampleEntry(again + kHeader, r);
  Require(std::memcmp(again, frame, kHeader) == 0 && std::memcmp(again + kHeader, entry, kEntry) == 0,
          "encoded again, the same bytes");
}

// One call of the decoder into the store after its first `used` records,
// checked. Returns the records it wrote.
int DecodeChecked(const uint8_t* frame, int length, int used) {
  std::vector<T_RawRecord>& store = Store();
  const int room = kStoreRecords - used;
  const int expected = ExpectedStored(frame, length, room);
  // The slots around what the call may write, marked to show any write.
  T_RawRecord* before = used > 0 ? &store[static_cast<size_t>(used - 1)] : nullptr;
  T_RawRecord* after = &store[static_cast<size_t>(used + expected)];
  T_RawRecord beforeCopy{};
  if (before != nullptr) {
    beforeCopy = *before;
  }
  std::memset(static_cast<void*>(after), 0xA5, sizeof *after);
  const T_RawRecord afterCopy = *after;

  const int stored = kiv::DecodeSampleFrame(frame, length, store.data() + used, room, kHostTime);
  Require(stored == expected, "number of records stored");
  Require(std::memcmp(&afterCopy, after, sizeof afterCopy) == 0, "slot after the records untouched");
  if (before != nullptr) {
    Require(std::memcmp(&beforeCopy, before, sizeof beforeCopy) == 0, "earlier record untouched");
  }
  for (int i = 0; i < stored; ++i) {
    CheckRecord(store[static_cast<size_t>(used + i)], frame, i);
  }
  return stored;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) {
    return -1;
  }
  const int length = static_cast<int>(size);

  // Whole and cut short, each from an exact buffer.
  int used = 0;
  for (int cut = length; cut >= 0; --cut) {
    if (cut < length - 16 && cut > kHeader + 2 * kEntry) {
      continue;
    }
    if (used + 200 > kStoreRecords) {
      used = 0;
    }
    const auto exact = fuzz::ExactCopy(data, static_cast<size_t>(cut));
    used += DecodeChecked(exact.get(), cut, used);
  }

  // No entry's worth of bytes, no frame or no output: nothing written.
  const auto exact = fuzz::ExactCopy(data, size);
  for (int bad : {-1, -8, -28, -36, INT_MIN, INT_MIN + kHeader, INT_MIN + kHeader + kEntry}) {
    DecodeChecked(exact.get(), bad, used);
  }
  DecodeChecked(nullptr, length, used);
  Require(kiv::DecodeSampleFrame(exact.get(), length, nullptr, kStoreRecords) == 0, "no output, nothing stored");

  // Repeated until the store is full; then every call stores nothing. The
  // store starts empty when 64 calls fill it, otherwise that close to full
  // (at an offset that varies with the input), so that the last frame
  // meets the end of the store at every position without thousands of calls.
  used = 0;
  const int perCall = ExpectedStored(exact.get(), length, kStoreRecords);
  if (perCall > 0) {
    const int span = 64 * perCall + static_cast<int>(size % static_cast<size_t>(perCall + 1));
    used = span >= kStoreRecords ? 0 : kStoreRecords - span;
  }
  for (int call = 0; call <= kStoreRecords && used < kStoreRecords; ++call) {
    const int stored = DecodeChecked(exact.get(), length, used);
    if (stored == 0) {
      break;
    }
    used += stored;
  }
  if (used == kStoreRecords) {
    DecodeChecked(exact.get(), length, used);
  }
  return 0;
}
