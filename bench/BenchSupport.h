#pragma once
// Shared pieces of the benchmarks: the sensor link's limit that every figure
// is held against, realistic sample frames, the allocation counter and a
// quiet standard output for code that prints diagnostics as it runs.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace bench {

// A full-speed isochronous endpoint carries one packet of at most 1023 bytes
// per 1 ms frame: the 28-byte header and at most 124 eight-byte entries.
inline constexpr int kMaxPacketBytes = 1023;
inline constexpr int kHeaderBytes = 28;
inline constexpr int kEntryBytes = 8;
inline constexpr int kLinkRecordsPerFrame = (kMaxPacketBytes - kHeaderBytes) / kEntryBytes;
inline constexpr double kLinkRecordsPerSecond = kLinkRecordsPerFrame * 1000.0;
// The records the data pipe keeps for one collection of transfers.
inline constexpr int kStoreRecords = 5120;

// CPU time of the calling thread, in seconds: what the benchmarks time the
// data path by (one core; the machine may be busy with other work).
double ThreadCpuSeconds();

// Sets the counters "records/s" and "x_link" (records per second as a
// multiple of the link's limit) for `records` records processed in
// `seconds` of the calling thread's CPU time.
void ReportRecords(benchmark::State& state, int64_t records, double seconds);

// Calls of the global operator new since the program started.
uint64_t AllocationCount();

// Makes sample frames as the sensor sends them: plausible supply, laser
// temperature and IMU words, a room seen by a turning ray (mostly within the
// plot range, a few points out of range), counts running on from frame to
// frame, a sample every 2 or 3 time units and the scan-state bit toggling
// every 1998 samples.
class CFrameMaker {
 public:
  static constexpr int kSamplesPerRotation = 1998;

  std::vector<uint8_t> Next(int entries);

 private:
  uint32_t Random();

  uint32_t mRandom = 12345;
  uint64_t mSample = 0;
  uint16_t mCount = 0;
};

// While it lives, standard output and standard error (stdio and iostreams)
// go to /dev/null, so that the diagnostics the pipes and the port print cost
// what they cost and do not flood the report.
class CQuietOutput {
 public:
  CQuietOutput();
  ~CQuietOutput();
  CQuietOutput(const CQuietOutput&) = delete;
  CQuietOutput& operator=(const CQuietOutput&) = delete;

 private:
  int mSavedOut = -1;
  int mSavedErr = -1;
};

}  // namespace bench
