// Writing MCAP from records, as a recording does: each update's records
// turned into the /records batch, the IMU messages and the scans, in CDR,
// into zstd chunks, to a temporary file. Reports the records a second of
// one core and, once, how the file's size compares with the CSV of the same
// records; counts the allocations of the steady state.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CsvLine.h"
#include "DdsOptions.h"
#include "McapRecording.h"
#include "SampleFrameCodec.h"

namespace {

using kiv::T_RawRecord;

// An update's worth of records, the counts running on from one to the next.
std::vector<T_RawRecord> Records(size_t count) {
  std::vector<T_RawRecord> records;
  bench::CFrameMaker maker;
  T_RawRecord frame[64];
  while (records.size() < count) {
    std::vector<uint8_t> bytes = maker.Next(40);
    const int n = kiv::DecodeSampleFrame(bytes.data(), static_cast<int>(bytes.size()), frame, 64);
    records.insert(records.end(), frame, frame + n);
  }
  records.resize(count);
  return records;
}

std::filesystem::path TempPath(const char* name) {
  return std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(::getpid()) + ".mcap");
}

void BM_McapWrite(benchmark::State& state) {
  const std::vector<T_RawRecord> update = Records(bench::kStoreRecords);
  const std::filesystem::path path = TempPath("skarv-bench");
  skarvmcap::CMcapRecording recording(skarvdds::T_DdsOptions{}, "bench");
  if (recording.Open(path.string()) != 0) {
    state.SkipWithError(recording.Error().c_str());
    return;
  }
  auto now = std::chrono::system_clock::now();
  // Past the first chunks, every buffer has grown to its size.
  for (int i = 0; i < 100; ++i) recording.Add(update, now += std::chrono::milliseconds(10), "SKV00001");
  const uint64_t allocationsBefore = bench::AllocationCount();
  int64_t records = 0;
  const double start = bench::ThreadCpuSeconds();
  for (auto _ : state) {
    recording.Add(update, now += std::chrono::milliseconds(10), "SKV00001");
    records += static_cast<int64_t>(update.size());
  }
  const double seconds = bench::ThreadCpuSeconds() - start;
  state.counters["allocs/record"] =
      static_cast<double>(bench::AllocationCount() - allocationsBefore) / static_cast<double>(records);
  bench::ReportRecords(state, records, seconds);
  recording.Close();
  std::filesystem::remove(path);
}
BENCHMARK(BM_McapWrite)->UseRealTime();

// 60 s of records at the link's limit: the MCAP file against the CSV.
void BM_McapSizeOfAMinute(benchmark::State& state) {
  const size_t perUpdate = static_cast<size_t>(bench::kLinkRecordsPerSecond / 100);  // 10 ms updates
  const std::vector<T_RawRecord> minute = Records(perUpdate * 6000);
  for (auto _ : state) {
    const std::filesystem::path path = TempPath("skarv-bench-minute");
    skarvmcap::CMcapRecording recording(skarvdds::T_DdsOptions{}, "bench");
    if (recording.Open(path.string()) != 0) {
      state.SkipWithError(recording.Error().c_str());
      return;
    }
    auto now = std::chrono::system_clock::now();
    uint64_t csvBytes = 0;
    char line[recording::kCsvLineCapacity];
    for (size_t at = 0; at < minute.size(); at += perUpdate) {
      const std::span<const T_RawRecord> records(minute.data() + at, perUpdate);
      recording.Add(records, now += std::chrono::milliseconds(10), "SKV00001");
      for (const T_RawRecord& record : records) csvBytes += recording::FormatCsvLine(record, line);
    }
    recording.Close();
    const double mcapBytes = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
    state.counters["csv_MB"] = static_cast<double>(csvBytes) / 1e6;
    state.counters["mcap_MB"] = mcapBytes / 1e6;
    state.counters["x_smaller"] = static_cast<double>(csvBytes) / mcapBytes;
  }
}
BENCHMARK(BM_McapSizeOfAMinute)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
