#pragma once
// A request to end the program in order, made from any thread or from a
// signal handler, and waited for with a time-out. The signal handler only
// counts the request and writes to two descriptors; everything else happens
// on the threads that wait. A first request asks for an orderly end (what
// has reached the program is still recorded); a further one, while that end
// is under way, asks to give up waiting for anything more.
//
// One object serves a whole program, made before anything it must outlive
// (the DDS front end's closing waits for readers, and a second Ctrl-C must
// still reach it), so that no signal finds the default handling back early.

#include <atomic>
#include <cstdint>

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
  bool Requested() const { return Count() > 0; }
  uint32_t Count() const { return mCount.load(); }  // requests made so far
  // Waits up to `ms` milliseconds until more than `after` requests have been
  // made; true when they have.
  bool WaitFor(int ms, uint32_t after = 0);

  // Readable from the first request on, for ever: a wait in poll() that
  // watches it ends with the request (the replay's wait for a pipe's first
  // line). -1 when it could not be made.
  int InterruptFd() const { return mInterrupt; }
  // Readable after each request until Drain: for an event loop to watch.
  int WakeFd() const { return mPipe[0]; }
  void Drain();

  // From now on Ctrl-C (SIGINT), a polite kill (SIGTERM) and the terminal
  // going away (SIGHUP) make a request on this object. One object at a time.
  void CatchSignals();

 private:
  std::atomic<uint32_t> mCount{0};
  int mPipe[2] = {-1, -1};
  int mInterrupt = -1;
  bool mCatching = false;
};
