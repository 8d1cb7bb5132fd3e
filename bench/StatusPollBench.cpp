// The control panel's status poll, HandleStatusPipe, when it finds nothing
// to do: with no sensor attached (every call takes the no-device branch),
// and with the virtual sensor attached once its answer to the status
// request has been taken in (every call finds no read pending).

#include "BenchSupport.h"
#include "SensorRig.h"

namespace {

void BM_StatusPoll(benchmark::State& state, bool attached) {
  bench::CQuietOutput quiet;
  bench::CSensorRig rig(attached);
  CSkarvIO& io = *rig.io;
  if (attached && !rig.SettleHandshake()) {
    state.SkipWithError("the status handshake never settled");
    return;
  }
  io.HandleStatusPipe();  // fresh once, idle from here on
  for (auto _ : state) {
    benchmark::DoNotOptimize(io.HandleStatusPipe());
  }
  if (attached && io.mStatusState != CSkarvIO::kStatusIdle) {
    state.SkipWithError("a poll found something to do");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

}  // namespace

BENCHMARK_CAPTURE(BM_StatusPoll, no_device, false);
BENCHMARK_CAPTURE(BM_StatusPoll, sensor_idle, true);
