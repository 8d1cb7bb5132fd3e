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

void CWallClock::Run() { mStop.WaitFor(kWaitMs); }

double CWallClock::Seconds() const { return static_cast<double>(SteadyNs() - mStartNs) / 1e9; }

void CWallClock::Stop() { mDataPath.Stop(); }

CSteppedClock::CSteppedClock(CDataPath& dataPath, std::function<void(uint32_t)> advanceBus, uint32_t framesPerStep)
    : mDataPath(dataPath), mAdvanceBus(std::move(advanceBus)), mFramesPerStep(framesPerStep) {}

void CSteppedClock::Run() {
  mAdvanceBus(mFramesPerStep);
  mFrames += mFramesPerStep;
  mDataPath.Step();
}
