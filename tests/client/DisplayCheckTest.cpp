// Whether the windows can be shown, decided before Qt would abort.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include "ClientProcess.h"
#include "DisplayCheck.h"

namespace {

T_DisplayEnvironment With(const std::string& platform, const std::string& display = "",
                          const std::string& wayland = "", bool socket = false) {
  return T_DisplayEnvironment{platform, display, wayland, socket};
}

TEST(DisplayCheck, NeedsTheDisplayOfThePluginsQtWouldTry) {
  // Qt's own choice on a desktop.
  EXPECT_FALSE(DisplayAvailable(With("")));
  EXPECT_TRUE(DisplayAvailable(With("", ":0")));
  EXPECT_TRUE(DisplayAvailable(With("", "", "wayland-1")));
  EXPECT_TRUE(DisplayAvailable(With("", "", "", true)));
  // Named plugins, alone, with arguments, or as a list tried in turn.
  EXPECT_FALSE(DisplayAvailable(With("xcb", "", "wayland-1")));
  EXPECT_TRUE(DisplayAvailable(With("xcb", ":99")));
  EXPECT_FALSE(DisplayAvailable(With("wayland", ":0")));
  EXPECT_TRUE(DisplayAvailable(With("wayland-egl", "", "wayland-0")));
  EXPECT_FALSE(DisplayAvailable(With("wayland;xcb")));
  EXPECT_TRUE(DisplayAvailable(With("wayland;xcb", ":0")));
  // Plugins that need no display.
  EXPECT_TRUE(DisplayAvailable(With("offscreen")));
  EXPECT_TRUE(DisplayAvailable(With("minimal")));
  EXPECT_TRUE(DisplayAvailable(With("vnc:size=800x600")));
  EXPECT_TRUE(DisplayAvailable(With("xcb;offscreen")));
}

TEST(DisplayCheck, WithoutADisplayTheClientSaysSoAndEndsWithStatusOne) {
  CClientProcess::T_Setup setup;
  setup.arguments = {"--simulate"};
  setup.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"};
  CClientProcess client(setup);
  ASSERT_TRUE(client.Started());
  int status = -1;
  ASSERT_TRUE(client.WaitForExit(std::chrono::seconds(60), status));
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(client.Errors(), NoDisplayMessage(SKARV_CLIENT_PROGRAM));
  EXPECT_NE(client.Errors().find("xvfb-run"), std::string::npos);
  EXPECT_EQ(client.Output(), "") << "nothing was started";
}

}  // namespace
