// skarv-record: records the Skarv laser range sensor without windows.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "DataPath.h"
#include "Diagnostics.h"
#include "LibusbBackend.h"
#include "RecordOptions.h"
#include "Recorder.h"
#include "RecorderClock.h"
#include "SkarvIO.h"
#include "StopRequest.h"
#include "UsbLibrary.h"
#include "VirtualSensorSetup.h"

int main(int argc, char** argv) {
  // A standard output that can no longer be written only makes the
  // diagnostic lines fail; it never ends the recording.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string program = argc > 0 ? argv[0] : "skarv-record";
  const T_RecordOptions options = ParseRecordOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (!options.error.empty()) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, program + ": " + options.error + "\n" + RecordUsage(program));
    return 2;
  }
  if (options.help) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, RecordUsage(program));
    return 0;
  }
  if (!options.replay.empty()) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr,
              program + ": --replay is not wired into this build yet: no recording can be played back\n");
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  SetDiagQuiet(options.quiet);

  // Signals only make a request; the recorder's loop sees it and ends in order.
  CStopRequest stop;
  stop.CatchSignals();

  T_VirtualSensorSetup simulation;
  if (options.simulate) {
    simulation = UseVirtualSensor();
  } else {
    auto backend = std::make_shared<CLibusbBackend>();
    if (!backend->Usable()) {
      DiagPrintf(EDiagLevel::eAlways, "libusb could not be started: no real sensor can be reached.\n");
    }
    UsbLib_SetBackend(backend);
  }

  T_RecorderSettings settings;
  settings.durationSeconds = options.duration;
  settings.waitSeconds = options.wait;
  settings.outputDir = options.outputDir;
  settings.progress = ::isatty(STDERR_FILENO) == 1;
  settings.outputOnTerminal = ::isatty(STDOUT_FILENO) == 1;
  settings.program = program;

  CDataPath dataPath(gSkarvIO);
  CWallClock clock(dataPath, stop);
  CRecorder recorder(gSkarvIO, clock, stop, settings);
  return recorder.Run();
}
