#pragma once
// The sensor on an emulated USB bus as the real libusb sees it: the program
// runs under umockdev-wrapper, and this testbed gives it a sysfs entry and a
// device node for the sensor, announces arrivals and removals with uevents,
// and answers the node's usbdevfs ioctls from the virtual sensor on a
// virtual bus: real-time by default, or on a manual clock that the test
// advances when it needs every frame under its control.
//
// One testbed at a time per process. Create it before libusb starts (so that
// libusb finds its sysfs) and destroy it after libusb has ended.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "EmulatedUsbDevice.h"
#include "VirtualBus.h"
#include "VirtualSensor.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

class CSensorTestbed {
 public:
  static constexpr int kBusNumber = 1;

  explicit CSensorTestbed(sim::CVirtualBus::Clock clock = sim::CVirtualBus::Clock::eRealTime);
  ~CSensorTestbed();
  CSensorTestbed(const CSensorTestbed&) = delete;
  CSensorTestbed& operator=(const CSensorTestbed&) = delete;

  // Plugs the sensor in: a new device number, its sysfs entry and node, then
  // the "add" uevent. Returns false when it is plugged in already.
  bool Plug();
  // Pulls it out: its transfers end as on a disconnect, the "remove" uevent
  // goes out and the entry and node disappear. The node's open descriptors
  // fail with ENODEV from then on.
  bool Unplug();
  bool Plugged() const { return mDevice != nullptr; }

  const std::shared_ptr<sim::CVirtualBus>& Bus() const { return mBus; }
  const std::shared_ptr<sim::CVirtualSensor>& Sensor() const { return mSensor; }
  // The usbdevfs side of the device now plugged in, or of the last one.
  const std::shared_ptr<CEmulatedUsbDevice>& Device() const { return mLastDevice; }
  int DeviceNumber() const { return mDeviceNumber; }
  std::string DeviceNode() const;  // /dev/bus/usb/BBB/DDD
  static std::string SysfsPath();   // /sys/devices/..., the same for every plug

 private:
  UMockdevTestbed* mTestbed = nullptr;
  std::shared_ptr<sim::CVirtualBus> mBus;
  std::shared_ptr<sim::CVirtualSensor> mSensor;
  std::shared_ptr<CEmulatedUsbDevice> mDevice;
  std::shared_ptr<CEmulatedUsbDevice> mLastDevice;
  int mDeviceNumber = 1;  // the root hub's; the sensor takes the next ones
};

// Whether umockdev's library is preloaded, as umockdev-wrapper does.
bool UnderUmockdev();

// Polls `done` every millisecond until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));
