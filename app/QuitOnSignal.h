#pragma once
// Ends the Qt event loop on a stop request (SIGINT, SIGTERM or SIGHUP, which
// the program's CStopRequest catches): the event loop watches the request's
// wake descriptor and quits, so the program shuts down in order like on a
// window close.

class CStopRequest;
class QSocketNotifier;

class CQuitOnSignal {
 public:
  explicit CQuitOnSignal(CStopRequest& stop);
  ~CQuitOnSignal();
  CQuitOnSignal(const CQuitOnSignal&) = delete;
  CQuitOnSignal& operator=(const CQuitOnSignal&) = delete;

 private:
  QSocketNotifier* mNotifier = nullptr;
};
