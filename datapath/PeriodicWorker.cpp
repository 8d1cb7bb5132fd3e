#include "PeriodicWorker.h"

#include <utility>

#include "Diagnostics.h"
#include "ThreadName.h"

CPeriodicWorker::CPeriodicWorker(int intervalMs, std::function<void()> tick, std::string doneLine,
                                 std::string threadName)
    : mInterval(intervalMs), mTick(std::move(tick)), mDoneLine(std::move(doneLine)), mThreadName(std::move(threadName)) {}

CPeriodicWorker::~CPeriodicWorker() { Stop(); }

void CPeriodicWorker::Start() {
  if (mStarted.load()) {
    return;
  }
  mStarted.store(true);
  mThread = std::thread([this] {
    NameThisThread(mThreadName.c_str());
    Run();
  });
}

void CPeriodicWorker::Stop() {
  if (!mStarted.load() || mStopped.exchange(true)) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mLock);
    mStopRequested = true;
  }
  mWake.notify_one();
  mThread.join();
  DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, mDoneLine);
  DiagFlush();
}

void CPeriodicWorker::Post(std::function<void()> job) {
  if (!Running()) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mLock);
    mJobs.push_back(std::move(job));
  }
  mWake.notify_one();
}

void CPeriodicWorker::Run() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point next = Clock::now() + mInterval;
  std::unique_lock<std::mutex> lock(mLock);
  for (;;) {
    if (!mJobs.empty()) {
      std::function<void()> job = std::move(mJobs.front());
      mJobs.pop_front();
      lock.unlock();
      job();
      lock.lock();
      continue;
    }
    if (mStopRequested) {
      return;
    }
    const Clock::time_point now = Clock::now();
    if (now >= next) {
      lock.unlock();
      mTick();
      DiagFlushDue();
      lock.lock();
      // A tick that overran its interval is not made up for: the next one
      // comes a whole interval after this one was due or now, whichever is later.
      next += mInterval;
      const Clock::time_point after = Clock::now();
      if (next <= after) {
        next = after + mInterval;
      }
      continue;
    }
    mWake.wait_until(lock, next);
  }
}
