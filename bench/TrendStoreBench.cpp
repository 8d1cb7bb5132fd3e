// The trend store's work per record on the data path's thread: one update's
// records (400 at the default rate of 40 a millisecond, and a full store of
// 5,120) through CTrendStore::Add, from frames of 40 records sharing their
// header as the sensor sends them. At the default rate the store's share of
// one core is 40,000 records a second over the records/s reported here.

#include <vector>

#include "BenchSupport.h"
#include "SampleFrameCodec.h"
#include "TrendStore.h"

namespace {

void BM_TrendStoreAdd(benchmark::State& state) {
  const int perUpdate = static_cast<int>(state.range(0));
  std::vector<kiv::T_RawRecord> records(static_cast<size_t>(perUpdate));
  bench::CFrameMaker maker;
  int stored = 0;
  while (stored < perUpdate) {
    const std::vector<uint8_t> frame = maker.Next(40);
    stored += kiv::DecodeSampleFrame(frame.data(), static_cast<int>(frame.size()), records.data() + stored,
                                     perUpdate - stored);
  }
  trends::CTrendStore store;
  int64_t added = 0;
  const double start = bench::ThreadCpuSeconds();
  for (auto _ : state) {
    store.Add(records);
    added += perUpdate;
  }
  bench::ReportRecords(state, added, bench::ThreadCpuSeconds() - start);
  benchmark::DoNotOptimize(store.Newest());
}

}  // namespace

BENCHMARK(BM_TrendStoreAdd)->ArgName("records")->Arg(400)->Arg(bench::kStoreRecords);
