// Overlapped pools and waiting for transfers.

#include <chrono>

#include "UsbLibraryCore.h"

namespace {

using Core = CUsbLibraryCore;
using State = COverlapped::State;

constexpr int kMaxPoolSize = 1024;

bool Wait(KOVL_HANDLE overlapped, int timeoutMs, unsigned flags, unsigned* transferredLength) {
  Core& core = Core::Instance();
  std::unique_lock<std::mutex> lock(core.mMutex);
  if (transferredLength) {
    *transferredLength = 0;
  }
  auto transfer = Core::Find(core.mOverlapped, overlapped);
  if (!transfer) {
    return Core::Fail(kErrorInvalidParameter);
  }
  auto release = [&](unsigned when) {
    if (flags & when) {
      transfer->mAcquired = false;  // back in the pool once it is no longer in flight
    }
  };
  if (transfer->mState == State::eIdle) {
    release(KOVL_WAIT_FLAG_RELEASE_ON_FAIL);
    return Core::Fail(kErrorInvalidParameter);  // nothing was started on it
  }
  if (transfer->mState == State::ePending && timeoutMs != 0) {
    auto done = [&] { return transfer->mState != State::ePending; };
    if (timeoutMs < 0) {
      core.mChanged.wait(lock, done);
    } else {
      core.mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }
  }
  if (transfer->mState == State::ePending) {
    if (!(flags & KOVL_WAIT_FLAG_CANCEL_ON_TIMEOUT)) {
      release(KOVL_WAIT_FLAG_RELEASE_ON_TIMEOUT);
      return Core::Fail(kErrorSemTimeout);
    }
    core.CancelAndWait(lock, {transfer});
    if (transfer->mState == State::ePending) {
      return Core::Fail(kErrorSemTimeout);  // the backend never let go of it
    }
  }
  if (transferredLength) {
    *transferredLength = transfer->mLength;
  }
  if (transfer->mError != kErrorSuccess) {
    release(KOVL_WAIT_FLAG_RELEASE_ON_FAIL);
    return Core::Fail(transfer->mError);
  }
  release(KOVL_WAIT_FLAG_RELEASE_ON_SUCCESS);
  return Core::Succeed();
}

}  // namespace

bool OvlK_Init(KOVL_POOL_HANDLE* pool, KUSB_HANDLE usbHandle, int maxOverlappedCount, unsigned /*flags*/) {
  if (!pool) {
    return Core::Fail(kErrorInvalidParameter);
  }
  *pool = nullptr;
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  if (!Core::Find(core.mDevices, usbHandle) || maxOverlappedCount <= 0 || maxOverlappedCount > kMaxPoolSize) {
    return Core::Fail(kErrorInvalidParameter);
  }
  auto newPool = std::make_shared<COverlappedPool>();
  for (int i = 0; i < maxOverlappedCount; ++i) {
    KOVL_HANDLE handle = core.NewHandle<KOVL_HANDLE>();
    auto transfer = std::make_shared<COverlapped>();
    newPool->mItems.emplace_back(handle, transfer);
    core.mOverlapped.emplace(handle, transfer);
  }
  KOVL_POOL_HANDLE handle = core.NewHandle<KOVL_POOL_HANDLE>();
  core.mPools.emplace(handle, std::move(newPool));
  *pool = handle;
  return Core::Succeed();
}

bool OvlK_Free(KOVL_POOL_HANDLE pool) {
  Core& core = Core::Instance();
  std::unique_lock<std::mutex> lock(core.mMutex);
  if (!Core::Find(core.mPools, pool)) {
    return Core::Fail(kErrorInvalidParameter);
  }
  core.FreePoolLocked(lock, pool);
  return Core::Succeed();
}

bool OvlK_Acquire(KOVL_HANDLE* overlapped, KOVL_POOL_HANDLE pool) {
  if (!overlapped) {
    return Core::Fail(kErrorInvalidParameter);
  }
  *overlapped = nullptr;
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  auto found = Core::Find(core.mPools, pool);
  if (!found) {
    return Core::Fail(kErrorInvalidParameter);
  }
  for (auto& [handle, transfer] : found->mItems) {
    // A handle released while its transfer was in flight returns once it ends.
    if (!transfer->mAcquired && transfer->mState != State::ePending) {
      transfer->mAcquired = true;
      transfer->mState = State::eIdle;
      *overlapped = handle;
      return Core::Succeed();
    }
  }
  return Core::Fail(kErrorNoMoreItems);
}

bool OvlK_Release(KOVL_HANDLE overlapped) {
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  auto transfer = Core::Find(core.mOverlapped, overlapped);
  if (!transfer || !transfer->mAcquired) {
    return Core::Fail(kErrorInvalidParameter);
  }
  transfer->mAcquired = false;
  return Core::Succeed();
}

bool OvlK_ReUse(KOVL_HANDLE overlapped) {
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  auto transfer = Core::Find(core.mOverlapped, overlapped);
  if (!transfer || !transfer->mAcquired || transfer->mState == State::ePending) {
    return Core::Fail(kErrorInvalidParameter);
  }
  transfer->mState = State::eIdle;
  return Core::Succeed();
}

bool OvlK_Wait(KOVL_HANDLE overlapped, int timeoutMs, unsigned waitFlags, unsigned* transferredLength) {
  return Wait(overlapped, timeoutMs, waitFlags, transferredLength);
}

bool OvlK_WaitOrCancel(KOVL_HANDLE overlapped, int timeoutMs, unsigned* transferredLength) {
  return Wait(overlapped, timeoutMs, KOVL_WAIT_FLAG_CANCEL_ON_TIMEOUT, transferredLength);
}

bool OvlK_WaitAndRelease(KOVL_HANDLE overlapped, int timeoutMs, unsigned* transferredLength) {
  return Wait(overlapped, timeoutMs, KOVL_WAIT_FLAG_RELEASE_ALWAYS, transferredLength);
}
