#pragma once
// Lets updates from other threads ride along with the scan view's wake-ups
// of the GUI thread instead of waking it on their own. The control panel's
// snapshot is ready ten times a second and a scan arrives twenty times a
// second: a snapshot kept here is applied at the wake-up that brings the
// next scan, at most one scan's period later, so the GUI thread wakes,
// lays out and flushes to the X server once where it did twice.
//
// Nothing is lost or reordered: while no scan is expected soon (the sensor
// stopped or slow, the data path ended) a task is posted at once, and a
// kept task that no scan came for is posted first, ahead of the next one.
// Thread safe; plain C++.

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace ui {

class CSharedWake {
 public:
  using Task = std::function<void()>;
  using Poster = std::function<void(Task)>;
  using Clock = std::chrono::steady_clock;

  // A task is kept only while the last scan was posted at most this long
  // ago: twenty scans a second come 50 ms apart.
  static constexpr Clock::duration kCarrierGap = std::chrono::milliseconds(75);

  // Any thread: a scan has been posted to the GUI thread, which calls
  // RunKept when it arrives.
  void CarrierPosted(Clock::time_point now = Clock::now());

  // Any thread: keeps `task` for the next scan's wake-up or, when none is
  // expected soon, hands `post` one task that runs whatever is still kept
  // and then `task`.
  void Post(Task task, const Poster& post, Clock::time_point now = Clock::now());

  // GUI thread, at a scan's wake-up: runs the kept tasks in order.
  void RunKept();

 private:
  std::mutex mLock;
  std::vector<Task> mKept;
  bool mCarrierOnItsWay = false;
  bool mAnyCarrier = false;
  Clock::time_point mLastCarrier{};
};

}  // namespace ui
