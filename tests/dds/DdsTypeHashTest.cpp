// ROS 2's type hashes: the ones this client computes are the ones ROS 2's
// generated code carries, and every writer and reader a peer discovers
// carries its type's hash in its user data, before any entry of its own.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "DdsEntities.h"
#include "DdsTestSupport.h"
#include "DiagCapture.h"
#include "RecordFeed.h"
#include "RosMessageTypes.h"
#include "RosTypeDescriptions.h"
#include "SkarvRecordTypes.h"

namespace {

using std::chrono::seconds;

// The hashes ROS 2's generated code (Jazzy's, for one) carries for these
// types; RawRecordBatch's is what ROS 2's generator's procedure gives for
// its fields.
TEST(DdsTypeHash, EachTypeHashesAsRos2sGeneratedCodeHasIt) {
  const std::pair<const char*, const char*> expected[] = {
      {"sensor_msgs::msg::dds_::LaserScan_", "RIHS01_64c191398013af96509d518dac71d5164f9382553fce5c1f8cca5be7924bd828"},
      {"sensor_msgs::msg::dds_::Imu_", "RIHS01_7d9a00ff131080897a5ec7e26e315954b8eae3353c3f995c55faf71574000b5b"},
      {"builtin_interfaces::msg::dds_::Time_", "RIHS01_b106235e25a4c5ed35098aa0a61a3ee9c9b18d197f398b0e4206cea9acf9c197"},
      {"std_msgs::msg::dds_::Header_", "RIHS01_f49fb3ae2cf070f793645ff749683ac6b06203e41c891e17701b1cb597ce6a01"},
      {"tf2_msgs::msg::dds_::TFMessage_", "RIHS01_e369d0f05a23ae52508854b66f6aa0437f3449d652e8cbf22d5abe85d020f087"},
      // DiagnosticStatus's `byte level` is of the byte type; its constants are no part of it.
      {"diagnostic_msgs::msg::dds_::DiagnosticArray_",
       "RIHS01_5a8a36efb05fb25070fa0fb3810290c0e6cd4862b54a8fb975a1ee8dc55a333e"},
      {"skarv_msgs::msg::dds_::RawRecordBatch_",
       "RIHS01_e6437c89e988e27a103251dfa2549eb7e64d583b466902bd34c7f202a2c9b5a4"},
  };
  for (const auto& [type, hash] : expected) {
    EXPECT_EQ(skarvdds::TypeHashOf(type), hash) << type;
  }
  // Every type described refers only to types described.
  for (const skarvdds::T_TypeDescription& type : skarvdds::RosTypeDescriptions()) {
    std::string error;
    EXPECT_FALSE(skarvdds::Rihs01Hash(type.name, skarvdds::RosTypeDescriptions(), error).empty()) << error;
  }
  // Every type the client puts on the wire, by the name its IDL gives it.
  for (const dds_topic_descriptor_t* type :
       {&sensor_msgs_msg_dds__LaserScan__desc, &sensor_msgs_msg_dds__Imu__desc, &sensor_msgs_msg_dds__MagneticField__desc,
        &sensor_msgs_msg_dds__Temperature__desc, &tf2_msgs_msg_dds__TFMessage__desc,
        &diagnostic_msgs_msg_dds__DiagnosticArray__desc, &skarv_msgs_msg_dds__RawRecordBatch__desc}) {
    EXPECT_NE(skarvdds::TypeHashOf(type->m_typename), "") << type->m_typename;
  }
  EXPECT_EQ(skarvdds::TypeHashOf("sensor_msgs::msg::dds_::PointCloud2_"), "");
  EXPECT_EQ(skarvdds::TypeHashOf("LaserScan"), "");
}

std::string UserDataOf(const dds_builtintopic_endpoint_t* endpoint) {
  void* value = nullptr;
  size_t size = 0;
  std::string text;
  if (dds_qget_userdata(endpoint->qos, &value, &size) && value) {
    text.assign(static_cast<const char*>(value), size);
  }
  dds_free(value);
  return text;
}

// The user data of the one endpoint `entity` is matched with, as discovered.
std::string MatchedUserData(dds_entity_t entity, bool publications) {
  dds_instance_handle_t handle = 0;
  const auto matched = [&] {
    return (publications ? dds_get_matched_publications(entity, &handle, 1)
                         : dds_get_matched_subscriptions(entity, &handle, 1)) == 1;
  };
  if (!ddstest::WaitUntil(matched, seconds(30))) return "(not matched)";
  dds_builtintopic_endpoint_t* endpoint = publications ? dds_get_matched_publication_data(entity, handle)
                                                       : dds_get_matched_subscription_data(entity, handle);
  if (!endpoint) return "(no data)";
  const std::string text = UserDataOf(endpoint);
  dds_builtintopic_free_endpoint(endpoint);
  return text;
}

TEST(DdsTypeHash, APeerSeesTheTypeHashOfEveryWriterAndReaderBeforeTheirOwnEntries) {
  ddstest::UseLoopback(51);
  const std::string ns = ddstest::UniqueNamespace("typehash");
  std::string error;
  skarvdds::CDdsParticipant client;
  skarvdds::CDdsParticipant peer;
  ASSERT_TRUE(client.Open(error)) << error;
  ASSERT_TRUE(peer.Open(error)) << error;
  const std::string scan = "rt/" + ns + "/scan";
  const std::string imu = "rt/" + ns + "/imu";
  const std::string records = "rt/" + ns + "/records";
  ASSERT_GT(client.CreateWriter(sensor_msgs_msg_dds__LaserScan__desc, scan, 5, error), 0) << error;
  ASSERT_GT(client.CreateReader(sensor_msgs_msg_dds__Imu__desc, imu, true, 5, error), 0) << error;
  skarvdds::T_EndpointExtras named;
  named.userData = skarvdds::UserDataEntry(skarvdds::kPublisherKey, "skarv-record pid 4242 on robot1");
  ASSERT_GT(client.CreateWriter(skarv_msgs_msg_dds__RawRecordBatch__desc, records, skarvdds::kKeepAll, error, named),
            0)
      << error;

  const dds_entity_t scanReader = peer.CreateReader(sensor_msgs_msg_dds__LaserScan__desc, scan, true, 5, error);
  const dds_entity_t imuWriter = peer.CreateWriter(sensor_msgs_msg_dds__Imu__desc, imu, 5, error);
  const dds_entity_t recordsReader =
      peer.CreateReader(skarv_msgs_msg_dds__RawRecordBatch__desc, records, true, skarvdds::kKeepAll, error);
  EXPECT_EQ(MatchedUserData(scanReader, true),
            "typehash=RIHS01_64c191398013af96509d518dac71d5164f9382553fce5c1f8cca5be7924bd828;");
  EXPECT_EQ(MatchedUserData(imuWriter, false),
            "typehash=RIHS01_7d9a00ff131080897a5ec7e26e315954b8eae3353c3f995c55faf71574000b5b;");
  EXPECT_EQ(MatchedUserData(recordsReader, true),
            "typehash=" + std::string(skarvdds::TypeHashOf("skarv_msgs::msg::dds_::RawRecordBatch_")) +
                ";publisher=skarv-record pid 4242 on robot1;");
}

// A subscriber names a publisher by its entry, and an older publisher,
// whose user data is nothing but its name, by all of it.
TEST(DdsTypeHash, ASubscriberNamesNewAndOlderPublishersAlike) {
  ddstest::UseLoopback(51);
  const std::string ns = ddstest::UniqueNamespace("names");
  const std::string topic = "rt/" + ns + "/records";
  std::string error;
  skarvdds::CDdsParticipant participant;
  ASSERT_TRUE(participant.Open(error)) << error;
  const CDiagCapture capture;
  skarvdds::CRecordFeed feed(ns);
  ASSERT_TRUE(feed.Active()) << feed.Error();
  ddstest::CBatchWriter current(ns, "skarv-record pid 4242 on robot1", participant);
  ddstest::CBatchWriter older(ns, "skarv-record pid 17 on robot2", participant, "", true);
  ASSERT_TRUE(ddstest::WaitUntil([&] { return feed.MatchedPublishers() == 2; }, seconds(30)));
  current.Write(0, 0, 10);
  ASSERT_TRUE(ddstest::WaitUntil([&] { return feed.PublishersFollowed() == 1; }, seconds(30)));
  older.Write(0, 0, 10);
  const std::string ignored = "Another publisher of " + topic +
                              ", skarv-record pid 17 on robot2, is ignored while skarv-record pid 4242 on robot1 "
                              "is followed.\n";
  EXPECT_TRUE(ddstest::WaitUntil([&] { return capture.Text().find(ignored) != std::string::npos; }, seconds(30)))
      << capture.Text();
  EXPECT_NE(capture.Text().find("Following the records of skarv-record pid 4242 on robot1 on " + topic + ".\n"),
            std::string::npos)
      << capture.Text();
}

}  // namespace
