#pragma once
// A virtual sensor on a manual-clock bus, served through the USB library
// layer. Every handle still open at the end of a test is freed by dropping
// the backend.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "UsbLibrary.h"
#include "VirtualBus.h"
#include "VirtualSensor.h"
#include "VirtualUsbBackend.h"

class VirtualSensorFixture : public ::testing::Test {
 protected:
  static constexpr uint32_t kFirstFrame = 5000;

  void SetUp() override {
    bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eManual, kFirstFrame);
    sensor = std::make_shared<sim::CVirtualSensor>();
    UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(bus));
    bus->Plug(sensor);
  }

  void TearDown() override { UsbLib_SetBackend(nullptr); }

  // Finds the sensor in a new device list and opens it with its interface
  // selected, as the port does.
  KUSB_HANDLE OpenSensor() {
    KLST_DEVINFO_HANDLE info = nullptr;
    EXPECT_TRUE(LstK_Init(&list, 0));
    EXPECT_TRUE(LstK_FindByVidPid(list, 0xE785, 0x64F2, &info));
    KUSB_HANDLE handle = nullptr;
    EXPECT_TRUE(UsbK_Init(&handle, info)) << GetLastError();
    EXPECT_TRUE(UsbK_SelectInterface(handle, 0, true));
    EXPECT_TRUE(UsbK_SetAltInterface(handle, 0, false, 0));
    return handle;
  }

  KOVL_HANDLE Acquire(KOVL_POOL_HANDLE pool) {
    KOVL_HANDLE overlapped = nullptr;
    EXPECT_TRUE(OvlK_Acquire(&overlapped, pool)) << GetLastError();
    return overlapped;
  }

  KOVL_POOL_HANDLE NewPool(KUSB_HANDLE handle, int count) {
    KOVL_POOL_HANDLE pool = nullptr;
    EXPECT_TRUE(OvlK_Init(&pool, handle, count, 0)) << GetLastError();
    return pool;
  }

  // Starts a transfer and checks that it was queued.
  static void ExpectQueued(bool started) {
    EXPECT_FALSE(started);
    EXPECT_EQ(GetLastError(), kErrorIoPending);
  }

  std::shared_ptr<sim::CVirtualBus> bus;
  std::shared_ptr<sim::CVirtualSensor> sensor;
  KLST_HANDLE list = nullptr;
};
