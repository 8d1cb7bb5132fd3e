// skarv-client: the desktop client of the Skarv laser range sensor.

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "ClientOptions.h"
#include "ClientRun.h"
#include "Diagnostics.h"
#include "DisplayCheck.h"
#include "LibusbBackend.h"
#include "ReplaySetup.h"
#include "UsbLibrary.h"
#include "SkarvIO.h"
#include "VirtualSensorSetup.h"

int main(int argc, char** argv) {
  // A standard output that can no longer be written (a pipe whose reader has
  // gone) only makes the diagnostic lines fail; it never ends the client or
  // its recording.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string program = argc > 0 ? argv[0] : "skarv-client";
  const T_ClientOptions options = ParseClientOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (!options.error.empty()) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, program + ": " + options.error + "\n" + ClientUsage(program));
    return 2;
  }
  if (options.help) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, ClientUsage(program));
    return 0;
  }
  if (!DisplayAvailable(DisplayEnvironmentOfProcess())) {
    // Qt would abort inside its platform plugin; say what is missing instead.
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, NoDisplayMessage(program));
    return 1;
  }
  // Diagnostics reach the terminal line by line, in the order printed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  SetDiagQuiet(options.quiet);

  T_ReplaySetup replay;
  if (!options.replay.empty()) {
    std::string why;
    if (!UseReplay(T_ReplayOptions{options.replay, 1.0, options.loop}, gSkarvIO, replay, why)) {
      // Refused before anything starts.
      DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, why + "\n");
      return 1;
    }
  }
  QApplication app(argc, argv);
  T_VirtualSensorSetup simulation;
  if (options.simulate) {
    simulation = UseVirtualSensor();
  } else if (options.replay.empty()) {
    auto backend = std::make_shared<CLibusbBackend>();
    if (!backend->Usable()) {
      DiagPrintf(EDiagLevel::eAlways, "libusb could not be started: no real sensor can be reached.\n");
    }
    UsbLib_SetBackend(backend);
  }
  const int status = RunClient(app, gSkarvIO, [&](SorvaneClient::KivView&, SorvaneClient::KivControl&) {
    // The controller is initialised: the replay may look at it from now on.
    if (replay.driver) {
      replay.driver->StartThread();
    }
  });
  // The replay stops looking at the controller before the controller goes.
  if (replay.driver) {
    replay.driver->StopThread();
  }
  return status;
}
