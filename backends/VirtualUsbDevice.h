#pragma once
// An open device on the virtual bus. It stays bound to the connection it was
// opened on: once that device is unplugged, every operation reports
// kErrorDeviceNotConnected, even after the device is plugged in again.
// While it is open it holds its connection's claim, so that a second open of
// the same device is refused as busy, as the kernel refuses a second program
// the interface another has claimed.

#include <memory>

#include "DeviceClaims.h"
#include "UsbBackend.h"
#include "VirtualBus.h"

class CVirtualUsbDevice final : public CUsbDevice {
 public:
  // The connection must have been claimed in `claims`; the device releases it.
  CVirtualUsbDevice(std::shared_ptr<sim::CVirtualBus> bus, const sim::BusConnection& connection,
                    std::shared_ptr<CDeviceClaims> claims);
  ~CVirtualUsbDevice() override;

  uint32_t SelectInterface(uint8_t numberOrIndex, bool isIndex) override;
  uint32_t QueryInterfaceSettings(uint8_t altSettingIndex, USB_INTERFACE_DESCRIPTOR& descriptor) override;
  uint32_t SetAltInterface(uint8_t numberOrIndex, bool isIndex, uint8_t altSettingNumber) override;
  uint32_t QueryPipe(uint8_t altSettingNumber, uint8_t pipeIndex, WINUSB_PIPE_INFORMATION& info) override;
  uint32_t ResetPipe(uint8_t pipeId) override;
  uint32_t AbortPipe(uint8_t pipeId) override;
  uint32_t GetCurrentFrameNumber(uint32_t& frameNumber) override;
  uint32_t Submit(CUsbTransfer& transfer) override;
  void Cancel(CUsbTransfer& transfer) override;

 private:
  bool Connected() const { return mBus->IsConnected(mConnection); }
  bool MatchesInterface(uint8_t numberOrIndex, bool isIndex) const;

  std::shared_ptr<sim::CVirtualBus> mBus;
  uint32_t mConnection;
  std::shared_ptr<CDeviceClaims> mClaims;
  sim::DeviceDescription mDescription;
};
