// A sensor that is present at start but cannot be opened: the reason is
// printed with what to do about it, and the hot-plug monitor still starts, so
// that plugging the sensor in again once it is free opens it and its samples
// flow.

#include <gtest/gtest.h>

#include "SkarvIO.h"
#include "TestSupport.h"
#include "backends/VirtualSensorFixture.h"

namespace {

class StartupOpenFailure : public VirtualSensorFixture {
 protected:
  void SetUp() override {
    VirtualSensorFixture::SetUp();
    backend = std::dynamic_pointer_cast<CVirtualUsbBackend>(UsbLib_GetBackend());
    ASSERT_NE(backend, nullptr);
    controller = std::make_unique<CSkarvIO>();
  }

  void TearDown() override {
    Quietly([&] { controller.reset(); });
    VirtualSensorFixture::TearDown();
  }

  // Starts the controller while every open is refused with `error`, and runs
  // it for a while: the sensor stays closed. Returns what was printed.
  std::string StartRefused(uint32_t error) {
    backend->RefuseOpens(1000, error);
    std::string out = Quietly([&] {
      controller->Initialize(10);
      ASSERT_TRUE(UsbLib_FlushHotplug());
    });
    out += Run(200);
    EXPECT_EQ(controller->mPort.mUSBHandle.load(), nullptr);
    EXPECT_EQ(controller->GetDeviceStatus().RecordsProcessed, 0u);
    return out;
  }

  // The sensor is free again and plugged in anew: it opens and streams.
  void ReplugAndExpectSamples() {
    backend->RefuseOpens(0, kErrorSuccess);
    std::string out = Quietly([&] {
      bus->Unplug(sensor);
      bus->Plug(sensor);
      ASSERT_TRUE(UsbLib_FlushHotplug());
    });
    out += Run(3000);
    EXPECT_NE(out.find("Device opened successfully!\n"), std::string::npos) << out;
    EXPECT_NE(controller->mPort.mUSBHandle.load(), nullptr);
    EXPECT_GT(controller->GetDeviceStatus().RecordsProcessed, 40u * 1000);
  }

  std::string Run(uint32_t ms) {
    return Quietly([&] {
      for (uint32_t t = 0; t < ms; t += 10) {
        bus->Advance(10);
        controller->UpdateContiniousData();
      }
    });
  }

  std::shared_ptr<CVirtualUsbBackend> backend;
  std::unique_ptr<CSkarvIO> controller;
};

TEST_F(StartupOpenFailure, BusySensorIsNamedAndPickedUpWhenPluggedInAgain) {
  const std::string out = StartRefused(kErrorBusy);
  const char* order[] = {"Adding device.\n",
                         "UsbK_Init failed. ErrorCode: 000000AAh\n",
                         "The sensor is busy: another program has claimed it.",
                         "HotK monitor initialized successfully!\n",
                         "UsbK_Init failed. Error Code = 0xaa\n"};
  size_t at = 0;
  for (const char* line : order) {
    const size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << out;
    at = found;
  }
  ReplugAndExpectSamples();
}

TEST_F(StartupOpenFailure, PermissionProblemNamesTheUdevRule) {
  const std::string out = StartRefused(kErrorAccessDenied);
  EXPECT_NE(out.find("UsbK_Init failed. ErrorCode: 00000005h\n"), std::string::npos) << out;
  EXPECT_NE(out.find("permission denied"), std::string::npos) << out;
  EXPECT_NE(out.find("udev/70-skarv-sensor.rules"), std::string::npos) << out;
  EXPECT_NE(out.find("/etc/udev/rules.d/"), std::string::npos) << out;
  EXPECT_NE(out.find("HotK monitor initialized successfully!\n"), std::string::npos) << out;
  // The status line says the same in its last error.
  EXPECT_NE(controller->GetDeviceStatus().LastError.find("permission denied"), std::string::npos);
  ReplugAndExpectSamples();
}

}  // namespace
