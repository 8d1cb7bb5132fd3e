// skarv-record on both ends of the network: a recording replayed with
// --publish on one, --subscribe on the other, and the subscriber's file is
// the source file byte for byte.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "DdsEntities.h"
#include "DdsTestSupport.h"
#include "SkarvRecordTypes.h"
#include "TestSupport.h"
#include "client/ClientProcess.h"

namespace {

using std::chrono::seconds;

std::string Contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

CClientProcess::T_Setup Recorder(std::vector<std::string> arguments) {
  CClientProcess::T_Setup setup;
  setup.program = SKARV_RECORD_PROGRAM;
  setup.arguments = std::move(arguments);
  return setup;
}

int ExitStatus(CClientProcess& process) {
  int status = -1;
  EXPECT_TRUE(process.WaitForExit(seconds(120), status)) << "still running";
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DdsRecord, SubscribedRecordingOfAReplayIsTheSourceFileByteForByte) {
  ddstest::UseLoopback(48);  // inherited by the programs started here
  const std::string ns = ddstest::UniqueNamespace("rec");
  char pattern[] = "/tmp/skarv-dds-rec-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path root = pattern;
  for (const char* dir : {"source", "publisher", "subscriber"}) std::filesystem::create_directories(root / dir);

  // A recording of the virtual sensor to play back.
  CClientProcess source(Recorder({"--simulate", "--duration", "1.5", "--quiet", "--output-dir", root / "source"}));
  ASSERT_EQ(ExitStatus(source), 0) << source.Errors();
  const std::string original = Contents(root / "source" / "SkarvData-1.csv");
  ASSERT_GT(original.size(), 500000u);

  CClientProcess subscriber(Recorder({"--subscribe", ns, "--quiet", "--output-dir", root / "subscriber"}));
  // Its reader is there once it waits for a sensor: the sensor itself comes
  // with the first batch.
  ASSERT_TRUE(subscriber.WaitForOutput("HotK monitor initialized successfully!", seconds(60)))
      << subscriber.Output() << subscriber.Errors();
  CClientProcess publisher(Recorder({"--replay", root / "source" / "SkarvData-1.csv", "--speed", "0", "--publish",
                                     "--namespace", ns, "--quiet", "--output-dir", root / "publisher"}));
  ASSERT_EQ(ExitStatus(publisher), 0) << publisher.Errors();

  const std::filesystem::path copy = root / "subscriber" / "SkarvData-1.csv";
  const auto deadline = std::chrono::steady_clock::now() + seconds(60);
  while (std::chrono::steady_clock::now() < deadline &&
         (!std::filesystem::exists(copy) || std::filesystem::file_size(copy) < original.size())) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  subscriber.Signal(SIGTERM);
  EXPECT_EQ(ExitStatus(subscriber), 0) << subscriber.Errors();
  EXPECT_TRUE(Contents(copy) == original) << Contents(copy).size() << " bytes against " << original.size();
  std::filesystem::remove_all(root);
}

// Waits until `process`'s standard error holds `text`, or the time is up.
bool WaitForErrors(CClientProcess& process, const std::string& text, seconds timeout) {
  return ddstest::WaitUntil([&] { return process.Errors().find(text) != std::string::npos; }, timeout);
}

// A subscriber's backlog (records received, not yet played) at a stop: it
// plays out what it received before it ends, and says so in its summary.
TEST(DdsRecord, SigintToASubscriberWithABacklogLeavesEveryReceivedRecordInItsFile) {
  ddstest::UseLoopback(51);
  const std::string ns = ddstest::UniqueNamespace("backlog");
  CClientProcess subscriber(Recorder({"--subscribe", ns, "--quiet"}));
  ASSERT_TRUE(subscriber.WaitForOutput("HotK monitor initialized successfully!", seconds(60))) << subscriber.Errors();
  std::string error;
  skarvdds::CDdsParticipant participant;
  ASSERT_TRUE(participant.Open(error)) << error;
  ddstest::CBatchWriter writer(ns, "a test publisher", participant);
  ASSERT_TRUE(ddstest::WaitUntil(
      [&] {
        dds_publication_matched_status_t status{};
        return dds_get_publication_matched_status(writer.Handle(), &status) == DDS_RETCODE_OK &&
               status.current_count > 0;
      },
      seconds(60)));
  // The reader's side of the match can come after the writer's, and a
  // volatile reader that matches late skips what was written before: empty
  // batches go first, one a second, until the subscriber follows them.
  uint64_t batch = 0;
  bool followed = false;
  for (int probe = 0; probe < 30 && !followed; ++probe) {
    ASSERT_EQ(writer.Write(batch++, 0, 0), DDS_RETCODE_OK);
    followed = subscriber.WaitForOutput("Following the records of", seconds(1));
  }
  ASSERT_TRUE(followed) << subscriber.Output() << subscriber.Errors();
  // Three seconds of the sensor's records as fast as DDS carries them, far
  // faster than the subscriber plays them: it has a backlog when stopped.
  constexpr uint32_t kRecords = 120000;
  for (uint32_t at = 0; at < kRecords; at += 400) {
    ASSERT_EQ(writer.Write(batch++, at, 400), DDS_RETCODE_OK);
  }
  ASSERT_EQ(dds_wait_for_acks(writer.Handle(), DDS_SECS(60)), DDS_RETCODE_OK) << "every record received";
  subscriber.Signal(SIGINT);
  EXPECT_EQ(ExitStatus(subscriber), 0) << subscriber.Errors();
  EXPECT_EQ(ddstest::RecordsCountedFromZero(subscriber.WorkDir() / "SkarvData-1.csv"), kRecords);
  EXPECT_NE(subscriber.Errors().find("Summary: 1 file written, " + std::to_string(kRecords) + " records, 0 gaps, "),
            std::string::npos)
      << subscriber.Errors();
}

// The publisher followed dies: the subscriber's sensor is removed within 5 s
// and comes back with the next publisher; nobody publishing within --wait
// fails.
TEST(DdsRecord, AKilledPublisherIsRemovedWithin5sAndTheNextOneFollowed) {
  ddstest::UseLoopback(51);
  const std::string ns = ddstest::UniqueNamespace("killed");
  {
    CClientProcess waiting(Recorder({"--subscribe", ns, "--wait", "1", "--quiet"}));
    EXPECT_EQ(ExitStatus(waiting), 1);
    EXPECT_NE(waiting.Errors().find(": no publisher of rt/" + ns + "/records within 1 s"), std::string::npos)
        << waiting.Errors();
  }
  CClientProcess subscriber(Recorder({"--subscribe", ns, "--quiet"}));
  ASSERT_TRUE(subscriber.WaitForOutput("HotK monitor initialized successfully!", seconds(60))) << subscriber.Errors();
  const auto publisher = [&] {
    return std::make_unique<CClientProcess>(Recorder({"--simulate", "--publish", "--namespace", ns, "--quiet"}));
  };
  auto first = publisher();
  ASSERT_TRUE(subscriber.WaitForOutput("Device opened successfully!", seconds(60))) << subscriber.Output();
  first->Signal(SIGKILL);
  ASSERT_TRUE(subscriber.WaitForOutput("[REMOVAL]", seconds(5))) << subscriber.Output();
  EXPECT_NE(subscriber.Output().find("has stopped publishing rt/" + ns + "/records.\n"), std::string::npos);
  auto second = publisher();
  // Plugged in again: a second arrival (reading the output for a text it
  // never holds, a second at a time).
  const auto deadline = std::chrono::steady_clock::now() + seconds(60);
  while (Occurrences(subscriber.Output(), "[ARRIVAL]") < 2 && std::chrono::steady_clock::now() < deadline) {
    subscriber.WaitForOutput("\x01", seconds(1));
  }
  EXPECT_EQ(Occurrences(subscriber.Output(), "[ARRIVAL]"), 2u) << subscriber.Output();
  second->Signal(SIGINT);
  EXPECT_EQ(ExitStatus(*second), 0) << second->Errors();
  subscriber.Signal(SIGINT);
  EXPECT_EQ(ExitStatus(subscriber), 0) << subscriber.Errors();
}

// A reader that takes nothing: the publisher's close reports what it could
// not deliver, and a Ctrl-C during that close still ends the program with
// status 0, its recording complete.
TEST(DdsRecord, APublisherWithAStalledReaderSaysWhatItCouldNotDeliver) {
  ddstest::UseLoopback(51);
  const std::string ns = ddstest::UniqueNamespace("stalled");
  char pattern[] = "/tmp/skarv-dds-stalled-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path root = pattern;
  // Some 70,000 records, a dozen batches at full speed.
  CClientProcess source(Recorder({"--simulate", "--duration", "3", "--quiet", "--output-dir", root}));
  ASSERT_EQ(ExitStatus(source), 0) << source.Errors();

  std::string error;
  skarvdds::CDdsParticipant participant;
  ASSERT_TRUE(participant.Open(error)) << error;
  skarvdds::T_EndpointExtras extras;
  extras.maxSamples = 2;
  const dds_entity_t reader = participant.CreateReader(skarv_msgs_msg_dds__RawRecordBatch__desc,
                                                       "rt/" + ns + "/records", true, skarvdds::kKeepAll, error,
                                                       extras);
  ASSERT_GT(reader, 0) << error;
  for (const bool interrupted : {false, true}) {
    SCOPED_TRACE(interrupted ? "Ctrl-C during the close" : "the close gives up by itself");
    CClientProcess publisher(Recorder({"--replay", (root / "SkarvData-1.csv").string(), "--speed", "0", "--publish",
                                       "--namespace", ns, "--quiet"}));
    if (interrupted) {
      ASSERT_TRUE(WaitForErrors(publisher, "Summary: ", seconds(60))) << publisher.Errors();
      publisher.Signal(SIGINT);
    }
    EXPECT_EQ(ExitStatus(publisher), 0) << publisher.Errors();
    EXPECT_NE(publisher.Output().find(" records of rt/" + ns + "/records were not delivered to its reader ("),
              std::string::npos)
        << publisher.Output();
    EXPECT_TRUE(Contents(publisher.WorkDir() / "SkarvData-1.csv") == Contents(root / "SkarvData-1.csv"));
    ddstest::TakeAll<skarv_msgs_msg_dds__RawRecordBatch_>(reader, [](const auto&) {});
  }
  std::filesystem::remove_all(root);
}

}  // namespace
