// Device list calls.

#include "UsbLibraryCore.h"

namespace {
using Core = CUsbLibraryCore;
}

bool LstK_Init(KLST_HANDLE* deviceList, unsigned /*flags*/) {
  if (!deviceList) {
    return Core::Fail(kErrorInvalidParameter);
  }
  *deviceList = nullptr;
  Core& core = Core::Instance();
  std::shared_ptr<CUsbBackend> backend = UsbLib_GetBackend();
  if (!backend) {
    return Core::Fail(kErrorDeviceNotConnected);
  }
  auto list = std::make_shared<CDeviceList>();
  if (uint32_t error = backend->ListDevices(list->mEntries)) {
    return Core::Fail(error);
  }
  std::lock_guard<std::mutex> lock(core.mMutex);
  KLST_HANDLE handle = core.NewHandle<KLST_HANDLE>();
  core.mLists.emplace(handle, std::move(list));
  *deviceList = handle;
  return Core::Succeed();
}

bool LstK_Count(KLST_HANDLE deviceList, unsigned* count) {
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  auto list = Core::Find(core.mLists, deviceList);
  if (!list || !count) {
    return Core::Fail(kErrorInvalidParameter);
  }
  *count = static_cast<unsigned>(list->mEntries.size());
  return Core::Succeed();
}

bool LstK_FindByVidPid(KLST_HANDLE deviceList, int vid, int pid, KLST_DEVINFO_HANDLE* deviceInfo) {
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  auto list = Core::Find(core.mLists, deviceList);
  if (!list || !deviceInfo) {
    return Core::Fail(kErrorInvalidParameter);
  }
  *deviceInfo = nullptr;
  for (KLST_DEVINFO& entry : list->mEntries) {
    if (entry.Common.Vid == vid && entry.Common.Pid == pid) {
      *deviceInfo = &entry;
      return Core::Succeed();
    }
  }
  return Core::Fail(kErrorNoMoreItems);
}

bool LstK_MoveNext(KLST_HANDLE deviceList, KLST_DEVINFO_HANDLE* deviceInfo) {
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  auto list = Core::Find(core.mLists, deviceList);
  if (!list || !deviceInfo) {
    return Core::Fail(kErrorInvalidParameter);
  }
  if (list->mNext >= list->mEntries.size()) {
    *deviceInfo = nullptr;
    return Core::Fail(kErrorNoMoreItems);
  }
  *deviceInfo = &list->mEntries[list->mNext++];
  return Core::Succeed();
}

bool LstK_MoveReset(KLST_HANDLE deviceList) {
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  auto list = Core::Find(core.mLists, deviceList);
  if (!list) {
    return Core::Fail(kErrorInvalidParameter);
  }
  list->mNext = 0;
  return Core::Succeed();
}

bool LstK_Free(KLST_HANDLE deviceList) {
  Core& core = Core::Instance();
  std::lock_guard<std::mutex> lock(core.mMutex);
  if (core.mLists.erase(deviceList) == 0) {
    return Core::Fail(kErrorInvalidParameter);
  }
  return Core::Succeed();
}
