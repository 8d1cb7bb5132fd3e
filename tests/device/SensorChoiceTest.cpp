// Several sensors on one bus: a controller told which to open takes that one
// alone and lets the others come and go; controllers told nothing take one
// free sensor each.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "ChosenSensor.h"
#include "Controllers.h"
#include "SkarvIO.h"
#include "TestSupport.h"
#include "backends/VirtualSensorFixture.h"

namespace {

class SensorChoice : public VirtualSensorFixture {
 protected:
  void SetUp() override {
    VirtualSensorFixture::SetUp();  // SKV00001 in port 1
    sensors.push_back(sensor);
    for (unsigned i = 1; i < 3; ++i) {
      const std::string serial = "SKV0000" + std::to_string(i + 1);
      sensors.push_back(std::make_shared<sim::CVirtualSensor>(i + 1, serial.c_str(), sim::CRoom::Variant(i)));
      bus->Plug(sensors.back());
    }
    char pattern[] = "/tmp/skarv-choice-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir = pattern;
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(workDir);
  }

  void TearDown() override {
    controllers.Clear();
    VirtualSensorFixture::TearDown();
    std::filesystem::current_path(previousDir);
    std::filesystem::remove_all(workDir);
  }

  CSkarvIO& AddController(const T_SensorChoice& choice, std::string& printed) {
    return controllers.Add(choice, printed);
  }

  // Every controller updated every 10 ms of bus time; what they printed.
  std::string Run(uint32_t ms) {
    return Quietly([&] {
      for (uint32_t t = 0; t < ms; t += 10) {
        bus->Advance(10);
        controllers.UpdateAll();
      }
    });
  }

  std::string Replug(size_t index) {
    return Quietly([&] {
      bus->Unplug(sensors[index]);
      ASSERT_TRUE(UsbLib_FlushHotplug());
      bus->Plug(sensors[index]);
      ASSERT_TRUE(UsbLib_FlushHotplug());
    });
  }

  size_t RecordedSensor(const std::string& file) {
    std::vector<const sim::CVirtualSensor*> all;
    for (const auto& s : sensors) all.push_back(s.get());
    return ClosestSensor(MedianRecordedDistance(file), all);
  }

  std::vector<std::shared_ptr<sim::CVirtualSensor>> sensors;
  CControllers controllers;
  std::filesystem::path workDir;
  std::filesystem::path previousDir;
};

TEST_F(SensorChoice, TheChosenSensorAloneIsOpenedRecordedAndFollowedThroughHotPlug) {
  std::string out;
  CSkarvIO& io = AddController({"SKV00002", ""}, out);
  EXPECT_NE(out.find("Using E785:64F2 (USB\\VID_E785&PID_64F2\\SKV00002)"), std::string::npos) << out;
  EXPECT_EQ(Occurrences(out, "[ARRIVAL] SKV00001 at 1-1: not the chosen sensor (serial number SKV00002); left alone.\n"),
            1u)
      << out;
  EXPECT_EQ(Occurrences(out, "[ARRIVAL] SKV00003 at 1-3: not the chosen sensor"), 1u) << out;
  io.RequestRecording(true);
  Run(2500);
  EXPECT_EQ(io.GetDeviceStatus().Serial, "SKV00002");

  // Another sensor leaving and coming back changes nothing: no clean-up, no
  // attempt, the stream goes on without a gap.
  out = Replug(0);
  EXPECT_EQ(Occurrences(out, " left alone.\n"), 2u) << out;
  out += Run(500);
  EXPECT_EQ(out.find("Removed cleanup start"), std::string::npos) << out;
  EXPECT_EQ(out.find("Adding device."), std::string::npos) << out;
  EXPECT_EQ(out.find("Skiped records"), std::string::npos) << out;
  io.RequestRecording(false);
  Run(10);
  EXPECT_EQ(RecordedSensor("SkarvData-1.csv"), 1u) << "only the second sensor's records reach the file";

  // The chosen one leaving and coming back is the single-sensor story.
  out = Replug(1);
  out += Run(500);
  EXPECT_EQ(Occurrences(out, "Removed cleanup start"), 1u) << out;
  EXPECT_NE(out.find("[ARRIVAL] Skarv laser range sensor"), std::string::npos) << out;
  EXPECT_NE(out.find("Device opened successfully!"), std::string::npos) << out;
  EXPECT_EQ(io.GetDeviceStatus().Serial, "SKV00002");
}

TEST_F(SensorChoice, AChoiceNotOnTheBusWaitsAndAUsbPathChoosesByPlace) {
  std::string out;
  CSkarvIO& waiting = AddController({"SKV00009", ""}, out);
  EXPECT_NE(out.find("No sensor with serial number SKV00009 is attached (attached: SKV00001 at 1-1, SKV00002 at "
                     "1-2, SKV00003 at 1-3); waiting for it.\n"),
            std::string::npos)
      << out;
  EXPECT_FALSE(waiting.GetDeviceStatus().SensorOpen);
  CSkarvIO& byPlace = AddController({"", "1-3"}, out);
  Run(10);
  EXPECT_EQ(byPlace.GetDeviceStatus().Serial, "SKV00003") << out;
}

TEST_F(SensorChoice, ControllersWithoutAChoiceTakeOneFreeSensorEach) {
  std::string out;
  CSkarvIO& first = AddController({}, out);
  EXPECT_NE(out.find("3 sensors are attached; this program took the first free one, SKV00001 at 1-1. Choose one "
                     "with --serial SERIAL or --usb-path BUS-PORT (--list shows them).\n"),
            std::string::npos)
      << out;
  CSkarvIO& second = AddController({}, out);
  EXPECT_NE(out.find("SKV00001 at 1-1 is busy (claimed by another program); trying the next sensor.\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("2 sensors are attached; this program took the first free one, SKV00002 at 1-2."),
            std::string::npos)
      << out;
  Run(2000);
  EXPECT_EQ(first.GetDeviceStatus().Serial, "SKV00001");
  EXPECT_EQ(second.GetDeviceStatus().Serial, "SKV00002");
  const uint64_t before = first.GetDeviceStatus().RecordsProcessed;
  EXPECT_GT(before, 0u);

  // The second one's sensor leaving is the second one's affair alone.
  out = Quietly([&] {
    bus->Unplug(sensors[1]);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  out += Run(500);
  EXPECT_EQ(Occurrences(out, "Removed cleanup start"), 1u) << out;
  EXPECT_TRUE(first.GetDeviceStatus().SensorOpen);
  EXPECT_GT(first.GetDeviceStatus().RecordsProcessed, before);
  // It waits for an arrival, and takes the sensor that is free then.
  EXPECT_EQ(second.GetDeviceStatus().Serial, "") << out;
  Quietly([&] {
    bus->Unplug(sensors[2]);
    bus->Plug(sensors[2]);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  Run(20);
  EXPECT_EQ(second.GetDeviceStatus().Serial, "SKV00003");
  EXPECT_EQ(first.GetDeviceStatus().Serial, "SKV00001");
}

}  // namespace
