// The built client on the virtual sensor, ended by the terminal going away
// (SIGHUP), and kept alive when its standard output can no longer be written.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <thread>

#include "ClientProcess.h"

namespace {

using std::chrono::seconds;

CClientProcess::T_Setup Simulated() {
  CClientProcess::T_Setup setup;
  setup.arguments = {"--simulate"};
  // Drawn off-screen, with no display at all.
  setup.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
  setup.set = {"QT_QPA_PLATFORM=offscreen"};
  return setup;
}

void ExpectCleanExit(CClientProcess& client) {
  int status = -1;
  ASSERT_TRUE(client.WaitForExit(seconds(60), status)) << "still running";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The port's clean-up ran: the program came to the end of its exit processing.
  EXPECT_NE(client.Errors().find("Clean Port.\n"), std::string::npos) << client.Errors();
}

TEST(ClientSignal, HangUpEndsTheClientInOrder) {
  CClientProcess client(Simulated());
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(client.WaitForOutput("SkarvIO dataLength", seconds(60))) << client.Output() << client.Errors();
  client.Signal(SIGHUP);
  ExpectCleanExit(client);
  // Both workers stop, in either order, before the main thread's clean-up.
  const std::string& out = client.Output();
  const size_t running = out.find("SkarvIO dataLength");
  const size_t cleanUp = out.find("Thread Done. Clean up...\n", running);
  ASSERT_NE(cleanUp, std::string::npos) << out;
  for (const char* line : {"View Thread Done....\n", "Control Thread Done....\n"}) {
    const size_t found = out.find(line, running);
    EXPECT_LT(found, cleanUp) << line << "\n" << out;
  }
  EXPECT_NE(out.find("Removed cleanup start \n", cleanUp), std::string::npos) << out;
}

TEST(ClientSignal, ClosedStandardOutputNeitherEndsNorStopsTheClient) {
  CClientProcess client(Simulated());
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(client.WaitForOutput("SkarvIO dataLength", seconds(60))) << client.Output() << client.Errors();
  client.CloseOutput();
  // Each completed scan prints a line and hands the scan to the window
  // thread; a good many write calls later the client has written to the
  // closed pipe many times over. Where the system does not count write calls,
  // a few seconds of running stand in for them.
  const std::optional<uint64_t> before = client.WriteCalls();
  const auto start = std::chrono::steady_clock::now();
  const auto enough = [&] {
    return before ? client.WriteCalls().value_or(0) >= *before + 200
                  : std::chrono::steady_clock::now() > start + seconds(5);
  };
  while (!enough()) {
    ASSERT_TRUE(client.Running()) << "the client ended on its own: " << client.Errors();
    ASSERT_LT(std::chrono::steady_clock::now(), start + seconds(60)) << "the client made no progress";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(client.Running());
  client.Signal(SIGHUP);
  ExpectCleanExit(client);
}

}  // namespace
