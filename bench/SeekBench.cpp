// A seek in a 1 GB recording, as a steered replay makes it: the index entry
// at or before the record asked for, the read-ahead thread moved there and
// the records up to it passed over, until the record itself comes out of
// the read-ahead queue. The file (about 10 million lines) is written once
// under /tmp and indexed once, the index's time reported beside.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "BenchSupport.h"
#include "CsvColumns.h"
#include "CsvLine.h"
#include "CsvReader.h"
#include "PrefetchingSource.h"
#include "RecordingIndex.h"

namespace {

constexpr uint64_t kFileBytes = uint64_t{1} << 30;

// Scans of 1998 records, as the sensor turns at its power-up rate.
struct T_BigRecording {
  std::string path;
  uint64_t records = 0;
  ~T_BigRecording() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

const T_BigRecording& BigRecording() {
  static const T_BigRecording made = [] {
    T_BigRecording big;
    char path[] = "/tmp/skarv-bench-seek-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return big;
    close(fd);
    big.path = path;
    std::FILE* file = std::fopen(path, "w");
    std::fprintf(file, "%s\n", std::string(recording::CsvHeader()).c_str());
    uint64_t bytes = 0;
    kiv::T_RawRecord record;
    record.rawSupplyVoltage = 4839;
    record.rawAnaTemp = 4518;
    record.laserPower = 1800;
    record.imu = {1, 2, 16384, 1250, 0, 0, 0, 220, 65441, 65126};
    for (; bytes < kFileBytes; ++big.records) {
      record.count = static_cast<uint16_t>(big.records);
      record.rawDistance = static_cast<uint16_t>(1000 + big.records % 997);
      record.width = static_cast<uint16_t>(big.records % 50);
      record.flags = kiv::T_RawRecord::FlagsOf(static_cast<unsigned>(big.records / 1998 % 2), 3);
      char line[recording::kCsvLineCapacity];
      const size_t length = recording::FormatCsvLine(record, line);
      std::fwrite(line, 1, length, file);
      bytes += length;
    }
    std::fclose(file);
    return big;
  }();
  return made;
}

std::unique_ptr<recording::CRecordSource> OpenReader(const std::string& path) {
  auto reader = std::make_unique<recording::CCsvReader>(path);
  return reader->Open() ? std::move(reader) : nullptr;
}

void BM_SeekIn1GBRecording(benchmark::State& state) {
  const T_BigRecording& big = BigRecording();
  if (big.records == 0) {
    state.SkipWithError("the recording could not be written");
    return;
  }
  const auto indexing = std::chrono::steady_clock::now();
  recording::CRecordingIndex index([&](std::string&) { return OpenReader(big.path); });
  index.AwaitComplete();
  const double indexSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - indexing).count();

  recording::CPrefetchingSource ahead(OpenReader(big.path));
  std::mt19937_64 random(27);
  double worst = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const uint64_t target = random() % big.records;
    const auto entry = index.AtOrBefore(target);
    ahead.SeekTo(entry->at);
    kiv::T_RawRecord record;
    for (uint64_t n = entry->record; n <= target;) {
      const recording::CRecordSource::EResult result = ahead.Next(record);
      if (result == recording::CRecordSource::EResult::eWait) {
        ahead.AwaitRecords(100);
      } else if (result == recording::CRecordSource::EResult::eRecord) {
        ++n;
      } else {
        state.SkipWithError("the recording ended before the record sought");
        return;
      }
    }
    if (record.count != static_cast<uint16_t>(target)) {
      state.SkipWithError("not the record sought");
      return;
    }
    worst = std::max(worst, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.counters["records"] = static_cast<double>(big.records);
  state.counters["index_s"] = indexSeconds;
  state.counters["worst_ms"] = worst * 1000;
}
BENCHMARK(BM_SeekIn1GBRecording)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace
