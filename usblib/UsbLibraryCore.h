#pragma once
// The layer's shared state behind the LstK_, UsbK_, OvlK_, IsoK_ and HotK_
// calls: the backend, a table per kind of handle, the transfers in flight
// and the hot-plug dispatcher. One mutex guards it all; it is never held
// while a backend or a callback runs.
//
// Handles are numbers, never addresses: a freed handle is never handed out
// again, so a stale one is recognised rather than dereferenced.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "HotplugDispatcher.h"
#include "UsbBackend.h"
#include "UsbLibrary.h"

class COpenDevice;

class COverlapped final : public CUsbTransfer {
 public:
  enum class State { eIdle, ePending, eDone };

  State mState = State::eIdle;
  uint32_t mError = 0;
  uint32_t mLength = 0;
  bool mAcquired = false;                // handed out by OvlK_Acquire and not yet released
  std::shared_ptr<COpenDevice> mDevice;  // the device of the transfer in flight

  void Complete(uint32_t errorCode, uint32_t bytesTransferred) override;
};

class COverlappedPool {
 public:
  std::vector<std::pair<KOVL_HANDLE, std::shared_ptr<COverlapped>>> mItems;
};

class COpenDevice {
 public:
  std::unique_ptr<CUsbDevice> mDevice;
  int mBusy = 0;  // backend calls in progress on mDevice
};

class CDeviceList {
 public:
  std::vector<KLST_DEVINFO> mEntries;
  size_t mNext = 0;  // the entry LstK_MoveNext hands out next
};

class CUsbLibraryCore {
 public:
  // Never destroyed, so that the layer outlives every static object that
  // still frees its handles during static destruction.
  static CUsbLibraryCore& Instance();

  static bool Fail(uint32_t errorCode) {
    SetLastError(errorCode);
    return false;
  }
  static bool Succeed() {
    SetLastError(kErrorSuccess);
    return true;
  }

  template <typename Handle>
  Handle NewHandle() {
    mNextId += 0x10;
    return reinterpret_cast<Handle>(mNextId);
  }

  template <typename Handle, typename Object>
  static std::shared_ptr<Object> Find(const std::map<Handle, std::shared_ptr<Object>>& table, Handle handle) {
    auto it = table.find(handle);
    return it == table.end() ? nullptr : it->second;
  }

  // Runs one backend call on an open device, outside the lock, keeping the
  // device from being closed meanwhile. Returns the backend's error code, or
  // kErrorInvalidParameter for an unknown handle.
  template <typename Call>
  uint32_t CallDevice(KUSB_HANDLE handle, Call call) {
    std::shared_ptr<COpenDevice> device;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      device = Find(mDevices, handle);
      if (!device) {
        return kErrorInvalidParameter;
      }
      ++device->mBusy;
    }
    const uint32_t error = call(*device->mDevice);
    EndCall(*device);
    return error;
  }
  void EndCall(COpenDevice& device);

  // Cancels the given transfers and waits until each has completed, so that
  // none touches its buffer afterwards. Called and returns with `lock` held.
  bool CancelAndWait(std::unique_lock<std::mutex>& lock, std::vector<std::shared_ptr<COverlapped>> transfers);
  // The transfers in flight that `select` picks.
  template <typename Select>
  std::vector<std::shared_ptr<COverlapped>> InFlight(Select select) const {
    std::vector<std::shared_ptr<COverlapped>> found;
    for (const auto& [raw, transfer] : mInFlight) {
      if (select(*transfer)) {
        found.push_back(transfer);
      }
    }
    return found;
  }

  void FreePoolLocked(std::unique_lock<std::mutex>& lock, KOVL_POOL_HANDLE pool);
  void FreeDeviceLocked(std::unique_lock<std::mutex>& lock, KUSB_HANDLE handle);
  void ReplaceBackend(std::shared_ptr<CUsbBackend> backend);

  std::mutex mMutex;
  std::condition_variable mChanged;  // a transfer completed or a device call ended
  std::shared_ptr<CUsbBackend> mBackend;
  std::map<KLST_HANDLE, std::shared_ptr<CDeviceList>> mLists;
  std::map<KUSB_HANDLE, std::shared_ptr<COpenDevice>> mDevices;
  std::map<KOVL_POOL_HANDLE, std::shared_ptr<COverlappedPool>> mPools;
  std::map<KOVL_HANDLE, std::shared_ptr<COverlapped>> mOverlapped;
  std::map<COverlapped*, std::shared_ptr<COverlapped>> mInFlight;
  std::set<KISO_CONTEXT*> mIsoContexts;
  std::set<KHOT_HANDLE> mMonitors;
  CHotplugDispatcher mHotplug;

 private:
  CUsbLibraryCore() = default;
  uintptr_t mNextId = 0x10000;
};
