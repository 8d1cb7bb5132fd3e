// The built client with --quiet on the virtual sensor: start-up, hot-plug and
// the orderly end still print, the lines of every update and scan do not.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <thread>

#include "ClientProcess.h"

namespace {

using std::chrono::seconds;

TEST(ClientQuiet, QuietLeavesOutTheLinesOfEveryUpdateAndScan) {
  CClientProcess::T_Setup setup;
  setup.arguments = {"--simulate", "--quiet"};
  setup.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
  setup.set = {"QT_QPA_PLATFORM=offscreen"};
  CClientProcess client(setup);
  ASSERT_TRUE(client.Started());
  // The control panel's first status answer: both workers are running.
  ASSERT_TRUE(client.WaitForOutput("Got Status Data:\n", seconds(60))) << client.Output() << client.Errors();
  // Let the data path run a while: a client that is not quiet prints many
  // lines meanwhile (a slow machine only makes the check weaker).
  std::this_thread::sleep_for(std::chrono::seconds(1));
  client.Signal(SIGHUP);
  int status = -1;
  ASSERT_TRUE(client.WaitForExit(seconds(60), status)) << "still running";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const std::string& out = client.Output();
  for (const char* kept : {" Starting up\n", "Device opened successfully!\n", "Waiting for Threads...\n",
                           "Thread Done. Clean up...\n", "Removed cleanup start \n"}) {
    EXPECT_NE(out.find(kept), std::string::npos) << kept << "\n" << out;
  }
  for (const char* muted : {"GetNextPipeData bytesTransfered", "Edge Found", "foundScanSize", "SkarvIO dataLength"}) {
    EXPECT_EQ(out.find(muted), std::string::npos) << muted << "\n" << out.substr(0, 2000);
  }
  EXPECT_NE(client.Errors().find("Clean Port.\n"), std::string::npos) << client.Errors();
}

}  // namespace
