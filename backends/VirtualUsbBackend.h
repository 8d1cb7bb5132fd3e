#pragma once
// The backend that serves the virtual sensor: the devices of an in-process
// virtual USB bus, with the bus's frame clock and its hot-plug events.

#include <memory>
#include <mutex>

#include "UsbBackend.h"
#include "VirtualBus.h"
#include "VirtualUsbDevice.h"

class CVirtualUsbBackend final : public CUsbBackend {
 public:
  explicit CVirtualUsbBackend(std::shared_ptr<sim::CVirtualBus> bus);
  ~CVirtualUsbBackend() override;

  uint32_t ListDevices(std::vector<KLST_DEVINFO>& devices) override;
  uint32_t Open(const KLST_DEVINFO& deviceInfo, std::unique_ptr<CUsbDevice>& device) override;
  void SetHotplugSink(HotplugSink sink) override;

  // The list entry of a device on the bus. Its device path names the bus port,
  // so a device plugged into the same port again has the same path.
  static KLST_DEVINFO DeviceInfo(const sim::BusConnection& connection);

  const std::shared_ptr<sim::CVirtualBus>& Bus() const { return mBus; }

  // The next `count` opens fail with `error`, as when another program has
  // claimed the device (kErrorBusy) or this user may not open it
  // (kErrorAccessDenied).
  void RefuseOpens(unsigned count, uint32_t error);

 private:
  std::shared_ptr<sim::CVirtualBus> mBus;
  // A device is open once at a time: another open finds it busy.
  std::shared_ptr<CDeviceClaims> mClaims = std::make_shared<CDeviceClaims>();
  int mListener = 0;
  std::mutex mRefusalMutex;
  unsigned mRefusedOpens = 0;
  uint32_t mRefusal = kErrorSuccess;
  std::mutex mSinkMutex;
  HotplugSink mSink;
};
