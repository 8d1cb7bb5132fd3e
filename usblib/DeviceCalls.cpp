// Device handle, interface and pipe calls.

#include "UsbLibraryCore.h"

namespace {

using Core = CUsbLibraryCore;

bool Result(uint32_t error) { return error ? Core::Fail(error) : Core::Succeed(); }

}  // namespace

bool UsbK_Init(KUSB_HANDLE* usbHandle, KLST_DEVINFO_HANDLE deviceInfo) {
  if (!usbHandle) {
    return Core::Fail(kErrorInvalidParameter);
  }
  *usbHandle = nullptr;
  Core& core = Core::Instance();
  KLST_DEVINFO info;
  std::shared_ptr<CUsbBackend> backend;
  {
    // The entry must belong to a list that is still alive: it is compared by
    // address, never read before that.
    std::lock_guard<std::mutex> lock(core.mMutex);
    bool known = false;
    for (const auto& [handle, list] : core.mLists) {
      for (const KLST_DEVINFO& entry : list->mEntries) {
        if (&entry == deviceInfo) {
          known = true;
          info = entry;
        }
      }
    }
    if (!known) {
      return Core::Fail(kErrorInvalidParameter);
    }
    backend = core.mBackend;
  }
  if (!backend) {
    return Core::Fail(kErrorDeviceNotConnected);
  }
  auto device = std::make_shared<COpenDevice>();
  if (uint32_t error = backend->Open(info, device->mDevice)) {
    return Core::Fail(error);
  }
  std::lock_guard<std::mutex> lock(core.mMutex);
  KUSB_HANDLE handle = core.NewHandle<KUSB_HANDLE>();
  core.mDevices.emplace(handle, std::move(device));
  *usbHandle = handle;
  return Core::Succeed();
}

bool UsbK_Free(KUSB_HANDLE usbHandle) {
  Core& core = Core::Instance();
  std::unique_lock<std::mutex> lock(core.mMutex);
  if (!Core::Find(core.mDevices, usbHandle)) {
    return Core::Fail(kErrorInvalidParameter);
  }
  core.FreeDeviceLocked(lock, usbHandle);
  return Core::Succeed();
}

bool UsbK_SelectInterface(KUSB_HANDLE usbHandle, uint8_t numberOrIndex, bool isIndex) {
  return Result(Core::Instance().CallDevice(
      usbHandle, [&](CUsbDevice& device) { return device.SelectInterface(numberOrIndex, isIndex); }));
}

bool UsbK_QueryInterfaceSettings(KUSB_HANDLE usbHandle, uint8_t altSettingIndex, USB_INTERFACE_DESCRIPTOR* descriptor) {
  if (!descriptor) {
    return Core::Fail(kErrorInvalidParameter);
  }
  return Result(Core::Instance().CallDevice(
      usbHandle, [&](CUsbDevice& device) { return device.QueryInterfaceSettings(altSettingIndex, *descriptor); }));
}

bool UsbK_SetAltInterface(KUSB_HANDLE usbHandle, uint8_t numberOrIndex, bool isIndex, uint8_t altSettingNumber) {
  return Result(Core::Instance().CallDevice(usbHandle, [&](CUsbDevice& device) {
    return device.SetAltInterface(numberOrIndex, isIndex, altSettingNumber);
  }));
}

bool UsbK_QueryPipe(KUSB_HANDLE usbHandle, uint8_t altSettingNumber, uint8_t pipeIndex,
                    WINUSB_PIPE_INFORMATION* pipeInfo) {
  if (!pipeInfo) {
    return Core::Fail(kErrorInvalidParameter);
  }
  return Result(Core::Instance().CallDevice(
      usbHandle, [&](CUsbDevice& device) { return device.QueryPipe(altSettingNumber, pipeIndex, *pipeInfo); }));
}

bool UsbK_GetCurrentFrameNumber(KUSB_HANDLE usbHandle, unsigned* frameNumber) {
  if (!frameNumber) {
    return Core::Fail(kErrorInvalidParameter);
  }
  return Result(Core::Instance().CallDevice(usbHandle, [&](CUsbDevice& device) {
    uint32_t frame = 0;
    const uint32_t error = device.GetCurrentFrameNumber(frame);
    *frameNumber = frame;
    return error;
  }));
}

bool UsbK_ResetPipe(KUSB_HANDLE usbHandle, uint8_t pipeId) {
  return Result(Core::Instance().CallDevice(usbHandle, [&](CUsbDevice& device) { return device.ResetPipe(pipeId); }));
}

bool UsbK_AbortPipe(KUSB_HANDLE usbHandle, uint8_t pipeId) {
  Core& core = Core::Instance();
  {
    std::unique_lock<std::mutex> lock(core.mMutex);
    auto device = Core::Find(core.mDevices, usbHandle);
    if (!device) {
      return Core::Fail(kErrorInvalidParameter);
    }
    // Every transfer in flight on the pipe has ended when this returns.
    core.CancelAndWait(lock,
                       core.InFlight([&](const COverlapped& t) { return t.mDevice == device && t.pipeId == pipeId; }));
  }
  return Result(core.CallDevice(usbHandle, [&](CUsbDevice& device) { return device.AbortPipe(pipeId); }));
}
