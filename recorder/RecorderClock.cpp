#include "RecorderClock.h"

#include <chrono>
#include <utility>

#include "DataPath.h"
#include "StopRequest.h"

namespace {

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

CWallClock::CWallClock(CDataPath& dataPath, CStopRequest& stop) : mDataPath(dataPath), mStop(stop) {}

void CWallClock::Start() {
  mStartNs = SteadyNs();
  mDataPath.Start();
}

// Wakes at a stop request not seen before: the first ends the run, or
// starts the end of its source; a second gives that up.
void CWallClock::Run() { mStop.WaitFor(kWaitMs, mStop.Count()); }

double CWallClock::Seconds() const { return static_cast<double>(SteadyNs() - mStartNs) / 1e9; }

void CWallClock::Stop() { mDataPath.Stop(); }

CSteppedClock::CSteppedClock(CDataPath& dataPath, std::function<void(uint32_t)> advanceBus, uint32_t framesPerStep,
                             ETime time)
    : mDataPath(dataPath), mAdvanceBus(std::move(advanceBus)), mFramesPerStep(framesPerStep), mTime(time) {
  if (mTime == ETime::eRecords) {
    mDataPath.SubscribeRecords([this](std::span<const kiv::T_RawRecord> records) {
      for (const kiv::T_RawRecord& record : records) {
        mRecordUnits += record.DeltTime();
      }
    });
  }
}

double CSteppedClock::Seconds() const {
  constexpr double kSecondsPerUnit = 10e-6;
  return mTime == ETime::eRecords ? static_cast<double>(mRecordUnits) * kSecondsPerUnit
                                  : static_cast<double>(mFrames) / 1000.0;
}

void CSteppedClock::Run() {
  mAdvanceBus(mFramesPerStep);
  mFrames += mFramesPerStep;
  mDataPath.Step();
}
