#pragma once
// The layer's notification thread: it delivers arrivals and removals reported
// by the backend to the hot-plug monitors' callbacks, one event at a time, in
// the order they were reported.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "UsbTypes.h"

class CHotplugDispatcher {
 public:
  CHotplugDispatcher() = default;
  ~CHotplugDispatcher();
  CHotplugDispatcher(const CHotplugDispatcher&) = delete;
  CHotplugDispatcher& operator=(const CHotplugDispatcher&) = delete;

  // Starts calling params.OnHotPlug for matching events. With
  // KHOT_FLAG_PLUG_ALL_ON_INIT, every device of `present` that matches is
  // reported to this monitor as an arrival first.
  void Add(KHOT_HANDLE handle, const KHOT_PARAMS& params, const std::vector<KLST_DEVINFO>& present);
  // Stops a monitor. Once it returns, its callback is not running and will not
  // run again (unless called from that very callback). False when unknown.
  bool Remove(KHOT_HANDLE handle);
  void RemoveAll();

  void Post(const KLST_DEVINFO& deviceInfo, KLST_SYNC_FLAG change);
  // Waits until every event posted so far has been delivered.
  bool Flush(int timeoutMs);

  static bool Matches(const KLST_PATTERN_MATCH& pattern, const KLST_DEVINFO& deviceInfo);

 private:
  struct Monitor {
    KHOT_HANDLE handle;
    KHOT_PARAMS params;
    uint64_t since;  // events posted up to this one happened before the monitor started
  };
  struct Event {
    KLST_DEVINFO deviceInfo;
    KLST_SYNC_FLAG change;
    KHOT_HANDLE target;  // null: every monitor
    uint64_t sequence;
  };

  void PostLocked(const KLST_DEVINFO& deviceInfo, KLST_SYNC_FLAG change, KHOT_HANDLE target);
  void Loop();

  std::mutex mMutex;
  std::condition_variable mChanged;
  std::deque<Event> mQueue;
  std::vector<Monitor> mMonitors;
  KHOT_HANDLE mRunning = nullptr;  // monitor whose callback runs now
  uint64_t mPosted = 0;
  uint64_t mDelivered = 0;
  bool mStopping = false;
  std::thread mThread;
};
