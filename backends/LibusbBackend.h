#pragma once
// The backend that serves real devices through libusb-1.0.
//
// Each backend has its own libusb context and one event thread that handles
// the context's events until the backend is destroyed: every transfer
// completion and every hot-plug report arrives on that thread.
//
// Should libusb fail to start, the backend is still constructed but unusable:
// Usable() is false, ListDevices and Open fail with kErrorDeviceNotConnected
// and no hot-plug event is ever reported.
//
// A device opened through the backend keeps the context (and so the event
// thread) alive, so it may be closed after the backend is gone; once the
// backend and every device opened through it are destroyed, the event thread
// has ended.
//
// Device paths have the form "usb:<bus>-<port>.<port>...", naming the place on
// the bus, so the arrival and the removal of a device, and a device plugged
// into the same port again, carry the same path. List entries and arrival
// notices carry the manufacturer, product and serial number strings, read
// from the device (opened briefly) or, where this user may not open it, from
// sysfs; a removal notice carries those of the device's arrival or listing.
// ListDevices gives the devices in the order of their places on the bus.
//
// A device is open through one backend once at a time: another Open of it
// (another port of this process) fails with kErrorBusy, as another program's
// would.

#include <memory>

#include "UsbBackend.h"

class CLibusbContext;

class CLibusbBackend final : public CUsbBackend {
 public:
  CLibusbBackend();
  ~CLibusbBackend() override;
  CLibusbBackend(const CLibusbBackend&) = delete;
  CLibusbBackend& operator=(const CLibusbBackend&) = delete;

  // False when libusb could not be started.
  bool Usable() const { return mContext != nullptr; }

  uint32_t ListDevices(std::vector<KLST_DEVINFO>& devices) override;
  uint32_t Open(const KLST_DEVINFO& deviceInfo, std::unique_ptr<CUsbDevice>& device) override;
  void SetHotplugSink(HotplugSink sink) override;

 private:
  std::shared_ptr<CLibusbContext> mContext;  // null when unusable
};
