#pragma once
// A request to end the program in order, made from any thread or from a
// signal handler, and waited for with a time-out. The signal handler only
// sets an atomic flag and writes a byte to a pipe; everything else happens
// on the thread that waits.

#include <atomic>

class CStopRequest {
 public:
  CStopRequest();
  // Gives SIGINT, SIGTERM and SIGHUP back their default handling when it
  // caught them.
  ~CStopRequest();
  CStopRequest(const CStopRequest&) = delete;
  CStopRequest& operator=(const CStopRequest&) = delete;

  // Safe in a signal handler.
  void Request();
  bool Requested() const { return mRequested.load(); }
  // Waits up to `ms` milliseconds for a request; true when one was made.
  bool WaitFor(int ms);

  // From now on Ctrl-C (SIGINT), a polite kill (SIGTERM) and the terminal
  // going away (SIGHUP) make a request on this object. One object at a time.
  void CatchSignals();

 private:
  std::atomic<bool> mRequested{false};
  int mPipe[2] = {-1, -1};
  bool mCatching = false;
};
