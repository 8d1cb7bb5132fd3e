#include "HotplugDispatcher.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "ThreadName.h"

namespace {

// Case-insensitive match with '*' (any run) and '?' (any one character).
bool Glob(const char* pattern, const char* text) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*text) {
    if (*pattern == '*') {
      star = pattern++;
      resume = text;
    } else if (*pattern == '?' ||
               std::tolower(static_cast<unsigned char>(*pattern)) == std::tolower(static_cast<unsigned char>(*text))) {
      ++pattern;
      ++text;
    } else if (star) {
      pattern = star + 1;
      text = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') {
    ++pattern;
  }
  return *pattern == '\0';
}

bool FieldMatches(const char* pattern, const char* value) { return pattern[0] == '\0' || Glob(pattern, value); }

}  // namespace

CHotplugDispatcher::~CHotplugDispatcher() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mStopping = true;
    mMonitors.clear();
  }
  mChanged.notify_all();
  if (mThread.joinable()) {
    if (mThread.get_id() == std::this_thread::get_id()) {
      mThread.detach();
    } else {
      mThread.join();
    }
  }
}

bool CHotplugDispatcher::Matches(const KLST_PATTERN_MATCH& pattern, const KLST_DEVINFO& deviceInfo) {
  return FieldMatches(pattern.DeviceInterfaceGUID, deviceInfo.DeviceInterfaceGUID) &&
         FieldMatches(pattern.DeviceID, deviceInfo.DeviceID) && FieldMatches(pattern.ClassGUID, deviceInfo.ClassGUID);
}

void CHotplugDispatcher::Add(KHOT_HANDLE handle, const KHOT_PARAMS& params, const std::vector<KLST_DEVINFO>& present) {
  std::lock_guard<std::mutex> lock(mMutex);
  mMonitors.push_back(Monitor{handle, params, mPosted});
  if (params.Flags & KHOT_FLAG_PLUG_ALL_ON_INIT) {
    for (const KLST_DEVINFO& info : present) {
      if (Matches(params.PatternMatch, info)) {
        PostLocked(info, KLST_SYNC_FLAG_ADDED, handle);
      }
    }
  }
  if (!mThread.joinable()) {
    mThread = std::thread([this] {
      NameThisThread("hot-plug");
      Loop();
    });
  }
}

bool CHotplugDispatcher::Remove(KHOT_HANDLE handle) {
  std::unique_lock<std::mutex> lock(mMutex);
  auto it = std::find_if(mMonitors.begin(), mMonitors.end(), [&](const Monitor& m) { return m.handle == handle; });
  if (it == mMonitors.end()) {
    return false;
  }
  mMonitors.erase(it);
  if (std::this_thread::get_id() != mThread.get_id()) {
    mChanged.wait(lock, [&] { return mRunning != handle; });
  }
  return true;
}

void CHotplugDispatcher::RemoveAll() {
  std::unique_lock<std::mutex> lock(mMutex);
  mMonitors.clear();
  if (std::this_thread::get_id() != mThread.get_id()) {
    mChanged.wait(lock, [&] { return mRunning == nullptr; });
  }
}

void CHotplugDispatcher::Post(const KLST_DEVINFO& deviceInfo, KLST_SYNC_FLAG change) {
  std::lock_guard<std::mutex> lock(mMutex);
  PostLocked(deviceInfo, change, nullptr);
}

void CHotplugDispatcher::PostLocked(const KLST_DEVINFO& deviceInfo, KLST_SYNC_FLAG change, KHOT_HANDLE target) {
  ++mPosted;
  mQueue.push_back(Event{deviceInfo, change, target, mPosted});
  mChanged.notify_all();
}

bool CHotplugDispatcher::Flush(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mMutex);
  const uint64_t goal = mPosted;
  if (!mThread.joinable()) {
    // No monitor was ever started: nothing will deliver, nothing waits.
    mDelivered = mPosted;
    mQueue.clear();
    return true;
  }
  return mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return mDelivered >= goal; });
}

void CHotplugDispatcher::Loop() {
  std::unique_lock<std::mutex> lock(mMutex);
  while (true) {
    mChanged.wait(lock, [&] { return mStopping || !mQueue.empty(); });
    if (mStopping) {
      return;
    }
    const Event event = mQueue.front();
    mQueue.pop_front();
    // Deliver to each monitor still registered at the moment its turn comes.
    std::vector<KHOT_HANDLE> targets;
    for (const Monitor& m : mMonitors) {
      const bool addressed = event.target ? event.target == m.handle : event.sequence > m.since;
      if (addressed && Matches(m.params.PatternMatch, event.deviceInfo)) {
        targets.push_back(m.handle);
      }
    }
    for (KHOT_HANDLE target : targets) {
      auto it = std::find_if(mMonitors.begin(), mMonitors.end(), [&](const Monitor& m) { return m.handle == target; });
      if (it == mMonitors.end() || it->params.OnHotPlug == nullptr) {
        continue;
      }
      KHOT_PLUG_CB* callback = it->params.OnHotPlug;
      KLST_DEVINFO info = event.deviceInfo;  // the callback may keep a pointer only while it runs
      mRunning = target;
      lock.unlock();
      callback(target, &info, event.change);
      lock.lock();
      mRunning = nullptr;
      mChanged.notify_all();
    }
    ++mDelivered;
    mChanged.notify_all();
  }
}
