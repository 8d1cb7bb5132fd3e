// --help prints the usage and nothing else, with or without a display (a
// refused command line: tests/options).

#include <gtest/gtest.h>

#include <sys/wait.h>

#include "ClientOptions.h"
#include "ClientProcess.h"

namespace {

// Runs the built client with `arguments` and no display; returns its exit status.
int RunWithoutDisplay(const std::vector<std::string>& arguments, std::string& out, std::string& errors) {
  CClientProcess::T_Setup setup;
  setup.arguments = arguments;
  setup.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"};
  CClientProcess client(setup);
  EXPECT_TRUE(client.Started());
  int status = -1;
  EXPECT_TRUE(client.WaitForExit(std::chrono::seconds(60), status));
  out = client.Output();
  errors = client.Errors();
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return WEXITSTATUS(status);
}

TEST(ClientUsage, HelpPrintsTheUsageAlone) {
  const std::string usage = kClientCommandLine.Usage(SKARV_CLIENT_PROGRAM);
  std::string out;
  std::string errors;
  EXPECT_EQ(RunWithoutDisplay({"--help"}, out, errors), 0);
  EXPECT_EQ(out, usage);
  EXPECT_EQ(errors, "");
}

}  // namespace
