// Two sensors over the real libusb, SKV00001 at 1-1 and SKV00002 at 1-2: a
// controller told which to open takes that one alone, by serial number or by
// place, at start and when it is plugged in again, and lets the other come
// and go; controllers told nothing take one each; the list names each
// sensor with its state.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AttachedSensors.h"
#include "device/Controllers.h"
#include "LibusbBackend.h"
#include "PermissionsHonoured.h"
#include "SensorTestbed.h"
#include "SkarvIO.h"
#include "TestSupport.h"
#include "UsbLibrary.h"

namespace {

using namespace std::chrono_literals;

class LibusbSensorChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UnderUmockdev()) << "run this program under umockdev-wrapper";
    testbed = std::make_unique<CSensorTestbed>();
    ASSERT_EQ(testbed->AddSensor(std::make_shared<sim::CVirtualSensor>(2, "SKV00002")), 1u);
    ASSERT_TRUE(testbed->Plug(0));
    ASSERT_TRUE(testbed->Plug(1));
    // The tests run as a user held to the nodes' permissions, libusb's event
    // thread too (it starts with the backend).
    honoured.emplace();
    auto backend = std::make_shared<CLibusbBackend>();
    ASSERT_TRUE(backend->Usable());
    UsbLib_SetBackend(backend);
  }

  void TearDown() override {
    controllers.Clear();
    UsbLib_SetBackend(nullptr);
    testbed.reset();
    honoured.reset();
  }

  CSkarvIO& AddController(const T_SensorChoice& choice, std::string& printed) {
    return controllers.Add(choice, printed);
  }

  // Takes `step`, then updates every controller every 10 ms until `done`
  // holds after an update or `timeout` passes; what was printed meanwhile,
  // the notices printed on the layer's thread included.
  std::string RunUntil(const std::function<void()>& step, const std::function<bool(const std::string&)>& done,
                       std::chrono::milliseconds timeout = 15s) {
    CDiagCapture capture;
    step();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto next = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
      controllers.UpdateAll();
      UsbLib_FlushHotplug();
      if (done(capture.Text())) break;
      next += 10ms;
      std::this_thread::sleep_until(next);
    }
    return capture.Text();
  }

  // Updates until `io` has processed records beyond `count`.
  std::string StreamBeyond(CSkarvIO& io, uint64_t count, const std::function<void()>& step = [] {}) {
    return RunUntil(step, [&](const std::string&) { return io.GetDeviceStatus().RecordsProcessed > count; });
  }

  std::unique_ptr<CSensorTestbed> testbed;
  std::optional<CPermissionsHonoured> honoured;
  CControllers controllers;
};

TEST_F(LibusbSensorChoice, TheSensorChosenBySerialNumberIsTheOneOpenedAgainAndTheOtherIsLeftAlone) {
  std::string out;
  CSkarvIO& io = AddController({"SKV00002", ""}, out);
  EXPECT_NE(out.find("Using E785:64F2 (USB\\VID_E785&PID_64F2\\1-2)"), std::string::npos) << out;
  EXPECT_EQ(Occurrences(out, "[ARRIVAL] SKV00001 at 1-1: not the chosen sensor (serial number SKV00002); left alone.\n"),
            1u)
      << out;
  StreamBeyond(io, 0);
  ASSERT_GT(io.GetDeviceStatus().RecordsProcessed, 0u);
  EXPECT_EQ(io.GetDeviceStatus().Serial, "SKV00002");
  EXPECT_GT(testbed->Device(1)->Count().submitted, 0u);
  EXPECT_EQ(testbed->Device(0)->Count().claims, 0u) << "the first sensor is never claimed";

  // Plugged in again, the chosen one is known by the serial number of its
  // arrival, and opened.
  out = RunUntil([&] { testbed->Unplug(1); }, [&](const std::string&) { return !io.GetDeviceStatus().SensorOpen; });
  ASSERT_FALSE(io.GetDeviceStatus().SensorOpen) << out;
  EXPECT_EQ(Occurrences(out, "Removed cleanup start"), 1u) << out;
  out = RunUntil([&] { testbed->Plug(1); },
                 [&](const std::string&) { return testbed->Device(1)->Count().reaped > 100; });
  ASSERT_GT(testbed->Device(1)->Count().reaped, 100u) << out;
  EXPECT_NE(out.find("Device opened successfully!"), std::string::npos) << out;
  EXPECT_EQ(io.GetDeviceStatus().Serial, "SKV00002");

  // The other one leaving and coming back changes nothing: no clean-up, no
  // attempt to open, the stream goes on.
  const uint64_t before = io.GetDeviceStatus().RecordsProcessed;
  out = RunUntil([&] { testbed->Unplug(0); }, [](const std::string& printed) {
    return printed.find("[REMOVAL] SKV00001 at 1-1: not the chosen sensor") != std::string::npos;
  });
  out += RunUntil([&] { testbed->Plug(0); }, [](const std::string& printed) {
    return printed.find("[ARRIVAL] SKV00001 at 1-1: not the chosen sensor") != std::string::npos;
  });
  out += StreamBeyond(io, before + 1000);
  EXPECT_EQ(Occurrences(out, " left alone.\n"), 2u) << out;
  EXPECT_EQ(out.find("Removed cleanup start"), std::string::npos) << out;
  EXPECT_EQ(out.find("Adding device."), std::string::npos) << out;
  EXPECT_TRUE(io.GetDeviceStatus().SensorOpen);
  EXPECT_GT(io.GetDeviceStatus().RecordsProcessed, before + 1000);
  EXPECT_EQ(testbed->Device(0)->Count().claims, 0u);
}

TEST_F(LibusbSensorChoice, TheSensorChosenByUsbPathIsTheOneOpened) {
  std::string out;
  CSkarvIO& io = AddController({"", testbed->UsbPath(1)}, out);
  StreamBeyond(io, 0);
  ASSERT_GT(io.GetDeviceStatus().RecordsProcessed, 0u) << out;
  EXPECT_EQ(io.GetDeviceStatus().Serial, "SKV00002");
  EXPECT_EQ(testbed->Device(0)->Count().claims, 0u);
}

TEST_F(LibusbSensorChoice, ControllersWithoutAChoiceTakeOneSensorEach) {
  std::string out;
  CSkarvIO& first = AddController({}, out);
  EXPECT_NE(out.find("2 sensors are attached; this program took the first free one, SKV00001 at 1-1."),
            std::string::npos)
      << out;
  CSkarvIO& second = AddController({}, out);
  EXPECT_NE(out.find("SKV00001 at 1-1 is busy (claimed by another program); trying the next sensor.\n"),
            std::string::npos)
      << out;
  StreamBeyond(first, 0);
  StreamBeyond(second, 0);
  EXPECT_EQ(first.GetDeviceStatus().Serial, "SKV00001");
  EXPECT_EQ(second.GetDeviceStatus().Serial, "SKV00002");
  EXPECT_GT(first.GetDeviceStatus().RecordsProcessed, 0u);
  EXPECT_GT(second.GetDeviceStatus().RecordsProcessed, 0u);
  // The second open of the first sensor never reached the kernel.
  EXPECT_EQ(testbed->Device(0)->Count().claims, 1u);
  EXPECT_EQ(testbed->Device(1)->Count().claims, 1u);
}

TEST_F(LibusbSensorChoice, TheListShowsEachSensorFreeBusyOrWithoutPermission) {
  ASSERT_TRUE(honoured->Holds()) << "this thread overrides the files' permissions";
  std::string out;
  AddController({"SKV00002", ""}, out);
  const auto list = [] {
    std::vector<T_AttachedSensor> sensors;
    uint32_t error = 0;
    EXPECT_TRUE(FindAttachedSensors(sim::CVirtualSensor::kVendorId, sim::CVirtualSensor::kProductId, sensors, error));
    std::vector<std::string> lines;
    for (const T_AttachedSensor& sensor : sensors) lines.push_back(DescribeAttachedSensor(sensor));
    return lines;
  };
  std::vector<std::string> lines = list();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "SKV00001  1-1  Skarv laser range sensor  (Skarv Sensors)  free");
  EXPECT_EQ(lines[1], "SKV00002  1-2  Skarv laser range sensor  (Skarv Sensors)  busy: another program has claimed it");

  // A sensor this user may not open is still named, from what the kernel
  // read of it, in the list and when it arrives.
  testbed->SetOpenPermitted(0, false);
  lines = list();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("SKV00001  1-1  Skarv laser range sensor  (Skarv Sensors)  no permission: The sensor may "
                           "not be opened by this user (permission denied). Install the udev rule",
                           0),
            0u)
      << lines[0];
  out = RunUntil([&] { testbed->Unplug(0); }, [](const std::string& printed) {
    return printed.find("[REMOVAL] SKV00001 at 1-1") != std::string::npos;
  });
  out += RunUntil([&] { testbed->Plug(0); }, [](const std::string& printed) {
    return printed.find("[ARRIVAL] ") != std::string::npos;
  });
  EXPECT_NE(out.find("[ARRIVAL] SKV00001 at 1-1: not the chosen sensor (serial number SKV00002); left alone.\n"),
            std::string::npos)
      << out;
}

}  // namespace
