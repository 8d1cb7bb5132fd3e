#pragma once
// A thread that runs a tick at a fixed interval and, between ticks, the jobs
// posted to it, in the order posted. The tick and the jobs run without the
// worker's own lock held, so they may take any other lock.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CPeriodicWorker {
 public:
  // `tick` runs every `intervalMs` on the thread once started; `doneLine` is
  // printed when the thread has stopped; the thread is called `threadName`.
  CPeriodicWorker(int intervalMs, std::function<void()> tick, std::string doneLine, std::string threadName);
  ~CPeriodicWorker();
  CPeriodicWorker(const CPeriodicWorker&) = delete;
  CPeriodicWorker& operator=(const CPeriodicWorker&) = delete;

  // Start and Stop are called from one thread, the owner's.
  void Start();
  // Lets the tick or job in progress and the jobs already posted finish,
  // ends the thread and prints the done line. Later calls do nothing.
  void Stop();
  bool Running() const { return mStarted.load() && !mStopped.load(); }

  // Runs `job` on the thread, after what is already queued. Dropped once
  // the thread has stopped.
  void Post(std::function<void()> job);

 private:
  void Run();

  const std::chrono::milliseconds mInterval;
  const std::function<void()> mTick;
  const std::string mDoneLine;
  const std::string mThreadName;
  std::mutex mLock;  // guards mJobs and mStopRequested
  std::condition_variable mWake;
  std::deque<std::function<void()>> mJobs;
  bool mStopRequested = false;
  std::atomic<bool> mStarted{false};
  std::atomic<bool> mStopped{false};
  std::thread mThread;
};
