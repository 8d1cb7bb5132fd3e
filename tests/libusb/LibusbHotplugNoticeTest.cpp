// Arrival and removal notices of the libusb backend, as the port prints them.

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "LibusbFixture.h"

namespace {

using namespace std::chrono_literals;
using LibusbHotplugNotice = LibusbFixture;

// Takes `step`, then runs the data path every 10 ms until `done` holds,
// capturing everything printed meanwhile, the notices printed on the layer's
// own thread included.
std::string UpdateUntil(CSkarvIO& controller, const std::function<void()>& step, const std::function<bool()>& done) {
  return Quietly([&] {
    step();
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < deadline) {
      controller.UpdateContiniousData();
      if (done()) break;
      std::this_thread::sleep_for(10ms);
    }
    UsbLib_FlushHotplug();
  });
}

TEST_F(LibusbHotplugNotice, RemovalAndArrivalCarryTheSensorsProductAndManufacturer) {
  ASSERT_NE(controller->mPort.mUSBHandle.load(), nullptr) << started;

  std::string printed = UpdateUntil(
      *controller, [&] { ASSERT_TRUE(testbed->Unplug()); },
      [&] { return controller->mPort.mUSBHandle.load() == nullptr; });
  ASSERT_EQ(controller->mPort.mUSBHandle.load(), nullptr) << printed.substr(0, 3000);
  EXPECT_NE(printed.find("\n[REMOVAL] Skarv laser range sensor (Skarv Sensors) [libusb]\n"), std::string::npos)
      << printed.substr(0, 3000);

  printed = UpdateUntil(
      *controller, [&] { ASSERT_TRUE(testbed->Plug()); },
      [&] { return controller->mPort.mUSBHandle.load() != nullptr; });
  ASSERT_NE(controller->mPort.mUSBHandle.load(), nullptr) << printed.substr(0, 3000);
  EXPECT_NE(printed.find("\n[ARRIVAL] Skarv laser range sensor (Skarv Sensors) [libusb]\n"), std::string::npos)
      << printed.substr(0, 3000);
  // Reading the strings opened the sensor briefly and closed it again.
  const CEmulatedUsbDevice::Counters counts = testbed->Device()->Count();
  EXPECT_EQ(counts.opened, counts.closed + 1) << "only the port's own handle is left open";
}

}  // namespace
