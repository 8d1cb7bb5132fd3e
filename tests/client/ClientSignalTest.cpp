// The built client on the virtual sensor, ended by the terminal going away
// (SIGHUP), and kept alive when its standard output can no longer be written.

#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

#include "ClientExit.h"
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

TEST(ClientSignal, HangUpEndsTheClientInOrder) {
  CClientProcess client(Simulated());
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(client.WaitForOutput("SkarvIO dataLength", seconds(60))) << client.Output() << client.Errors();
  client.Signal(SIGHUP);
  ExpectCleanExit(client);
  ExpectShutdownInOrder(client.Output(), "SkarvIO dataLength");
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
