// Fuzzes the sample-frame decoder, CUSBKivDataPipe::ProcessPipeData. An input
// is one frame as it could arrive in a packet. Each input is decoded
//  - whole, at each of the 16 lengths just below, and at every length up to
//    44 bytes (around the header and the first entry), each time from a
//    buffer of exactly that many bytes;
//  - with lengths that cannot hold an entry (negative ones included) and
//    with no buffer at all, which must store nothing;
//  - again and again, until the 5120-record store is full (from empty, or
//    from 64 calls short of full for frames of few records).
// Every call is held against a decoding written here from the wire format:
// how many records it stores, every field of them, and that the records
// stored before it are left alone.

#include <climits>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "KivDataPipe.h"

namespace {

using Pipe = CUSBKivDataPipe;
using fuzz::Require;
using fuzz::Word;

constexpr int kHeader = 28;
constexpr int kEntry = 8;

Pipe& TheInitializedPipe() {
  static Pipe* pipe = [] {
    auto* created = new Pipe();
    created->Initialize(0x82);
    return created;
  }();
  return *pipe;
}

// How many records a frame of `length` bytes adds to a store with `room`
// free slots: its entries up to the first whose count does not follow the
// first entry's count (modulo 65536).
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

void CheckRecord(const Pipe::T_Record& r, const uint8_t* frame, int index) {
  const uint8_t* entry = frame + kHeader + index * kEntry;
  Require(r.Count == Word(entry), "count");
  Require(r.Distance == static_cast<double>(Word(entry + 2)) * 0.1, "distance");
  Require(r.Width == Word(entry + 4), "width");
  Require(r.ScanState == Word(entry + 6) >> 15, "scan state");
  Require(r.DeltTime == ((Word(entry + 6) >> 1) & 0x3FFF), "sample time");
  const Pipe::T_IMURecord& h = r.IMURecord;
  Require(h.SupplyVoltage == static_cast<double>(Word(frame)) * 0.0022711 + 1.06, "supply voltage");
  Require(h.AnaTemp == static_cast<double>(Word(frame + 2)) * 0.01162 - 27.0, "laser temperature");
  Require(h.LaserPower == Word(frame + 4), "laser power");
  Require(h.AuxWord == Word(frame + 6), "auxiliary word");
  for (int channel = 0; channel < Pipe::eNumIMUChannels; ++channel) {
    Require(h.IMU[channel] == Word(frame + 8 + 2 * channel), "IMU word");
  }
}

// One call of the decoder, checked. Returns the records it stored.
int DecodeChecked(Pipe& pipe, const uint8_t* frame, int length) {
  const int before = pipe.mNumRecords;
  Pipe::T_Record last{};
  if (before > 0) {
    last = pipe.mRecordStorage[before - 1];
  }
  const int expected = ExpectedStored(frame, length, pipe.mMaxRecords - before);
  const int stored = pipe.ProcessPipeData(const_cast<uint8_t*>(frame), length);
  Require(stored == expected, "number of records stored");
  Require(pipe.mNumRecords == before + stored, "store count follows the records stored");
  Require(pipe.mNumRecords <= pipe.mMaxRecords, "store within its capacity");
  if (before > 0) {
    Require(std::memcmp(&last, &pipe.mRecordStorage[before - 1], sizeof last) == 0, "earlier record untouched");
  }
  for (int i = 0; i < stored; ++i) {
    CheckRecord(pipe.mRecordStorage[before + i], frame, i);
  }
  return stored;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) {
    return -1;
  }
  Pipe& pipe = TheInitializedPipe();
  const int length = static_cast<int>(size);

  // Whole and cut short, each from an exact buffer.
  pipe.mNumRecords = 0;
  for (int cut = length; cut >= 0; --cut) {
    if (cut < length - 16 && cut > kHeader + 2 * kEntry) {
      continue;
    }
    if (pipe.mNumRecords + 200 > pipe.mMaxRecords) {
      pipe.mNumRecords = 0;
    }
    const auto exact = fuzz::ExactCopy(data, static_cast<size_t>(cut));
    DecodeChecked(pipe, exact.get(), cut);
  }

  // No entry's worth of bytes, or no buffer: nothing stored.
  const auto exact = fuzz::ExactCopy(data, size);
  for (int bad : {-1, -8, -28, -36, INT_MIN, INT_MIN + kHeader, INT_MIN + kHeader + kEntry}) {
    DecodeChecked(pipe, exact.get(), bad);
  }
  DecodeChecked(pipe, nullptr, length);

  // Repeated until the store is full; then every call stores nothing. The
  // store starts empty when 64 calls fill it, otherwise that close to full
  // (at an offset that varies with the input), so that the last frame
  // meets the end of the store at every position without thousands of calls.
  pipe.mNumRecords = 0;
  const int perCall = ExpectedStored(exact.get(), length, pipe.mMaxRecords);
  if (perCall > 0) {
    const int span = 64 * perCall + static_cast<int>(size % static_cast<size_t>(perCall + 1));
    pipe.mNumRecords = span >= pipe.mMaxRecords ? 0 : pipe.mMaxRecords - span;
  }
  for (int call = 0; call <= Pipe::kRecordCapacity && pipe.mNumRecords < pipe.mMaxRecords; ++call) {
    if (DecodeChecked(pipe, exact.get(), length) == 0) {
      break;
    }
  }
  if (pipe.mNumRecords == pipe.mMaxRecords) {
    DecodeChecked(pipe, exact.get(), length);
  }
  return 0;
}
