#include "SharedWake.h"

#include <utility>

namespace ui {

void CSharedWake::CarrierPosted(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mLock);
  mCarrierOnItsWay = true;
  mAnyCarrier = true;
  mLastCarrier = now;
}

void CSharedWake::Post(Task task, const Poster& post, Clock::time_point now) {
  std::vector<Task> due;
  {
    std::lock_guard<std::mutex> lock(mLock);
    // A scan already posted runs what is kept; otherwise one is expected
    // only while scans have been coming and none has been missed since the
    // last task was kept.
    const bool carrierExpected =
        mCarrierOnItsWay || (mAnyCarrier && mKept.empty() && now - mLastCarrier <= kCarrierGap);
    if (carrierExpected) {
      mKept.push_back(std::move(task));
      return;
    }
    due.swap(mKept);
  }
  due.push_back(std::move(task));
  post([due = std::move(due)] {
    for (const Task& each : due) {
      each();
    }
  });
}

void CSharedWake::RunKept() {
  std::vector<Task> kept;
  {
    std::lock_guard<std::mutex> lock(mLock);
    kept.swap(mKept);
    mCarrierOnItsWay = false;
  }
  for (const Task& each : kept) {
    each();
  }
}

}  // namespace ui
