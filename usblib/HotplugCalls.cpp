// Hot-plug monitors.

#include "UsbLibraryCore.h"

namespace {
using Core = CUsbLibraryCore;
}

bool HotK_Init(KHOT_HANDLE* hotHandle, KHOT_PARAMS* params) {
  if (!hotHandle) {
    return Core::Fail(kErrorInvalidParameter);
  }
  *hotHandle = nullptr;
  if (!params || !params->OnHotPlug) {
    return Core::Fail(kErrorInvalidParameter);
  }
  std::shared_ptr<CUsbBackend> backend = UsbLib_GetBackend();
  if (!backend) {
    return Core::Fail(kErrorDeviceNotConnected);
  }
  std::vector<KLST_DEVINFO> present;
  if (params->Flags & KHOT_FLAG_PLUG_ALL_ON_INIT) {
    if (uint32_t error = backend->ListDevices(present)) {
      return Core::Fail(error);
    }
  }
  Core& core = Core::Instance();
  KHOT_HANDLE handle;
  {
    std::lock_guard<std::mutex> lock(core.mMutex);
    handle = core.NewHandle<KHOT_HANDLE>();
    core.mMonitors.insert(handle);
  }
  core.mHotplug.Add(handle, *params, present);
  *hotHandle = handle;
  return Core::Succeed();
}

bool HotK_Free(KHOT_HANDLE hotHandle) {
  Core& core = Core::Instance();
  {
    std::lock_guard<std::mutex> lock(core.mMutex);
    if (core.mMonitors.erase(hotHandle) == 0) {
      return Core::Fail(kErrorInvalidParameter);
    }
  }
  core.mHotplug.Remove(hotHandle);
  return Core::Succeed();
}
