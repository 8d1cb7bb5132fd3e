// Frame decoding: kiv::DecodeSampleFrame cutting sample frames into records,
// a batch at a time as the data pipe's GetPipeData does (the store emptied,
// then filled from consecutive frames until it holds no further whole
// frame). No pipe is built: the decoder is a plain function.

#include <vector>

#include "BenchSupport.h"
#include "SampleFrameCodec.h"

namespace {

void BM_DecodeFrames(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  std::vector<kiv::T_RawRecord> store(bench::kStoreRecords);
  const int capacity = static_cast<int>(store.size());

  bench::CFrameMaker maker;
  std::vector<std::vector<uint8_t>> frames(store.size() / static_cast<size_t>(entries));
  for (auto& frame : frames) {
    frame = maker.Next(entries);
  }
  const int64_t perBatch = static_cast<int64_t>(frames.size()) * entries;

  int64_t records = 0;
  const double start = bench::ThreadCpuSeconds();
  for (auto _ : state) {
    int stored = 0;
    for (const auto& frame : frames) {
      stored += kiv::DecodeSampleFrame(frame.data(), static_cast<int>(frame.size()), store.data() + stored,
                                       capacity - stored);
    }
    records += stored;
    benchmark::DoNotOptimize(store.data());
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
