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

#include "DdsTestSupport.h"
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

}  // namespace
