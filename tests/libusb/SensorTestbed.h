#pragma once
// Sensors on an emulated USB bus as the real libusb sees them: the program
// runs under umockdev-wrapper, and this testbed gives it a sysfs entry and a
// device node for each sensor, announces arrivals and removals with uevents,
// and answers the nodes' usbdevfs ioctls from virtual sensors on one virtual
// bus: real-time by default, or on a manual clock that the test advances
// when it needs every frame under its control.
//
// The testbed starts with one sensor (index 0, serial number SKV00001) on
// port 1 of bus 1's root hub; AddSensor puts more on the next ports. Every
// call that takes an index defaults to the first sensor.
//
// One testbed at a time per process. Create it before libusb starts (so that
// libusb finds its sysfs) and destroy it after libusb has ended.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

  // Another sensor, on the next free port, not plugged in yet; its index.
  size_t AddSensor(std::shared_ptr<sim::CVirtualSensor> sensor);
  size_t SensorCount() const { return mSlots.size(); }

  // Plugs a sensor in: a new device number, its sysfs entry and node, then
  // the "add" uevent. Returns false when it is plugged in already.
  bool Plug(size_t index = 0);
  // Pulls it out: its transfers end as on a disconnect, the "remove" uevent
  // goes out and the entry and node disappear. The node's open descriptors
  // fail with ENODEV from then on.
  bool Unplug(size_t index = 0);
  bool Plugged(size_t index = 0) const { return mSlots.at(index).device != nullptr; }

  // Whether this user may open the sensor's node (now and when plugged in
  // again): a node it may not open has no permissions at all, as without the
  // udev rule. Root opens it all the same, except on a thread where
  // CPermissionsHonoured holds.
  void SetOpenPermitted(size_t index, bool permitted);

  const std::shared_ptr<sim::CVirtualBus>& Bus() const { return mBus; }
  const std::shared_ptr<sim::CVirtualSensor>& Sensor(size_t index = 0) const { return mSlots.at(index).sensor; }
  // The usbdevfs side of the device now plugged in, or of the last one.
  const std::shared_ptr<CEmulatedUsbDevice>& Device(size_t index = 0) const { return mSlots.at(index).lastDevice; }
  int DeviceNumber(size_t index = 0) const { return mSlots.at(index).deviceNumber; }
  std::string DeviceNode(size_t index = 0) const;  // /dev/bus/usb/BBB/DDD
  std::string UsbPath(size_t index = 0) const;     // "1-2", the same for every plug
  std::string SysfsPath(size_t index = 0) const;   // /sys/devices/usb1/1-2

 private:
  struct TSlot {
    std::shared_ptr<sim::CVirtualSensor> sensor;
    int port = 0;
    int deviceNumber = 0;
    bool openPermitted = true;
    std::shared_ptr<CEmulatedUsbDevice> device;
    std::shared_ptr<CEmulatedUsbDevice> lastDevice;
  };

  // The node's file in the testbed.
  std::string NodeFile(size_t index) const;
  void ApplyPermission(size_t index) const;

  UMockdevTestbed* mTestbed = nullptr;
  std::shared_ptr<sim::CVirtualBus> mBus;
  std::vector<TSlot> mSlots;
  int mLastDeviceNumber = 1;  // the root hub's; the sensors take the next ones
};

// Whether umockdev's library is preloaded, as umockdev-wrapper does.
bool UnderUmockdev();

// Polls `done` every millisecond until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));
