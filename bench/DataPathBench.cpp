// The whole data path: the virtual sensor's frames on the manual clock,
// 10 ms of bus time per step, collected and processed by
// UpdateContiniousData as the scan view's worker does every 10 ms. Only the
// controller's call is timed (manual time, the thread's CPU time); the
// sensor model producing the frames in bus->Advance is not.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "BenchSupport.h"
#include "SensorRig.h"

namespace {

constexpr uint32_t kStepMs = 10;

// Runs in a fresh temporary directory while it lives, so that recording
// files land there; removes them afterwards.
class CTempWorkDir {
 public:
  CTempWorkDir() {
    char pattern[] = "/tmp/skarv-bench-XXXXXX";
    if (mkdtemp(pattern)) {
      mDir = pattern;
      mPrevious = std::filesystem::current_path();
      std::filesystem::current_path(mDir);
    }
  }
  ~CTempWorkDir() {
    if (!mDir.empty()) {
      std::filesystem::current_path(mPrevious);
      std::error_code ignored;
      std::filesystem::remove_all(mDir, ignored);
    }
  }
  bool Ok() const { return !mDir.empty(); }

 private:
  std::filesystem::path mDir;
  std::filesystem::path mPrevious;
};

void WaitIdle(const CUSBPipe& pipe) {
  for (int wait = 0; wait < 1000 && pipe.mActive.load(); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void BM_DataPath(benchmark::State& state) {
  const int rpm = static_cast<int>(state.range(0));
  const bool record = state.range(1) != 0;

  CTempWorkDir workDir;
  if (!workDir.Ok()) {
    state.SkipWithError("no temporary directory");
    return;
  }
  int64_t records = 0;
  uint64_t allocations = 0;
  double seconds = 0.0;
  const char* error = nullptr;
  {
    bench::CQuietOutput quiet;
    bench::CSensorRig rig(true);
    CSkarvIO& io = *rig.io;
    rig.SettleHandshake();
    if (rpm != static_cast<int>(sim::CVirtualSensor::kDefaultRpm)) {
      // A command goes out only when the pipe's last write is over.
      WaitIdle(io.mCmdPipe);
      io.SetRotationRate(rpm);
      WaitIdle(io.mCmdPipe);
    }
    io.RequestRecording(record);
    // The stream is queued well ahead of the bus: step until samples flow.
    for (int step = 0; step < 1000 && io.mDataPipe.mNumRecords == 0; ++step) {
      rig.bus->Advance(kStepMs);
      io.UpdateContiniousData();
    }
    if (rig.sensor->RotationRpm() != static_cast<unsigned>(rpm)) {
      error = "the sensor did not take the rotation rate";
    } else if (io.mDataPipe.mNumRecords == 0) {
      error = "no samples came through";
    } else if (record && !io.mSaveFile.load()) {
      error = "the recording file did not open";
    } else {
      int steps = 0;
      for (auto _ : state) {
        rig.bus->Advance(kStepMs);
        const uint64_t allocationsBefore = bench::AllocationCount();
        const double start = bench::ThreadCpuSeconds();
        benchmark::DoNotOptimize(io.UpdateContiniousData());
        const double spent = bench::ThreadCpuSeconds() - start;
        allocations += bench::AllocationCount() - allocationsBefore;
        records += io.mDataPipe.mNumRecords;
        seconds += spent;
        state.SetIterationTime(spent);
        if (record && ++steps % 2000 == 0) {
          // Keep the file small; its writes are timed, this is not.
          FILE* file = io.mSaveFile.load();
          std::fflush(file);
          if (ftruncate(fileno(file), 0) == 0) {
            std::rewind(file);
          }
        }
      }
      io.RequestRecording(false);
    }
  }
  if (error) {
    state.SkipWithError(error);
    return;
  }
  bench::ReportRecords(state, records, seconds);
  state.counters["records/step"] = static_cast<double>(records) / static_cast<double>(state.iterations());
  state.counters["allocs/record"] = records > 0 ? static_cast<double>(allocations) / static_cast<double>(records) : 0.0;
}

}  // namespace

// The power-up rate (40 samples a millisecond) and the sensor's fastest
// (120 a millisecond), each without and with recording.
BENCHMARK(BM_DataPath)
    ->ArgNames({"rpm", "record"})
    ->ArgsProduct({{sim::CVirtualSensor::kDefaultRpm, sim::CVirtualSensor::kMaxRpm}, {0, 1}})
    ->UseManualTime();
