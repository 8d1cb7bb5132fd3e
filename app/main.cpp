// skarv-client: the desktop client of the Skarv laser range sensor.

#include <QApplication>
#include <QPushButton>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ClientOptions.h"
#include "ClientRun.h"
#include "DdsFrontEnd.h"
#include "Diagnostics.h"
#include "DisplayCheck.h"
#include "KivControl.h"
#include "McapRecorder.h"
#include "ReplayControls.h"
#include "SensorListing.h"
#include "SensorSource.h"
#include "SkarvIO.h"
#include "StopRequest.h"
#include "Version.h"

int main(int argc, char** argv) {
  // A standard output that can no longer be written (a pipe whose reader has
  // gone) only makes the diagnostic lines fail; it never ends the client or
  // its recording.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string program = argc > 0 ? argv[0] : "skarv-client";
  // Made first, so that it outlives everything else: a signal while the DDS
  // front end closes must still find it.
  CStopRequest stop;
  const T_ClientOptions options = kClientCommandLine.Parse(argc, argv);
  if (const std::optional<int> status = UsageExit(program, options, kClientCommandLine.Usage(program))) {
    return *status;
  }
  if (options.list) {
    return ListSensors(program, options.simulate, options.sensors);
  }
  CDdsFrontEnd dds(options.dds);
  if (!DisplayAvailable(DisplayEnvironmentOfProcess())) {
    // Qt would abort inside its platform plugin; say what is missing instead.
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, NoDisplayMessage(program));
    return 1;
  }
  // Diagnostics reach the terminal in the order printed; the chatty
  // per-update lines go out in batches, a tenth of a second apart at most.
  std::setvbuf(stdout, nullptr, _IOFBF, 0);
  DiagHoldPerUpdateLines(kPerUpdateLinesHeld);
  SetDiagQuiet(options.quiet);

  // Signals only make a request: the event loop quits on it. A replayed
  // pipe's wait for its first line ends with it too.
  stop.CatchSignals();
  T_SensorSource source;
  T_SourceChoice choice{dds.Options().subscribe, dds.Options().subscribeNs, {options.replay, 1.0, options.loop, true},
                        options.simulate, options.sensors, options.sensor};
  if (std::string why; OpenSensorSource(choice, gSkarvIO, source, why, stop.InterruptFd()) != ESourceFailure::eNone) {
    // Refused before anything starts.
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, why + "\n");
    return 1;
  }
  playback::CPlaybackDriver* playback = source.Playback();
  // Qt's own event loop rather than GLib's: nothing here uses GLib's, and
  // Qt's takes fewer system calls for each wake-up.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
    qputenv("QT_NO_GLIB", "1");
  }
  QApplication app(argc, argv);
  // The MCAP file beside each CSV file the panel records, of its records.
  std::unique_ptr<skarvmcap::CMcapRecorder> mcap;
  if (options.mcap) {
    mcap = std::make_unique<skarvmcap::CMcapRecorder>(
        dds.Options(), SkarvVersion(), "",
        [] {
          const T_DeviceStatus status = gSkarvIO.GetDeviceStatus();
          return status.Recording ? status.FileName : std::string();
        },
        options.Split());
  }
  gSkarvIO.SetRecordingSplit(options.Split());
  if (options.mcap) {
    gSkarvIO.SetRecordingCompanions({".mcap"});
  }
  dds.Start(source.replay.driver != nullptr);
  // A replay's controls, in a window of their own beside the two.
  std::unique_ptr<ui::CReplayControls> replayControls;
  if (source.replay.steering) {
    replayControls = std::make_unique<ui::CReplayControls>(source.replay.steering);
  }
  const int status = RunClient(
      app, gSkarvIO, stop,
      [&](SorvaneClient::KivView&, SorvaneClient::KivControl& control) {
        if (options.trends) {
          control.ButtonTrends->click();
        }
        // The controller is initialised: the driver may look at it from now on.
        if (playback) {
          playback->StartThread();
        }
        if (replayControls) {
          replayControls->show();
        }
      },
      [&](CDataPath& path) {
        dds.Attach(path);
        if (mcap) {
          mcap->Attach(path);
        }
      },
      [&] {
        // What reached a replay's or a subscription's source is played out
        // (and recorded, when recording) before the workers stop.
        if (playback) {
          const uint32_t requests = stop.Count();
          playback->PlayOut([&stop, requests] { return stop.Count() > requests; });
        }
      });
  // The playback stops looking at the controller before the controller goes.
  if (playback) {
    playback->StopThread();
  }
  // The data path has stopped: the MCAP file is finished.
  if (mcap) {
    mcap->Close();
  }
  // The publisher sends what it still holds while its readers take it; a
  // further stop request gives that up.
  const uint32_t requests = stop.Count();
  dds.Finish([&stop, requests] { return stop.Count() > requests; });
  return status;
}
