#include "PlaybackDriver.h"

#include <chrono>

#include "Diagnostics.h"
#include "SkarvIO.h"
#include "ThreadName.h"

namespace playback {

CPlaybackDriver::CPlaybackDriver(std::shared_ptr<sim::CVirtualBus> bus, CSkarvIO& io, NextSensor next,
                                 EAfterSensor after)
    : mBus(std::move(bus)), mIO(io), mNext(std::move(next)), mAfter(after) {}

CPlaybackDriver::~CPlaybackDriver() { StopThread(); }

void CPlaybackDriver::Begin() {
  if (mBegun) {
    return;
  }
  mBegun = true;
  Poll();
}

void CPlaybackDriver::Plug(std::shared_ptr<CPlaybackSensor> sensor) {
  mSensor = std::move(sensor);
  mSourceEnded = false;
  // Every record this sensor sends adds to the controller's count from here.
  mProcessedAtPlug = mIO.GetDeviceStatus().RecordsProcessed;
  mBus->Plug(mSensor);
}

void CPlaybackDriver::Report(const std::string& error) {
  if (!error.empty()) {
    {
      std::lock_guard lock(mErrorMutex);
      mError = error;
    }
    DiagErrorPrintf("%s\n", error.c_str());
  }
}

void CPlaybackDriver::Poll() {
  if (!mBegun || mDone.load()) {
    return;
  }
  if (!mSensor) {
    auto next = mNext ? mNext() : nullptr;
    if (!next) {
      // Nothing to play: at the end of a stop, or of a replay, that is all.
      if (mEndRequested.load()) {
        mDone = true;
      }
      return;
    }
    Plug(std::move(next));
  }
  if (mEndRequested.load() && !mSourceEnded) {
    mSensor->EndSource();
    mSourceEnded = true;
  }
  const uint64_t sent = mSensor->RecordsSent();
  mPlayed = mPlayedBefore + sent;
  if (!mSensor->Finished()) {
    return;
  }
  const uint64_t processed = mIO.GetDeviceStatus().RecordsProcessed - mProcessedAtPlug;
  std::string error = mSensor->Error();
  if (processed < sent) {
    if (mSensor->FramesReadSinceFinished() < kLostAfterFrames) {
      return;  // what was sent is still on its way to the controller
    }
    if (error.empty()) {
      error = std::to_string(sent - processed) + " of the records played never reached the client";
    }
  }
  // Said before the removal is, so that it reads as its cause.
  Report(error);
  mBus->Unplug(mSensor);
  mSensor.reset();
  mPlayedBefore += sent;
  // At a stop a subscription goes on with the sessions that reached it
  // already, each played out, until there is none.
  if (!error.empty() || mAfter == EAfterSensor::eDone) {
    mDone = true;
  }
}

void CPlaybackDriver::AwaitSource(int ms) {
  if (mSensor) {
    mSensor->AwaitRecords(ms);
  }
}

bool CPlaybackDriver::PlayOut(const std::function<bool()>& giveUp) {
  EndSources();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kPlayOutSeconds);
  while (!Done() && std::chrono::steady_clock::now() < deadline && !(giveUp && giveUp())) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return Done();
}

void CPlaybackDriver::StartThread() {
  if (mThread.joinable()) {
    return;
  }
  mStopThread = false;
  mThread = std::thread([this] {
    NameThisThread("playback");
    while (!mStopThread.load() && !mDone.load()) {
      Poll();
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
  });
}

void CPlaybackDriver::StopThread() {
  mStopThread = true;
  if (mThread.joinable()) {
    mThread.join();
  }
}

std::string CPlaybackDriver::Error() const {
  std::lock_guard lock(mErrorMutex);
  return mError;
}

}  // namespace playback
