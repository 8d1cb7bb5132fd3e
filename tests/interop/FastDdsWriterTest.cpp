// A Fast DDS publisher of a recording's records, as a ROS 2 node on
// rmw_fastrtps would publish them, and skarv-record --subscribe recording
// them: its recording is the source recording byte for byte.

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FastDdsNode.h"
#include "InteropSupport.h"
#include "RecordWords.h"
#include "RosWireTypesPubSubTypes.h"

namespace {

using namespace interop;
namespace dds = eprosima::fastdds::dds;

constexpr uint32_t kDomain = 73;
constexpr size_t kRecordsPerBatch = 400;  // about what one update of the data path holds

TEST(FastDdsWriter, ASubscriberRecordsTheRecordsOfAFastDdsPublisherByteForByte) {
  UseLoopback(kDomain);
  const std::string ns = "fastdds_writer" + std::to_string(getpid());
  // A recording of the virtual sensor, its records to publish.
  CClientProcess source(Recorder({"--simulate", "--duration", "1.5", "--quiet"}));
  ASSERT_EQ(ExitStatus(source), 0) << source.Errors();
  const std::filesystem::path sourceFile = source.WorkDir() / "SkarvData-1.csv";
  const std::string original = Contents(sourceFile);
  std::string error;
  const std::vector<kiv::T_RawRecord> records = ReadRecording(sourceFile, error);
  ASSERT_EQ(error, "");
  ASSERT_GT(records.size(), 5000u);

  CClientProcess subscriber(Recorder({"--subscribe", ns, "--wait", "60", "--quiet"}));
  // Its reader is there once it waits for a sensor: the sensor itself comes
  // with the first batch.
  ASSERT_TRUE(subscriber.WaitForOutput("HotK monitor initialized successfully!", seconds(60))) << subscriber.Errors();
  CFastDdsNode node(kDomain);
  ASSERT_TRUE(node.Ok());
  dds::DataWriter* writer =
      node.CreateWriter("rt/" + ns + "/records",
                        dds::TypeSupport(new skarv_msgs::msg::dds_::RawRecordBatch_PubSubType()), {true, false, 0});
  ASSERT_NE(writer, nullptr);
  ASSERT_TRUE(WaitUntil(
      [&] {
        dds::PublicationMatchedStatus status;
        return writer->get_publication_matched_status(status) == ReturnCode_t::RETCODE_OK &&
               status.current_count > 0;
      },
      seconds(30)))
      << subscriber.Errors();

  skarv_msgs::msg::dds_::RawRecordBatch_ batch;
  batch.header().frame_id("skarv");
  batch.serial("SKV00001");
  uint32_t number = 0;
  const auto send = [&](size_t first, size_t end) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    batch.header().stamp().sec(static_cast<int32_t>(std::chrono::duration_cast<seconds>(now).count()));
    batch.header().stamp().nanosec(static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now % seconds(1)).count()));
    batch.batch(number++);
    batch.words().clear();
    for (size_t i = first; i < end; ++i) {
      AppendWords(records[i], batch.words());
    }
    return writer->write(&batch);
  };
  // The writer's side of the match can come before the reader's, and a
  // volatile reader that matches late skips what was written before: empty
  // batches go first, one a second, until the subscriber follows them.
  bool followed = false;
  for (int probe = 0; probe < 30 && !followed; ++probe) {
    ASSERT_TRUE(send(0, 0));
    followed = subscriber.WaitForOutput("Following the records of", seconds(1));
  }
  ASSERT_TRUE(followed) << subscriber.Output() << subscriber.Errors();
  for (size_t first = 0; first < records.size(); first += kRecordsPerBatch) {
    ASSERT_TRUE(send(first, std::min(records.size(), first + kRecordsPerBatch)));
  }
  ASSERT_EQ(writer->wait_for_acknowledgments(eprosima::fastrtps::Duration_t(30, 0)), ReturnCode_t::RETCODE_OK);

  const std::filesystem::path copy = subscriber.WorkDir() / "SkarvData-1.csv";
  WaitUntil([&] { return std::filesystem::exists(copy) && std::filesystem::file_size(copy) >= original.size(); },
            seconds(30));
  subscriber.Signal(SIGTERM);
  EXPECT_EQ(ExitStatus(subscriber), 0) << subscriber.Errors();
  const std::string copied = Contents(copy);
  EXPECT_TRUE(copied == original) << copied.size() << " bytes against " << original.size() << "\n"
                                  << subscriber.Output() << subscriber.Errors();
}

}  // namespace
