// --subscribe's source in this process: the records another process
// publishes, played by the playback sensor to a controller that records
// them, give the publisher's own recording byte for byte; the remote sensor
// bears the publisher's sensor's serial number, takes no commands and says
// so.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "DataPath.h"
#include "DdsEntities.h"
#include "DdsTestSupport.h"
#include "RosMessageTypes.h"
#include "SkarvIO.h"
#include "SubscribeSetup.h"
#include "TestSupport.h"
#include "UsbLibrary.h"

namespace {

std::string Contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(DdsSubscribe, ARemoteSensorsRecordingIsThePublishersByteForByte) {
  ddstest::UseLoopback(45);
  const std::string ns = ddstest::UniqueNamespace("sub");
  char pattern[] = "/tmp/skarv-dds-sub-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path root = pattern;
  std::filesystem::create_directories(root / "publisher");
  std::filesystem::create_directories(root / "subscriber");
  const std::filesystem::path previousDir = std::filesystem::current_path();
  std::filesystem::current_path(root / "subscriber");

  // Readers on the other topics too: the publisher starts once every topic has one.
  std::string error;
  skarvdds::CDdsParticipant viewer;
  ASSERT_TRUE(viewer.Open(error)) << error;
  viewer.CreateReader(sensor_msgs_msg_dds__LaserScan__desc, "rt/" + ns + "/scan", false, 1, error);
  viewer.CreateReader(sensor_msgs_msg_dds__Imu__desc, "rt/" + ns + "/imu", false, 1, error);
  viewer.CreateReader(sensor_msgs_msg_dds__MagneticField__desc, "rt/" + ns + "/mag", false, 1, error);
  viewer.CreateReader(sensor_msgs_msg_dds__Temperature__desc, "rt/" + ns + "/imu/temperature", false, 1, error);
  viewer.CreateReader(sensor_msgs_msg_dds__Temperature__desc, "rt/" + ns + "/temperature", false, 1, error);

  {
    T_SubscribeSetup remote;
    auto owned = std::make_unique<CSkarvIO>();
    CSkarvIO& controller = *owned;
    ASSERT_TRUE(UseSubscription(ns, "", controller, remote, error, sim::CVirtualBus::Clock::eManual)) << error;
    auto path = std::make_unique<CDataPath>(controller);
    Quietly([&] {
      controller.Initialize(10);
      UsbLib_FlushHotplug();
      controller.RequestRecording(true);
    });

    // The publisher starts once the feed has matched it too: a volatile
    // reader that matches late misses the batches written before.
    const std::filesystem::path start = root / "publisher" / "start";
    ddstest::CHelperProcess publisher(SKARV_DDS_TEST_PUBLISHER, {ns, "300", "1", start.string()}, root / "publisher");
    bool published = false;
    int exitStatus = -1;
    std::string source;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    Quietly([&] {
      while (std::chrono::steady_clock::now() < deadline) {
        remote.bus->Advance(CDataPath::kTickMs);
        path->Step();
        remote.driver->Poll();
        UsbLib_FlushHotplug();
        if (!std::filesystem::exists(start) && remote.feed->MatchedPublishers() > 0) {
          std::ofstream(start) << "start\n";
        }
        if (exitStatus == -1 && (exitStatus = publisher.Wait(std::chrono::seconds(0))) == 0) {
          published = true;
          source = Contents(root / "publisher" / "SkarvData-1.csv");
        }
        if (published && controller.GetDeviceStatus().RecordsProcessed + 1 >= Lines(source)) break;
        if (exitStatus > 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      controller.RequestRecording(false);
      path->Step();
    });
    ASSERT_TRUE(published) << "publisher's exit status " << exitStatus << ": "
                           << Contents(root / "publisher" / "stderr");
    ASSERT_GT(Lines(source), 20000u);
    EXPECT_TRUE(Contents(root / "subscriber" / "SkarvData-1.csv") == source);
    EXPECT_EQ(remote.feed->LostBatches(), 0u);

    // A command is not sent, and the operator is told why.
    const std::string printed = Quietly([&] { controller.SetFarGain(7); });
    EXPECT_EQ(printed, "Command A not sent: the sensor is on another machine and takes no commands from here\n");
    const T_DeviceStatus status = controller.GetDeviceStatus();
    EXPECT_TRUE(status.Remote);
    EXPECT_EQ(status.Serial, "SKV00001") << "the remote sensor by its own serial number";
    EXPECT_EQ(status.LastError, "Command A not sent: the sensor is on another machine and takes no commands from here");
    const auto connections = remote.bus->Connections();
    ASSERT_EQ(connections.size(), 1u);
    const auto sensor = std::dynamic_pointer_cast<playback::CPlaybackSensor>(connections[0].device);
    ASSERT_TRUE(sensor);
    for (const auto& command : sensor->ReceivedCommands()) EXPECT_NE(command.command, 'A');
    path.reset();
    Quietly([&] { owned.reset(); });
  }
  UsbLib_SetBackend(nullptr);
  std::filesystem::current_path(previousDir);
  std::filesystem::remove_all(root);
}

}  // namespace
