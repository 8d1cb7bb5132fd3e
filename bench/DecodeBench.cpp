// Frame decoding: CUSBKivDataPipe::ProcessPipeData cutting sample frames into
// records, a batch at a time as GetPipeData does (the store emptied, then
// filled from consecutive frames until it holds no further whole frame).

#include <vector>

#include "BenchSupport.h"
#include "KivDataPipe.h"

namespace {

void BM_DecodeFrames(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  CUSBKivDataPipe pipe;
  pipe.Initialize(0x82);

  bench::CFrameMaker maker;
  std::vector<std::vector<uint8_t>> frames(CUSBKivDataPipe::kRecordCapacity / entries);
  for (auto& frame : frames) {
    frame = maker.Next(entries);
  }
  const int64_t perBatch = static_cast<int64_t>(frames.size()) * entries;

  int64_t records = 0;
  const double start = bench::ThreadCpuSeconds();
  for (auto _ : state) {
    pipe.mNumRecords = 0;
    for (auto& frame : frames) {
      records += pipe.ProcessPipeData(frame.data(), static_cast<int>(frame.size()));
    }
    benchmark::DoNotOptimize(pipe.mRecordStorage.get());
    benchmark::ClobberMemory();
  }
  const double seconds = bench::ThreadCpuSeconds() - start;
  if (records != perBatch * static_cast<int64_t>(state.iterations())) {
    state.SkipWithError("the decoder did not store every entry of the frames");
    return;
  }
  bench::ReportRecords(state, records, seconds);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frames.size()) *
                          static_cast<int64_t>(frames.front().size()));
}

}  // namespace

// A frame of the default rate (40 samples a millisecond) and a full packet.
BENCHMARK(BM_DecodeFrames)->ArgName("entries")->Arg(40)->Arg(bench::kLinkRecordsPerFrame);
