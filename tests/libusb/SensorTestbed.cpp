#include "SensorTestbed.h"

#include <umockdev.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

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
    : mTestbed(umockdev_testbed_new()), mBus(std::make_shared<sim::CVirtualBus>(clock)) {
  AddSensor(std::make_shared<sim::CVirtualSensor>());
}

CSensorTestbed::~CSensorTestbed() {
  for (size_t i = 0; i < mSlots.size(); ++i) {
    try {
      Unplug(i);
    } catch (const std::exception&) {
      // The testbed goes anyway.
    }
    mSlots[i].lastDevice.reset();
  }
  g_object_unref(mTestbed);
}

size_t CSensorTestbed::AddSensor(std::shared_ptr<sim::CVirtualSensor> sensor) {
  TSlot slot;
  slot.sensor = std::move(sensor);
  slot.port = mSlots.empty() ? 1 : mSlots.back().port + 1;
  mSlots.push_back(std::move(slot));
  return mSlots.size() - 1;
}

std::string CSensorTestbed::UsbPath(size_t index) const {
  return std::to_string(kBusNumber) + "-" + std::to_string(mSlots.at(index).port);
}

std::string CSensorTestbed::SysfsPath(size_t index) const {
  return "/sys/devices/usb" + std::to_string(kBusNumber) + "/" + UsbPath(index);
}

std::string CSensorTestbed::DeviceNode(size_t index) const {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", kBusNumber, mSlots.at(index).deviceNumber);
  return node;
}

std::string CSensorTestbed::NodeFile(size_t index) const {
  char* root = umockdev_testbed_get_root_dir(mTestbed);
  const std::string file = std::string(root) + DeviceNode(index);
  g_free(root);
  return file;
}

void CSensorTestbed::SetOpenPermitted(size_t index, bool permitted) {
  mSlots.at(index).openPermitted = permitted;
  if (Plugged(index)) ApplyPermission(index);
}

void CSensorTestbed::ApplyPermission(size_t index) const {
  using std::filesystem::perms;
  // Set outright (umockdev makes its nodes 0644): its stat wrapper is not
  // to be trusted with a file's mode.
  const perms mode = mSlots.at(index).openPermitted
                         ? perms::owner_read | perms::owner_write | perms::group_read | perms::others_read
                         : perms::none;
  std::error_code error;
  std::filesystem::permissions(NodeFile(index), mode, std::filesystem::perm_options::replace, error);
  if (error) throw std::runtime_error("setting the permissions of " + DeviceNode(index) + ": " + error.message());
}

bool CSensorTestbed::Plug(size_t index) {
  TSlot& slot = mSlots.at(index);
  if (slot.device) return false;
  const uint32_t connection = mBus->Plug(slot.sensor);
  if (connection == 0) return false;
  slot.deviceNumber = ++mLastDeviceNumber;
  const sim::DeviceDescription& d = slot.sensor->Description();
  auto device = std::make_shared<CEmulatedUsbDevice>(mBus, connection, d);
  device->Start();

  // The node answers before anyone hears of it.
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(mTestbed, DeviceNode(index).c_str(), device->Handler(), &error)) {
    Fail("attaching the device node", error);
  }

  const std::string node = DeviceNode(index).substr(5);  // without "/dev/"
  const std::string vendor = Format("%04x", d.vendorId);
  const std::string product = Format("%04x", d.productId);
  const std::string record = "P: " + SysfsPath(index).substr(4) + "\n" +
                             "N: " + node + "\n"
                             "E: SUBSYSTEM=usb\n"
                             "E: DEVTYPE=usb_device\n"
                             "E: DRIVER=usb\n"
                             "E: DEVNAME=/dev/" + node + "\n" +
                             "E: BUSNUM=" + Format("%03u", kBusNumber) + "\n" +
                             "E: DEVNUM=" + Format("%03u", slot.deviceNumber) + "\n" +
                             "E: PRODUCT=" + Format("%x", d.vendorId) + "/" + Format("%x", d.productId) + "/100\n" +
                             "E: ID_VENDOR_ID=" + vendor + "\n" +
                             "E: ID_MODEL_ID=" + product + "\n" +
                             "E: ID_SERIAL_SHORT=" + d.serialNumber + "\n" +
                             "A: busnum=" + Format("%u", kBusNumber) + "\\n\n" +
                             "A: devnum=" + Format("%u", slot.deviceNumber) + "\\n\n" +
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
  slot.device = device;
  slot.lastDevice = device;
  ApplyPermission(index);
  umockdev_testbed_uevent(mTestbed, SysfsPath(index).c_str(), "add");
  return true;
}

bool CSensorTestbed::Unplug(size_t index) {
  TSlot& slot = mSlots.at(index);
  if (!slot.device) return false;
  slot.device->Disconnect();
  mBus->Unplug(slot.sensor);  // transfers in flight end as on a disconnect
  umockdev_testbed_uevent(mTestbed, SysfsPath(index).c_str(), "remove");
  GError* error = nullptr;
  if (!umockdev_testbed_detach_ioctl(mTestbed, DeviceNode(index).c_str(), &error)) {
    Fail("detaching the device node", error);
  }
  umockdev_testbed_remove_device(mTestbed, SysfsPath(index).c_str());
  // The node goes with the device.
  std::error_code ignored;
  std::filesystem::remove(NodeFile(index), ignored);
  slot.device.reset();
  return true;
}
