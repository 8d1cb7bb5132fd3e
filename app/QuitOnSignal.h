#pragma once
// Ends the Qt event loop on SIGINT, SIGTERM or SIGHUP. The signal handler only writes
// a byte to a socket pair; the event loop reads it and quits, so the program
// shuts down in order like on a window close.

class QSocketNotifier;

class CQuitOnSignal {
 public:
  CQuitOnSignal();
  ~CQuitOnSignal();
  CQuitOnSignal(const CQuitOnSignal&) = delete;
  CQuitOnSignal& operator=(const CQuitOnSignal&) = delete;

 private:
  QSocketNotifier* mNotifier = nullptr;
};
