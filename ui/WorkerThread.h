#pragma once
// A thread with its own event loop and a periodic timer, on which a window
// runs its controller work so that the widgets' thread never waits for the
// device. Jobs posted to it run on the thread in order.

#include <QThread>
#include <functional>
#include <string>

class QObject;
class QTimer;

class CWorkerThread {
 public:
  // `tick` runs every `intervalMs` on the thread once started; `doneLine` is
  // printed when the thread has stopped.
  CWorkerThread(int intervalMs, std::function<void()> tick, std::string doneLine);
  ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  void Start();
  // Stops the timer, lets the job or tick in progress finish, ends the
  // thread and prints the done line. Later calls do nothing.
  void Stop();
  bool Running() const { return mStarted && !mStopped; }

  // Runs `job` on the thread, after what is already queued. Dropped once
  // the thread has stopped.
  void Post(std::function<void()> job);

 private:
  const int mIntervalMs;
  const std::function<void()> mTick;
  const std::string mDoneLine;
  QThread mThread;
  QObject* mContext;  // lives on mThread; jobs are delivered through it
  QTimer* mTimer = nullptr;
  bool mStarted = false;
  bool mStopped = false;
};
