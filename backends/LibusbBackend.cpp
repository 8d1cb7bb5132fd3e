#include "LibusbBackend.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "LibusbDevice.h"
#include "ThreadName.h"

namespace {

// What the event thread needs; shared with it so that it can finish on its own
// when the context is destroyed from that very thread.
struct EventLoop {
  explicit EventLoop(libusb_context* c) : context(c) {}
  libusb_context* const context;
  std::atomic<bool> stop{false};
  // Written and read on the event thread only:
  bool exitWhenStopped = false;
  std::vector<std::function<void()>> afterEvents;
};

void RunEvents(const std::shared_ptr<EventLoop>& loop) {
  NameThisThread("libusb events");
  while (!loop->stop.load()) {
    // The time-out only bounds the wait should the interruption at shutdown
    // come before the thread started waiting.
    timeval timeout{0, 100000};
    const int result = libusb_handle_events_timeout_completed(loop->context, &timeout, nullptr);
    if (result != LIBUSB_SUCCESS && result != LIBUSB_ERROR_INTERRUPTED && result != LIBUSB_ERROR_TIMEOUT) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // do not spin on a persistent failure
    }
    // The work may end the context itself, which stops this loop.
    std::vector<std::function<void()>> work = std::move(loop->afterEvents);
    loop->afterEvents.clear();
    for (auto& step : work) {
      step();
    }
  }
  if (loop->exitWhenStopped) {
    libusb_exit(loop->context);
  }
}

template <size_t N>
void Copy(char (&field)[N], const char* text) {
  std::snprintf(field, N, "%s", text);
}

// The device's place on the bus: its bus number, then the ports from the
// root hub down (none for a root hub).
std::vector<uint8_t> Place(libusb_device* device) {
  uint8_t ports[8];
  const int count = libusb_get_port_numbers(device, ports, sizeof ports);
  std::vector<uint8_t> place(1 + static_cast<size_t>(count > 0 ? count : 0));
  place[0] = libusb_get_bus_number(device);
  for (size_t i = 1; i < place.size(); ++i) {
    place[i] = ports[i - 1];
  }
  return place;
}

// "<bus>-<port>.<port>...", the device's place on the bus ("<bus>-0" for a
// root hub).
std::string Location(libusb_device* device) {
  const std::vector<uint8_t> place = Place(device);
  std::string location = std::to_string(place[0]) + "-";
  if (place.size() == 1) {
    return location + "0";
  }
  for (size_t i = 1; i < place.size(); ++i) {
    if (i > 1) {
      location += '.';
    }
    location += std::to_string(place[i]);
  }
  return location;
}

std::string DevicePath(libusb_device* device) { return std::string("usb:").append(Location(device)); }

// The list entry of a device, from what libusb knows without opening it.
bool Describe(libusb_device* device, KLST_DEVINFO& info, libusb_device_descriptor& descriptor) {
  if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) {
    return false;
  }
  info = KLST_DEVINFO{};
  char text[kStringMaxLength];
  info.Common.Vid = descriptor.idVendor;
  info.Common.Pid = descriptor.idProduct;
  info.Common.MI = -1;
  std::snprintf(text, sizeof text, "USB\\VID_%04X&PID_%04X\\%s", descriptor.idVendor, descriptor.idProduct,
                Location(device).c_str());
  Copy(info.Common.InstanceID, text);
  Copy(info.DeviceID, text);
  std::snprintf(text, sizeof text, "{%04X%04X-6C69-6275-7362-000000000000}", descriptor.idVendor, descriptor.idProduct);
  Copy(info.DeviceInterfaceGUID, text);
  Copy(info.ClassGUID, "{6C696275-7362-4445-5643-000000000000}");
  Copy(info.Service, "libusb");
  Copy(info.SymbolicLink, DevicePath(device).c_str());
  Copy(info.DevicePath, info.SymbolicLink);
  info.Connected = 1;
  info.BusNumber = libusb_get_bus_number(device);
  info.DeviceAddress = libusb_get_device_address(device);
  return true;
}

template <size_t N>
void ReadString(libusb_device_handle* handle, uint8_t index, char (&field)[N]) {
  unsigned char text[N];
  if (index != 0 && libusb_get_string_descriptor_ascii(handle, index, text, sizeof text) > 0) {
    Copy(field, reinterpret_cast<const char*>(text));
  }
}

// A string the kernel read from the device at enumeration, from its sysfs
// attribute (/sys/bus/usb/devices/<bus>-<ports>/<name>), which any user may
// read; left as it is when there is none. Characters outside printable ASCII
// become '?', as in the strings read from the device.
template <size_t N>
void ReadSysfsString(const std::string& location, const char* name, char (&field)[N]) {
  std::ifstream file("/sys/bus/usb/devices/" + location + "/" + name);
  std::string text;
  if (!std::getline(file, text) || text.empty()) {
    return;
  }
  for (char& c : text) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  Copy(field, text.c_str());
}

// The manufacturer, product and serial number strings, asked of the device
// where it lets itself be opened; otherwise (no permission, say) those the
// kernel keeps in sysfs, so that a sensor this user may not open is still
// named by its serial number.
void ReadStrings(libusb_device* device, const libusb_device_descriptor& descriptor, KLST_DEVINFO& info) {
  libusb_device_handle* handle = nullptr;
  if (libusb_open(device, &handle) == LIBUSB_SUCCESS) {
    ReadString(handle, descriptor.iManufacturer, info.Mfg);
    ReadString(handle, descriptor.iProduct, info.DeviceDesc);
    ReadString(handle, descriptor.iSerialNumber, info.SerialNumber);
    libusb_close(handle);
  }
  const std::string location = Location(device);
  if (!info.Mfg[0] && descriptor.iManufacturer != 0) ReadSysfsString(location, "manufacturer", info.Mfg);
  if (!info.DeviceDesc[0] && descriptor.iProduct != 0) ReadSysfsString(location, "product", info.DeviceDesc);
  if (!info.SerialNumber[0] && descriptor.iSerialNumber != 0) ReadSysfsString(location, "serial", info.SerialNumber);
}

// libusb's device list, released with the object.
class CDeviceList {
 public:
  explicit CDeviceList(libusb_context* context) : mCount(libusb_get_device_list(context, &mDevices)) {}
  ~CDeviceList() {
    if (mCount >= 0) libusb_free_device_list(mDevices, 1);
  }
  CDeviceList(const CDeviceList&) = delete;
  CDeviceList& operator=(const CDeviceList&) = delete;

  // A libusb error, or 0.
  int Error() const { return mCount < 0 ? static_cast<int>(mCount) : 0; }
  libusb_device** begin() const { return mDevices; }
  libusb_device** end() const { return mDevices + (mCount < 0 ? 0 : mCount); }

 private:
  libusb_device** mDevices = nullptr;
  ssize_t mCount;
};

}  // namespace

// The libusb context of a backend, its event thread, its hot-plug callback and
// the removal flags of the devices open in it.
class CLibusbContext final : public CLibusbSession, public std::enable_shared_from_this<CLibusbContext> {
 public:
  // Null when libusb cannot be started.
  static std::shared_ptr<CLibusbContext> Start() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) {
      return nullptr;
    }
    return std::shared_ptr<CLibusbContext>(new CLibusbContext(context));
  }

  ~CLibusbContext() override {
    if (mHotplugRegistered) {
      libusb_hotplug_deregister_callback(mLoop->context, mHotplug);
    }
    mLoop->stop = true;
    if (OnEventThread()) {
      // The last device was closed from a completion: the thread cannot wait
      // for itself, so it ends the context once it leaves this event round.
      mLoop->exitWhenStopped = true;
      mThread.detach();
      return;
    }
    libusb_interrupt_event_handler(mLoop->context);
    mThread.join();
    libusb_exit(mLoop->context);
  }

  CLibusbContext(const CLibusbContext&) = delete;
  CLibusbContext& operator=(const CLibusbContext&) = delete;

  libusb_context* Get() const { return mLoop->context; }

  bool OnEventThread() const override { return std::this_thread::get_id() == mThread.get_id(); }
  void AfterEvents(std::function<void()> work) override { mLoop->afterEvents.push_back(std::move(work)); }

  void SetSink(CUsbBackend::HotplugSink sink) {
    CUsbBackend::HotplugSink old;  // destroyed outside the lock
    std::lock_guard<std::mutex> lock(mSinkMutex);
    old = std::exchange(mSink, std::move(sink));
  }

  // Keeps the strings read for a device, so that its removal notice can
  // carry them when the device can no longer be asked.
  void RememberStrings(const KLST_DEVINFO& info) {
    std::lock_guard<std::mutex> lock(mStringsMutex);
    T_Strings& strings = mStrings[info.DevicePath];
    Copy(strings.Mfg, info.Mfg);
    Copy(strings.DeviceDesc, info.DeviceDesc);
    Copy(strings.SerialNumber, info.SerialNumber);
  }

  // The devices open through this context, each open once at a time.
  const std::shared_ptr<CDeviceClaims>& Claims() const { return mClaims; }

  // A flag raised when `device` is reported removed.
  std::shared_ptr<std::atomic<bool>> WatchRemoval(libusb_device* device) {
    auto gone = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(mOpenMutex);
    std::erase_if(mOpen, [](const auto& entry) { return entry.second.expired(); });
    mOpen.emplace_back(device, gone);
    return gone;
  }

 private:
  explicit CLibusbContext(libusb_context* context) : mLoop(std::make_shared<EventLoop>(context)) {
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
      // Devices present now are the layer's to report, so no enumeration here.
      const auto events =
          static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
      mHotplugRegistered =
          libusb_hotplug_register_callback(context, events, LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY,
                                           LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                           &CLibusbContext::OnHotplug, this, &mHotplug) == LIBUSB_SUCCESS;
    }
    mThread = std::thread(RunEvents, mLoop);
  }

  // Runs on the event thread, where libusb forbids blocking calls. The
  // removal flag is raised at once; the notice itself goes out once this
  // round of events is over (in the order the events came), when an arrived
  // device can be opened briefly for its strings.
  static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* userData) {
    auto& self = *static_cast<CLibusbContext*>(userData);
    const bool arrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
    if (!arrived) {
      std::lock_guard<std::mutex> lock(self.mOpenMutex);
      for (const auto& [openDevice, flag] : self.mOpen) {
        if (openDevice == device) {
          if (auto gone = flag.lock()) gone->store(true);
        }
      }
    }
    KLST_DEVINFO info;
    libusb_device_descriptor descriptor;
    // The work holds the context, which may otherwise end in an earlier step
    // of the same round (the last device closed after the backend has gone).
    std::shared_ptr<CLibusbContext> keep = self.weak_from_this().lock();
    if (keep && Describe(device, info, descriptor)) {
      libusb_ref_device(device);
      self.AfterEvents([keep, device, info, descriptor, arrived]() mutable {
        keep->Notify(device, descriptor, info, arrived);
        libusb_unref_device(device);
      });
    }
    return 0;  // stay registered
  }

  // Fills in the strings of a notice and hands it to the sink (event thread,
  // outside any libusb callback). An arrived device is asked for them; a
  // removed one gets those remembered for its place on the bus. A device that
  // cannot be opened leaves them empty.
  void Notify(libusb_device* device, const libusb_device_descriptor& descriptor, KLST_DEVINFO& info, bool arrived) {
    if (arrived) {
      ReadStrings(device, descriptor, info);
      RememberStrings(info);
    } else {
      std::lock_guard<std::mutex> lock(mStringsMutex);
      const auto known = mStrings.find(info.DevicePath);
      if (known != mStrings.end()) {
        Copy(info.Mfg, known->second.Mfg);
        Copy(info.DeviceDesc, known->second.DeviceDesc);
        Copy(info.SerialNumber, known->second.SerialNumber);
        mStrings.erase(known);
      }
    }
    std::lock_guard<std::mutex> lock(mSinkMutex);
    if (mSink) {
      mSink(info, arrived ? KLST_SYNC_FLAG_ADDED : KLST_SYNC_FLAG_REMOVED);
    }
  }

  struct T_Strings {
    char Mfg[kStringMaxLength];
    char DeviceDesc[kStringMaxLength];
    char SerialNumber[kStringMaxLength];
  };

  std::shared_ptr<EventLoop> mLoop;
  std::shared_ptr<CDeviceClaims> mClaims = std::make_shared<CDeviceClaims>();
  std::thread mThread;
  bool mHotplugRegistered = false;
  libusb_hotplug_callback_handle mHotplug = 0;
  std::mutex mSinkMutex;  // held while the sink runs
  CUsbBackend::HotplugSink mSink;
  std::mutex mOpenMutex;
  std::mutex mStringsMutex;
  std::map<std::string, T_Strings> mStrings;  // by device path
  // Open devices; an entry whose flag has expired belongs to a closed device.
  std::vector<std::pair<libusb_device*, std::weak_ptr<std::atomic<bool>>>> mOpen;
};

CLibusbBackend::CLibusbBackend() : mContext(CLibusbContext::Start()) {}

CLibusbBackend::~CLibusbBackend() {
  if (mContext) {
    // Devices still open keep the context; only the reports end here.
    mContext->SetSink(nullptr);
  }
}

uint32_t CLibusbBackend::ListDevices(std::vector<KLST_DEVINFO>& devices) {
  devices.clear();
  if (!mContext) return kErrorDeviceNotConnected;
  CDeviceList list(mContext->Get());
  if (list.Error()) return CLibusbDevice::ErrorCode(list.Error());
  // In the order of their places on the bus (libusb's own order is that of
  // their arrival, newest first): the first sensor of several is the same
  // from one run to the next.
  std::vector<std::pair<std::vector<uint8_t>, KLST_DEVINFO>> found;
  for (libusb_device* device : list) {
    KLST_DEVINFO info;
    libusb_device_descriptor descriptor;
    if (Describe(device, info, descriptor)) {
      ReadStrings(device, descriptor, info);
      mContext->RememberStrings(info);
      found.emplace_back(Place(device), info);
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& entry : found) {
    devices.push_back(entry.second);
  }
  return kErrorSuccess;
}

uint32_t CLibusbBackend::Open(const KLST_DEVINFO& deviceInfo, std::unique_ptr<CUsbDevice>& device) {
  if (!mContext) return kErrorDeviceNotConnected;
  CDeviceList list(mContext->Get());
  if (list.Error()) return CLibusbDevice::ErrorCode(list.Error());
  for (libusb_device* candidate : list) {
    if (DevicePath(candidate) == deviceInfo.DevicePath) {
      // Watched before opening, so that a removal during the open is not missed.
      auto gone = mContext->WatchRemoval(candidate);
      return CLibusbDevice::Open(candidate, mContext, std::move(gone), mContext->Claims(), device);
    }
  }
  return kErrorDeviceNotConnected;
}

void CLibusbBackend::SetHotplugSink(HotplugSink sink) {
  if (mContext) {
    mContext->SetSink(std::move(sink));
  }
}
