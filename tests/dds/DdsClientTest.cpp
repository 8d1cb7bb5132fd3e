// skarv-client --publish as its own process: subscribers that come and go
// find it publishing each time, and DDS that cannot start is reported once
// while the client runs on.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <thread>

#include "DdsEntities.h"
#include "DdsTestSupport.h"
#include "RosMessageTypes.h"
#include "SkarvRecordTypes.h"
#include "client/ClientProcess.h"
#include "TestSupport.h"

namespace {

using std::chrono::seconds;

CClientProcess::T_Setup Publishing(uint32_t domain, const std::string& ns) {
  CClientProcess::T_Setup setup;
  setup.arguments = {"--simulate", "--quiet", "--publish", "--namespace", ns};
  setup.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
  setup.set = {"QT_QPA_PLATFORM=offscreen", "CYCLONEDDS_URI=file://" SKARV_DDS_LOOPBACK_CONFIG,
               "ROS_DOMAIN_ID=" + std::to_string(domain)};
  return setup;
}

void ExpectCleanExit(CClientProcess& client) {
  client.Signal(SIGTERM);
  int status = -1;
  ASSERT_TRUE(client.WaitForExit(seconds(60), status)) << "still running";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(client.Output().find("Thread Done. Clean up...\n"), std::string::npos) << client.Output();
}

TEST(DdsClient, SubscribersComingAndGoingFindThePublisherEachTime) {
  constexpr int kDomain = 42;
  ddstest::UseLoopback(kDomain);
  const std::string ns = ddstest::UniqueNamespace("come");
  CClientProcess client(Publishing(kDomain, ns));
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(client.WaitForOutput("Waiting for Threads...", seconds(60))) << client.Output() << client.Errors();
  for (int round = 0; round < 3; ++round) {
    std::string error;
    skarvdds::CDdsParticipant participant;
    ASSERT_TRUE(participant.Open(error)) << error;
    // A best-effort scan reader the first time, reliable ones after.
    const dds_entity_t scans = participant.CreateReader(sensor_msgs_msg_dds__LaserScan__desc, "rt/" + ns + "/scan",
                                                        round > 0, 5, error);
    const dds_entity_t records = participant.CreateReader(skarv_msgs_msg_dds__RawRecordBatch__desc,
                                                          "rt/" + ns + "/records", true, 100, error);
    ASSERT_GT(scans, 0) << error;
    ASSERT_GT(records, 0) << error;
    size_t scansSeen = 0, batchesSeen = 0;
    const auto deadline = std::chrono::steady_clock::now() + seconds(60);
    while ((scansSeen == 0 || batchesSeen == 0) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      scansSeen += ddstest::TakeAll<sensor_msgs_msg_dds__LaserScan_>(scans, [&](const auto& scan) {
        EXPECT_GT(scan.ranges._length, 2u);
        EXPECT_STREQ(scan.header.frame_id, "skarv");
      });
      batchesSeen += ddstest::TakeAll<skarv_msgs_msg_dds__RawRecordBatch_>(records, [](const auto&) {});
    }
    EXPECT_GT(scansSeen, 0u) << "round " << round;
    EXPECT_GT(batchesSeen, 0u) << "round " << round;
    ASSERT_TRUE(client.Running()) << client.Output() << client.Errors();
  }
  ExpectCleanExit(client);
  // The one line about DDS says which QoS the topics have: no complaint follows it.
  const std::string out = client.Output();
  const size_t qos = out.find("DDS QoS: scan, imu, mag, imu/temperature and temperature reliable, keep last 10; ");
  EXPECT_EQ(out.find("DDS"), qos) << out;
  EXPECT_EQ(out.find("DDS", qos + 1), std::string::npos) << out;
}

TEST(DdsClient, DdsThatCannotStartIsReportedOnceAndTheClientRunsOn) {
  // Beyond ROS 2's domains; Cyclone DDS would take it for its default domain.
  CClientProcess client(Publishing(4294967295u, "bad"));
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(client.WaitForOutput("Waiting for Threads...", seconds(60))) << client.Output() << client.Errors();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(client.Running());
  ExpectCleanExit(client);
  EXPECT_EQ(Occurrences(client.Output(), "DDS could not be started: ROS_DOMAIN_ID '4294967295' is out of range: a "
                                         "domain is from 0 to 232. Nothing is published.\n"), 1u)
      << client.Output();
  EXPECT_EQ(Occurrences(client.Output(), "Nothing is published.\n"), 1u);
}

}  // namespace
