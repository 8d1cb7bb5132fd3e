// The controller's per-record work in the update loop: PopulateMemberVariables,
// SaveFileTimeIncrement and UpdateScanData over decoded records, without a
// recording file and with one. Also counts the allocations of the steady
// state, and checks first that the CSV lines are byte for byte what the
// printf formats of the recording produce.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "SampleFrameCodec.h"
#include "SkarvIO.h"

namespace {

using kiv::T_RawRecord;
using kiv::T_Record;

enum class Recording { eNone, eDevNull, eTmpFile };

// A store full of decoded records, as one GetPipeData could leave it: the
// raw records and their scaled ones.
struct T_Records {
  std::vector<T_RawRecord> raw;
  std::vector<T_Record> scaled;
};

T_Records DecodeRecords() {
  T_Records store;
  store.raw.resize(bench::kStoreRecords);
  const int capacity = static_cast<int>(store.raw.size());
  bench::CFrameMaker maker;
  int stored = 0;
  while (stored + 40 <= capacity) {
    std::vector<uint8_t> frame = maker.Next(40);
    stored += kiv::DecodeSampleFrame(frame.data(), static_cast<int>(frame.size()), store.raw.data() + stored,
                                     capacity - stored);
  }
  store.raw.resize(static_cast<size_t>(stored));
  for (const T_RawRecord& raw : store.raw) {
    store.scaled.push_back(kiv::ScaledRecord(raw));
  }
  return store;
}

// The CSV line of a record, built with the recording's printf formats
// straight from the scaled record's fields.
std::string ExpectedLine(const T_Record& r) {
  char line[512];
  int n = std::snprintf(line, sizeof line, "%d,%u,%f,%d,%f,%u,%d,%f", r.Count,
                        static_cast<unsigned>(static_cast<uint16_t>(r.DeltTime)), r.Distance, r.Width,
                        r.IMURecord.AnaTemp, static_cast<unsigned>(r.ScanState),
                        static_cast<int>(static_cast<uint16_t>(r.IMURecord.LaserPower)), r.IMURecord.SupplyVoltage);
  for (int32_t word : r.IMURecord.IMU) {
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ",%d",
                       static_cast<int>(static_cast<int16_t>(static_cast<uint16_t>(word))));
  }
  n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "\n");
  return std::string(line, static_cast<size_t>(n));
}

// Records the given records into a temporary file through the controller
// and compares the file with the expected lines. Empty when they match.
std::string CheckCsvLines(const T_RawRecord* source, int count) {
  std::vector<T_RawRecord> records(source, source + count);
  // The extremes of every field, besides the ordinary records.
  T_RawRecord edge = records.front();
  edge.count = 65535;
  edge.flags = T_RawRecord::FlagsOf(1, 0x3FFF);
  edge.rawDistance = 65535;
  edge.width = 65535;
  edge.rawAnaTemp = 0;
  edge.rawSupplyVoltage = 65535;
  edge.laserPower = 65535;
  edge.imu = {0, 0x7FFF, 0x8000, 0xFFFF, 1, 0x8001, 0xFFFE, 12345, 54321, 0x7FFE};
  records.push_back(edge);
  T_RawRecord laserOff = records.front();
  laserOff.count = 0;
  laserOff.rawDistance = 60000;
  laserOff.width = 0;
  laserOff.flags = 0;
  laserOff.rawAnaTemp = 2324;
  laserOff.laserPower = 0;
  records.push_back(laserOff);

  auto io = std::make_unique<CSkarvIO>();
  FILE* file = std::tmpfile();
  if (!file) {
    return "no temporary file";
  }
  io->mSaveFile = file;
  std::string expected;
  for (const T_RawRecord& raw : records) {
    T_Record record = kiv::ScaledRecord(raw);
    io->mRawRecord = &raw;
    io->PopulateMemberVariables(&record);
    io->SaveFileTimeIncrement();
    io->UpdateScanData();
    expected += ExpectedLine(record);
  }
  io->mSaveFile = nullptr;
  std::fflush(file);
  std::rewind(file);
  std::string written(expected.size() + 1, '\0');
  written.resize(std::fread(written.data(), 1, written.size(), file));
  std::fclose(file);
  if (written == expected) {
    return {};
  }
  size_t at = 0;
  while (at < written.size() && at < expected.size() && written[at] == expected[at]) ++at;
  const size_t lineStart = expected.rfind('\n', at == 0 ? 0 : at - 1);
  const size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
  return "CSV differs from the printf formats at byte " + std::to_string(at) + ": expected \"" +
         expected.substr(from, expected.find('\n', from) - from) + "\"";
}

void BM_RecordLoop(benchmark::State& state, Recording recording) {
  T_Records decoded = DecodeRecords();
  T_Record* records = decoded.scaled.data();
  const T_RawRecord* raw = decoded.raw.data();
  const int count = static_cast<int>(decoded.scaled.size());

  FILE* file = nullptr;
  if (recording != Recording::eNone) {
    std::string mismatch;
    {
      bench::CQuietOutput quiet;
      mismatch = CheckCsvLines(raw, 300);
    }
    if (!mismatch.empty()) {
      state.SkipWithError(mismatch.c_str());
      return;
    }
    file = recording == Recording::eDevNull ? std::fopen("/dev/null", "w") : std::tmpfile();
    if (!file) {
      state.SkipWithError("cannot open the recording file");
      return;
    }
  }

  auto io = std::make_unique<CSkarvIO>();
  io->mSaveFile = file;
  CSkarvIO& controller = *io;
  auto runBatch = [&] {
    for (int i = 0; i < count; ++i) {
      controller.mRawRecord = &raw[i];
      controller.PopulateMemberVariables(&records[i]);
      controller.SaveFileTimeIncrement();
      benchmark::DoNotOptimize(controller.UpdateScanData());
    }
  };

  int64_t processed = 0;
  uint64_t allocations = 0;
  double seconds = 0.0;
  {
    // Edges of the scan print a line; the warm-up batch lets the file's
    // stream take its buffer before the steady state is counted.
    bench::CQuietOutput quiet;
    runBatch();
    const uint64_t before = bench::AllocationCount();
    const double start = bench::ThreadCpuSeconds();
    for (auto _ : state) {
      runBatch();
      processed += count;
      if (recording == Recording::eTmpFile && std::ftell(file) > (64L << 20)) {
        std::rewind(file);  // a bounded file on disk, still written in full
      }
    }
    seconds = bench::ThreadCpuSeconds() - start;
    allocations = bench::AllocationCount() - before;
    io->mSaveFile = nullptr;
    io.reset();
  }
  if (file) {
    std::fclose(file);
  }

  bench::ReportRecords(state, processed, seconds);
  state.counters["allocs/record"] =
      processed > 0 ? static_cast<double>(allocations) / static_cast<double>(processed) : 0.0;
  state.counters["allocs"] = static_cast<double>(allocations);
}

}  // namespace

BENCHMARK_CAPTURE(BM_RecordLoop, no_recording, Recording::eNone);
BENCHMARK_CAPTURE(BM_RecordLoop, csv_to_devnull, Recording::eDevNull);
BENCHMARK_CAPTURE(BM_RecordLoop, csv_to_tmpfile, Recording::eTmpFile);
