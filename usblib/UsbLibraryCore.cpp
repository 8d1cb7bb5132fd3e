#include "UsbLibraryCore.h"

#include <chrono>

namespace {
// Every backend ends a cancelled transfer promptly; this only bounds the wait
// should one ever fail to.
constexpr auto kCancelLimit = std::chrono::seconds(5);
}  // namespace

CUsbLibraryCore& CUsbLibraryCore::Instance() {
  static CUsbLibraryCore* core = new CUsbLibraryCore;
  return *core;
}

void COverlapped::Complete(uint32_t errorCode, uint32_t bytesTransferred) {
  CUsbLibraryCore& core = CUsbLibraryCore::Instance();
  std::shared_ptr<COverlapped> self;  // released after the lock, possibly the last reference
  std::shared_ptr<COpenDevice> device;
  {
    std::lock_guard<std::mutex> lock(core.mMutex);
    if (mState != State::ePending) {
      return;
    }
    if (errorCode == kErrorOperationAborted) {
      // A cancelled transfer delivers nothing, whatever reached its buffer.
      bytesTransferred = 0;
      if (isoContext) {
        for (int i = 0; i < isoContext->NumberOfPackets; ++i) {
          isoContext->IsoPackets[i].Length = 0;
        }
      }
    }
    mError = errorCode;
    mLength = bytesTransferred;
    mState = State::eDone;
    device = std::move(mDevice);
    auto it = core.mInFlight.find(this);
    if (it != core.mInFlight.end()) {
      self = std::move(it->second);
      core.mInFlight.erase(it);
    }
  }
  core.mChanged.notify_all();
}

void CUsbLibraryCore::EndCall(COpenDevice& device) {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    --device.mBusy;
  }
  mChanged.notify_all();
}

bool CUsbLibraryCore::CancelAndWait(std::unique_lock<std::mutex>& lock,
                                    std::vector<std::shared_ptr<COverlapped>> transfers) {
  const auto deadline = std::chrono::steady_clock::now() + kCancelLimit;
  while (true) {
    std::erase_if(transfers, [](const auto& t) { return t->mState != COverlapped::State::ePending; });
    if (transfers.empty()) {
      return true;
    }
    std::vector<std::pair<std::shared_ptr<COpenDevice>, std::shared_ptr<COverlapped>>> calls;
    for (const auto& t : transfers) {
      if (t->mDevice) {
        ++t->mDevice->mBusy;
        calls.emplace_back(t->mDevice, t);
      }
    }
    lock.unlock();
    for (auto& [device, transfer] : calls) {
      device->mDevice->Cancel(*transfer);
    }
    lock.lock();
    for (auto& [device, transfer] : calls) {
      --device->mBusy;
    }
    mChanged.notify_all();
    // A transfer still on its way into the backend is cancelled on the next
    // round, once the backend knows it.
    mChanged.wait_for(lock, std::chrono::milliseconds(10), [&] {
      for (const auto& t : transfers) {
        if (t->mState == COverlapped::State::ePending) return false;
      }
      return true;
    });
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
  }
}

void CUsbLibraryCore::FreePoolLocked(std::unique_lock<std::mutex>& lock, KOVL_POOL_HANDLE handle) {
  auto pool = Find(mPools, handle);
  if (!pool) {
    return;
  }
  mPools.erase(handle);
  std::vector<std::shared_ptr<COverlapped>> transfers;
  for (const auto& [ovlHandle, overlapped] : pool->mItems) {
    mOverlapped.erase(ovlHandle);
    transfers.push_back(overlapped);
  }
  // Threads still waiting on these handles wake up with the cancellation.
  CancelAndWait(lock, std::move(transfers));
}

void CUsbLibraryCore::FreeDeviceLocked(std::unique_lock<std::mutex>& lock, KUSB_HANDLE handle) {
  auto device = Find(mDevices, handle);
  if (!device) {
    return;
  }
  mDevices.erase(handle);
  const bool ended =
      CancelAndWait(lock, InFlight([&](const COverlapped& t) { return t.mDevice == device; })) &&
      mChanged.wait_for(lock, kCancelLimit, [&] { return device->mBusy == 0; });
  if (ended) {
    std::unique_ptr<CUsbDevice> closing = std::move(device->mDevice);
    lock.unlock();
    closing.reset();
    lock.lock();
  }
  // Otherwise the device stays open until its last transfer lets go of it.
}

void CUsbLibraryCore::ReplaceBackend(std::shared_ptr<CUsbBackend> backend) {
  mHotplug.RemoveAll();
  std::shared_ptr<CUsbBackend> old;
  {
    std::unique_lock<std::mutex> lock(mMutex);
    old = std::move(mBackend);
    mMonitors.clear();
    while (!mPools.empty()) {
      FreePoolLocked(lock, mPools.begin()->first);
    }
    while (!mDevices.empty()) {
      FreeDeviceLocked(lock, mDevices.begin()->first);
    }
    mLists.clear();
    // Isochronous contexts are the caller's memory, not the backend's: the
    // pipes that hold them free them with IsoK_Free when they detach.
  }
  if (old) {
    old->SetHotplugSink(nullptr);
  }
  mHotplug.Flush(1000);
  if (backend) {
    backend->SetHotplugSink(
        [this](const KLST_DEVINFO& info, KLST_SYNC_FLAG change) { mHotplug.Post(info, change); });
  }
  std::lock_guard<std::mutex> lock(mMutex);
  mBackend = std::move(backend);
}

void UsbLib_SetBackend(std::shared_ptr<CUsbBackend> backend) {
  CUsbLibraryCore::Instance().ReplaceBackend(std::move(backend));
}

std::shared_ptr<CUsbBackend> UsbLib_GetBackend() {
  CUsbLibraryCore& core = CUsbLibraryCore::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  return core.mBackend;
}

bool UsbLib_FlushHotplug(int timeoutMs) { return CUsbLibraryCore::Instance().mHotplug.Flush(timeoutMs); }
