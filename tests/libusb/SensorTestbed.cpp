#include "SensorTestbed.h"

#include <umockdev.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

// The sensor sits on port 1 of the root hub of bus 1.
constexpr const char* kDevicePath = "/devices/usb1/1-1";

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    out += digits;
  }
  return out;
}

std::string Format(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

[[noreturn]] void Fail(const std::string& what, GError* error) {
  const std::string message = what + ": " + (error ? error->message : "unknown error");
  if (error) g_error_free(error);
  throw std::runtime_error(message);
}

}  // namespace

bool UnderUmockdev() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "libumockdev-preload");
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

CSensorTestbed::CSensorTestbed(sim::CVirtualBus::Clock clock)
    : mTestbed(umockdev_testbed_new()),
      mBus(std::make_shared<sim::CVirtualBus>(clock)),
      mSensor(std::make_shared<sim::CVirtualSensor>()) {}

CSensorTestbed::~CSensorTestbed() {
  try {
    Unplug();
  } catch (const std::exception&) {
    // The testbed goes anyway.
  }
  mLastDevice.reset();
  g_object_unref(mTestbed);
}

std::string CSensorTestbed::SysfsPath() { return std::string("/sys") + kDevicePath; }

std::string CSensorTestbed::DeviceNode() const {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", kBusNumber, mDeviceNumber);
  return node;
}

bool CSensorTestbed::Plug() {
  if (mDevice) return false;
  const uint32_t connection = mBus->Plug(mSensor);
  if (connection == 0) return false;
  ++mDeviceNumber;
  const sim::DeviceDescription& d = mSensor->Description();
  auto device = std::make_shared<CEmulatedUsbDevice>(mBus, connection, d);
  device->Start();

  // The node answers before anyone hears of it.
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(mTestbed, DeviceNode().c_str(), device->Handler(), &error)) {
    Fail("attaching the device node", error);
  }

  const std::string node = DeviceNode().substr(5);  // without "/dev/"
  const std::string vendor = Format("%04x", d.vendorId);
  const std::string product = Format("%04x", d.productId);
  const std::string record = std::string("P: ") + kDevicePath + "\n" +
                             "N: " + node + "\n"
                             "E: SUBSYSTEM=usb\n"
                             "E: DEVTYPE=usb_device\n"
                             "E: DRIVER=usb\n"
                             "E: DEVNAME=/dev/" + node + "\n" +
                             "E: BUSNUM=" + Format("%03u", kBusNumber) + "\n" +
                             "E: DEVNUM=" + Format("%03u", mDeviceNumber) + "\n" +
                             "E: PRODUCT=" + Format("%x", d.vendorId) + "/" + Format("%x", d.productId) + "/100\n" +
                             "E: ID_VENDOR_ID=" + vendor + "\n" +
                             "E: ID_MODEL_ID=" + product + "\n" +
                             "E: ID_SERIAL_SHORT=" + d.serialNumber + "\n" +
                             "A: busnum=" + Format("%u", kBusNumber) + "\\n\n" +
                             "A: devnum=" + Format("%u", mDeviceNumber) + "\\n\n" +
                             "A: speed=12\\n\n"
                             "A: idVendor=" + vendor + "\\n\n" +
                             "A: idProduct=" + product + "\\n\n" +
                             "A: bConfigurationValue=1\\n\n"
                             "A: bNumConfigurations=1\\n\n"
                             "A: manufacturer=" + d.manufacturer + "\\n\n" +
                             "A: product=" + d.description + "\\n\n" +
                             "A: serial=" + d.serialNumber + "\\n\n" +
                             "H: descriptors=" + Hex(CEmulatedUsbDevice::Descriptors(d)) + "\n";
  if (!umockdev_testbed_add_from_string(mTestbed, record.c_str(), &error)) {
    Fail("adding the device", error);
  }
  mDevice = device;
  mLastDevice = device;
  umockdev_testbed_uevent(mTestbed, SysfsPath().c_str(), "add");
  return true;
}

bool CSensorTestbed::Unplug() {
  if (!mDevice) return false;
  mDevice->Disconnect();
  mBus->Unplug(mSensor);  // transfers in flight end as on a disconnect
  umockdev_testbed_uevent(mTestbed, SysfsPath().c_str(), "remove");
  GError* error = nullptr;
  if (!umockdev_testbed_detach_ioctl(mTestbed, DeviceNode().c_str(), &error)) {
    Fail("detaching the device node", error);
  }
  umockdev_testbed_remove_device(mTestbed, SysfsPath().c_str());
  // The node goes with the device.
  char* root = umockdev_testbed_get_root_dir(mTestbed);
  std::error_code ignored;
  std::filesystem::remove(std::string(root) + DeviceNode(), ignored);
  g_free(root);
  mDevice.reset();
  return true;
}
