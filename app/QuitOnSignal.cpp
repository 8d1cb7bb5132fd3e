#include "QuitOnSignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Ctrl-C, a polite kill, and the terminal going away (closing its window or
// logging out) all end the client the same way.
constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};

int gSignalSockets[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  // Nothing else is safe here; a full socket means a quit is already pending.
  [[maybe_unused]] const ssize_t written = ::write(gSignalSockets[0], &byte, 1);
}

}  // namespace

CQuitOnSignal::CQuitOnSignal() {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalSockets) != 0) {
    return;
  }
  mNotifier = new QSocketNotifier(gSignalSockets[1], QSocketNotifier::Read);
  QObject::connect(mNotifier, &QSocketNotifier::activated, [] {
    char byte;
    [[maybe_unused]] const ssize_t read = ::read(gSignalSockets[1], &byte, 1);
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kQuitSignals) {
    sigaction(signal, &action, nullptr);
  }
}

CQuitOnSignal::~CQuitOnSignal() {
  for (const int signal : kQuitSignals) {
    std::signal(signal, SIG_DFL);
  }
  delete mNotifier;
  if (gSignalSockets[0] >= 0) {
    ::close(gSignalSockets[0]);
    ::close(gSignalSockets[1]);
    gSignalSockets[0] = gSignalSockets[1] = -1;
  }
}
