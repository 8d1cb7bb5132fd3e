#pragma once
// A device opened through libusb-1.0, with its first interface claimed.
//
// The queries answer from the active configuration descriptor read at open.
// libusb can neither read the bus's frame counter nor start an isochronous
// transfer at a given frame: the frame number is a millisecond clock started
// at open, and isochronous reads are queued to go as soon as possible (the
// context's StartFrame is not used).
//
// Once the device is known to be gone (a removal report, or any libusb call
// or transfer that found no device), every operation fails with
// kErrorDeviceNotConnected.

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "DeviceClaims.h"
#include "UsbBackend.h"

// What a device needs of the libusb context it was opened in.
class CLibusbSession {
 public:
  virtual ~CLibusbSession() = default;
  // True on the thread that handles the context's events.
  virtual bool OnEventThread() const = 0;
  // From the event thread: runs `work` there once the current round of event
  // handling is over, when libusb calls that would wait for it are safe.
  virtual void AfterEvents(std::function<void()> work) = 0;
};

class CLibusbDevice final : public CUsbDevice {
 public:
  // Opens `device` and claims its first interface. `session` is kept alive
  // as long as the device; `gone` is the flag through which the owner of the
  // session reports the device's removal. The device is held in `claims`
  // while it is open: one that is held already is refused with kErrorBusy
  // before the kernel is asked (which refuses a second claim of one process
  // only on some systems).
  static uint32_t Open(libusb_device* device, std::shared_ptr<CLibusbSession> session,
                       std::shared_ptr<std::atomic<bool>> gone, std::shared_ptr<CDeviceClaims> claims,
                       std::unique_ptr<CUsbDevice>& opened);
  // Closes the device; from the event thread (the last completion let go of
  // it), the handle is closed once the current round of events is over.
  ~CLibusbDevice() override;
  CLibusbDevice(const CLibusbDevice&) = delete;
  CLibusbDevice& operator=(const CLibusbDevice&) = delete;

  uint32_t SelectInterface(uint8_t numberOrIndex, bool isIndex) override;
  uint32_t QueryInterfaceSettings(uint8_t altSettingIndex, USB_INTERFACE_DESCRIPTOR& descriptor) override;
  uint32_t SetAltInterface(uint8_t numberOrIndex, bool isIndex, uint8_t altSettingNumber) override;
  uint32_t QueryPipe(uint8_t altSettingNumber, uint8_t pipeIndex, WINUSB_PIPE_INFORMATION& info) override;
  uint32_t ResetPipe(uint8_t pipeId) override;
  uint32_t AbortPipe(uint8_t pipeId) override;
  uint32_t GetCurrentFrameNumber(uint32_t& frameNumber) override;
  uint32_t Submit(CUsbTransfer& transfer) override;
  void Cancel(CUsbTransfer& transfer) override;

  // The system error code for a libusb error (a negative libusb return).
  static uint32_t ErrorCode(int libusbError);

 private:
  CLibusbDevice(std::shared_ptr<CLibusbSession> session, libusb_device_handle* handle, libusb_config_descriptor* config,
                std::shared_ptr<std::atomic<bool>> gone, std::shared_ptr<CDeviceClaims> claims, uint32_t claim);

  bool Gone() const { return mGone->load(); }
  // Maps a libusb result, noting a device that is no longer there.
  uint32_t Result(int libusbResult);
  bool MatchesInterface(uint8_t numberOrIndex, bool isIndex) const;
  const libusb_interface_descriptor* AltSetting(uint8_t altSettingNumber) const;
  // The endpoint of the current alternate setting, or null.
  const libusb_endpoint_descriptor* Endpoint(uint8_t address) const;

  std::shared_ptr<CLibusbSession> mSession;  // first member: released last
  libusb_device_handle* mHandle;
  libusb_config_descriptor* mConfig;
  const libusb_interface& mInterface;
  const uint64_t mId;  // tells this device's transfers from those filled by a device closed before
  std::shared_ptr<std::atomic<bool>> mGone;
  std::shared_ptr<CDeviceClaims> mClaims;
  const uint32_t mClaim;  // released once the handle is closed
  std::atomic<uint8_t> mAltSetting;
  const std::chrono::steady_clock::time_point mOpened;
};
