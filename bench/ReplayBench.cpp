// Playing a recording back at full speed: the recording reader parsing a
// SkarvData file line by line and the playback sensor cutting the records
// into frames, as the virtual bus asks for one frame after another. No host
// is involved: this is what the playback side costs per record.

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "PlaybackSensor.h"
#include "CsvReader.h"

namespace {

constexpr int kRecords = 100000;

// A recording of kRecords lines: the virtual sensor's frames of 40 samples,
// formatted as the recording formats them.
std::string WriteRecording() {
  char path[] = "/tmp/skarv-bench-replay-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  std::FILE* file = std::fopen(path, "w");
  std::fprintf(file, "%s\n", std::string(recording::CsvHeader()).c_str());
  bench::CFrameMaker maker;
  auto word = [](const std::vector<uint8_t>& f, size_t at) { return f[at] << 8 | f[at + 1]; };
  for (int written = 0; written < kRecords;) {
    const std::vector<uint8_t> frame = maker.Next(40);
    for (size_t e = 28; e + 8 <= frame.size() && written < kRecords; e += 8, ++written) {
      const int flags = word(frame, e + 6);
      std::fprintf(file, "%d,%u,%f,%d,%f,%u,%d,%f", word(frame, e), (flags >> 1) & 0x3FFF, word(frame, e + 2) * 0.1,
                   word(frame, e + 4), word(frame, 2) * 0.01162 - 27.0, flags >> 15, word(frame, 4),
                   word(frame, 0) * 0.0022711 + 1.06);
      for (size_t i = 0; i < 10; ++i) std::fprintf(file, ",%d", static_cast<int16_t>(word(frame, 8 + 2 * i)));
      std::fprintf(file, "\n");
    }
  }
  std::fclose(file);
  return path;
}

void BM_ReplayFullSpeed(benchmark::State& state) {
  const std::string path = WriteRecording();
  std::vector<uint8_t> packet(bench::kMaxPacketBytes);
  int64_t records = 0;
  const double start = bench::ThreadCpuSeconds();
  for (auto _ : state) {
    auto reader = std::make_shared<recording::CCsvReader>(path);
    if (!reader->Open()) {
      state.SkipWithError(reader->Error().c_str());
      break;
    }
    playback::CPlaybackSensor sensor(reader, 0.0);
    uint32_t frame = 0;
    while (!sensor.Finished()) {
      benchmark::DoNotOptimize(sensor.ProduceIsoPacket(0x82, frame++, packet.data(), packet.size()));
    }
    records += static_cast<int64_t>(sensor.RecordsSent());
    if (sensor.RecordsSent() != kRecords) {
      state.SkipWithError("records were lost");
      break;
    }
  }
  const double seconds = bench::ThreadCpuSeconds() - start;
  std::remove(path.c_str());
  bench::ReportRecords(state, records, seconds);
}

}  // namespace

BENCHMARK(BM_ReplayFullSpeed)->Unit(benchmark::kMillisecond);
