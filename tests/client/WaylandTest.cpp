// The client on a Wayland display: Weston's headless back end, in a runtime
// folder of the test's own (a machine without a desktop may have none), the
// client on the virtual sensor for 5 s of scans, a picture of the display
// showing both traces, then the client ended by SIGTERM in order. Weston
// is ended with the test whatever happens.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "ClientExit.h"
#include "ClientProcess.h"

namespace {

using std::chrono::seconds;
namespace fs = std::filesystem;

// An executable named `name` on the PATH, or none.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return "";
}

// A folder only its owner may enter, as a Wayland runtime folder must be,
// removed at the end.
struct T_RuntimeDir {
  fs::path path;
  T_RuntimeDir() {
    char pattern[] = "/tmp/skarv-wayland-XXXXXX";
    if (mkdtemp(pattern) && chmod(pattern, 0700) == 0) path = pattern;
  }
  ~T_RuntimeDir() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

// Whether a compositor listens on the socket at `path`.
bool Listening(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.string().size() >= sizeof address.sun_path) return false;
  std::strcpy(address.sun_path, path.c_str());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// Pixels of `colour` in a picture of the whole display, taken with Weston's
// screenshooter (which Weston offers with --debug); -1 without a picture.
int PixelsOnTheDisplay(const std::vector<std::string>& display, QRgb colour) {
  CClientProcess::T_Setup setup;
  setup.program = FindProgram("weston-screenshooter");
  setup.set = display;
  setup.endsWithTest = true;
  CClientProcess shooter(setup);
  int status = -1;
  if (setup.program.empty() || !shooter.WaitForExit(seconds(20), status)) return -1;
  for (const fs::directory_entry& entry : fs::directory_iterator(shooter.WorkDir())) {
    if (entry.path().extension() != ".png") continue;
    const QImage picture = QImage(QString::fromStdString(entry.path().string())).convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < picture.height(); ++y) {
      for (int x = 0; x < picture.width(); ++x) count += (picture.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    }
    return count;
  }
  return -1;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

TEST(ClientUnderWayland, DrawsScansOnWestonsHeadlessDisplayAndEndsInOrderOnSigterm) {
  const std::string weston = FindProgram("weston");
  if (weston.empty()) GTEST_SKIP() << "weston is not installed (scripts/setup.sh installs it)";
  T_RuntimeDir runtime;
  ASSERT_FALSE(runtime.path.empty());
  const std::string socket = "skarv-test-" + std::to_string(getpid());
  const std::vector<std::string> display = {"XDG_RUNTIME_DIR=" + runtime.path.string(), "WAYLAND_DISPLAY=" + socket};

  CClientProcess::T_Setup compositorSetup;
  compositorSetup.program = weston;
  // Drawn with its CPU renderer, so that the display can be pictured.
  compositorSetup.arguments = {"--backend=headless-backend.so", "--socket=" + socket, "--no-config", "--use-pixman",
                               "--width=1600", "--height=1200", "--idle-time=0", "--debug"};
  compositorSetup.unset = {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"};
  compositorSetup.set = {display[0]};
  compositorSetup.endsWithTest = true;
  CClientProcess compositor(compositorSetup);
  ASSERT_TRUE(compositor.Started());
  bool listening = false;
  for (int attempt = 0; attempt < 200 && !listening && compositor.Running(); ++attempt) {  // 10 s at most
    listening = Listening(runtime.path / socket);
    if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(listening) << "weston did not start:\n" << compositor.Errors();

  CClientProcess::T_Setup clientSetup;
  clientSetup.arguments = {"--simulate"};
  clientSetup.unset = {"DISPLAY", "WAYLAND_SOCKET"};
  clientSetup.set = display;
  clientSetup.set.push_back("QT_QPA_PLATFORM=wayland");
  // Mesa's EGL, which Qt's Wayland plugin starts when a window is shown, is
  // built without frame pointers: only a full unwind reaches the frames the
  // leak suppressions name for the memory it keeps (tests/sanitizers).
  if (const char* leakOptions = std::getenv("LSAN_OPTIONS")) {
    clientSetup.set.push_back(std::string("LSAN_OPTIONS=") + leakOptions + ":fast_unwind_on_malloc=0");
  }
  CClientProcess client(clientSetup);
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(client.WaitForOutput("SkarvIO dataLength", seconds(60))) << client.Output() << client.Errors();
  const size_t before = Count(client.Output(), "SkarvIO dataLength");
  ASSERT_TRUE(client.RunsFor(seconds(5))) << "the client ended on its own:\n" << client.Errors();
  // The virtual sensor completes about 20 scans a second.
  EXPECT_GE(Count(client.Output(), "SkarvIO dataLength"), before + 50);
  EXPECT_GT(PixelsOnTheDisplay(display, qRgb(255, 0, 0)), 500) << "the distance trace";
  EXPECT_GT(PixelsOnTheDisplay(display, qRgb(0, 128, 0)), 500) << "the width trace";
  client.Signal(SIGTERM);
  ExpectCleanExit(client);
  ExpectShutdownInOrder(client.Output(), "SkarvIO dataLength");
  EXPECT_EQ(client.Errors().find("qt.qpa.wayland"), std::string::npos) << client.Errors();

  compositor.Signal(SIGTERM);
  int status = 0;
  EXPECT_TRUE(compositor.WaitForExit(seconds(10), status)) << "weston is killed on its way out";
}

}  // namespace
