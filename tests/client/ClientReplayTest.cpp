// The built client playing a recording back (--replay): a file that is not
// a recording is refused before anything starts; a bad line is reported on
// standard error once everything before it was played, the replayed sensor
// is unplugged and the client keeps running.

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ClientProcess.h"

namespace {

using std::chrono::seconds;

class ClientReplay : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/skarv-client-replay-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  static CClientProcess::T_Setup Replaying(const std::string& file) {
    CClientProcess::T_Setup setup;
    setup.arguments = {"--replay", file, "--quiet"};
    setup.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
    setup.set = {"QT_QPA_PLATFORM=offscreen"};
    return setup;
  }

  std::filesystem::path dir;
};

TEST_F(ClientReplay, AFileThatIsNotARecordingIsRefusedWithStatus1) {
  const std::string file = (dir / "notes.csv").string();
  std::ofstream(file) << "Count;Distance\n";
  CClientProcess client(Replaying(file));
  ASSERT_TRUE(client.Started());
  int status = -1;
  ASSERT_TRUE(client.WaitForExit(seconds(60), status));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(client.Errors().find(file + ": not a recording (its first line is not the recording header)\n"),
            std::string::npos)
      << client.Errors();
  EXPECT_EQ(client.Output().find("Starting up"), std::string::npos) << "nothing started";
}

TEST_F(ClientReplay, ABadLineEndsTheReplayWithTheSensorUnpluggedAndTheClientRunning) {
  const std::string file = (dir / "SkarvData-1.csv").string();
  {
    std::ofstream out(file);
    out << "Count,DeltTime,Distance,Width,AnaTemp,ScanState,LaserPower,SupplyVoltage,"
           "AccelX,AccelY,AccelZ,IMUTemp,GyroX,GyroY,GyroZ,MagX,MagY,MagZ\n";
    for (int i = 0; i < 300; ++i) {
      out << i << ",250,123.400000,50,25.499160,0,1800,11.999889,1,2,16384,1250,0,0,0,220,-95,-410\n";
    }
    out << "300,250,123.400000,50\n";
  }
  CClientProcess client(Replaying(file));
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(client.WaitForOutput("[REMOVAL]", seconds(60))) << client.Output() << client.Errors();
  EXPECT_NE(client.Errors().find(file + ":302: 4 fields, expected 18\n"), std::string::npos) << client.Errors();
  EXPECT_TRUE(client.Running()) << "the windows stay";
  client.Signal(SIGTERM);
  int status = -1;
  ASSERT_TRUE(client.WaitForExit(seconds(60), status));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
