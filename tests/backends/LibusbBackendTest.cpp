// The libusb backend on whatever this machine has (often no USB device at
// all): it starts, lists, opens nothing that is not there, and leaves no
// thread behind.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "LibusbBackend.h"
#include "UsbLibrary.h"

namespace {

size_t ThreadCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

// A thread that has been joined may linger in /proc for a moment.
bool ThreadCountFallsTo(size_t limit) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (ThreadCount() > limit) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

KLST_DEVINFO EntryAt(const char* path) {
  KLST_DEVINFO info{};
  std::snprintf(info.DevicePath, sizeof info.DevicePath, "%s", path);
  return info;
}

// Threads now running. A sanitizer runtime starts a helper thread of its own
// with the first thread the program starts, so one is started first.
size_t SettledThreadCount() {
  std::thread([] {}).join();
  return ThreadCount();
}

TEST(LibusbBackend, ListsDevicesAndStopsItsThreadsWhenDestroyed) {
  const size_t before = SettledThreadCount();
  {
    CLibusbBackend backend;
    if (!backend.Usable()) {
      std::vector<KLST_DEVINFO> devices;
      EXPECT_EQ(backend.ListDevices(devices), kErrorDeviceNotConnected);
      GTEST_SKIP() << "libusb cannot start here";
    }
    EXPECT_GT(ThreadCount(), before);  // the event thread runs

    std::vector<KLST_DEVINFO> devices(1);
    ASSERT_EQ(backend.ListDevices(devices), kErrorSuccess);
    std::vector<KLST_DEVINFO> again;
    ASSERT_EQ(backend.ListDevices(again), kErrorSuccess);
    ASSERT_EQ(devices.size(), again.size());
    for (size_t i = 0; i < devices.size(); ++i) {
      const KLST_DEVINFO& d = devices[i];
      const std::string path = d.DevicePath;
      EXPECT_EQ(path.rfind("usb:", 0), 0u) << path;
      EXPECT_EQ(path, again[i].DevicePath);  // a device keeps its path
      EXPECT_EQ(path, d.SymbolicLink);
      EXPECT_STREQ(d.Service, "libusb");
      EXPECT_EQ(d.Connected, 1);
      char prefix[32];
      std::snprintf(prefix, sizeof prefix, "USB\\VID_%04X&PID_%04X\\", d.Common.Vid, d.Common.Pid);
      EXPECT_EQ(std::string(d.Common.InstanceID).rfind(prefix, 0), 0u) << d.Common.InstanceID;
    }

    backend.SetHotplugSink([](const KLST_DEVINFO&, KLST_SYNC_FLAG) {});
    backend.SetHotplugSink(nullptr);
  }
  EXPECT_TRUE(ThreadCountFallsTo(before));
}

TEST(LibusbBackend, OpeningADeviceThatIsNotThereReportsItNotConnected) {
  CLibusbBackend backend;
  for (const char* path : {"usb:250-9.9.9", "", "virtual-usb:1-1"}) {
    std::unique_ptr<CUsbDevice> device;
    EXPECT_EQ(backend.Open(EntryAt(path), device), kErrorDeviceNotConnected) << path;
    EXPECT_EQ(device, nullptr);
  }
}

// Through the layer: a device list and a hot-plug monitor on the libusb
// backend, then replacing the backend ends its threads.
TEST(LibusbBackend, ServesTheLayerAndEndsWithIt) {
  const size_t before = SettledThreadCount();
  auto backend = std::make_shared<CLibusbBackend>();
  if (!backend->Usable()) GTEST_SKIP() << "libusb cannot start here";
  UsbLib_SetBackend(backend);

  KLST_HANDLE list = nullptr;
  ASSERT_TRUE(LstK_Init(&list, 0)) << GetLastError();
  unsigned count = 0;
  EXPECT_TRUE(LstK_Count(list, &count));
  EXPECT_TRUE(LstK_Free(list));

  KHOT_PARAMS params{};
  params.Flags = KHOT_FLAG_PLUG_ALL_ON_INIT;
  std::snprintf(params.PatternMatch.DeviceInterfaceGUID, kStringMaxLength, "*");
  params.OnHotPlug = [](KHOT_HANDLE, KLST_DEVINFO_HANDLE, KLST_SYNC_FLAG) {};
  KHOT_HANDLE monitor = nullptr;
  ASSERT_TRUE(HotK_Init(&monitor, &params)) << GetLastError();
  EXPECT_TRUE(UsbLib_FlushHotplug());
  EXPECT_TRUE(HotK_Free(monitor));

  backend.reset();
  UsbLib_SetBackend(nullptr);
  // The layer's notification thread, once started, stays; the backend's end.
  EXPECT_TRUE(ThreadCountFallsTo(before + 1));
}

}  // namespace
