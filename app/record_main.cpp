// skarv-record: records the Skarv laser range sensor without windows.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "DataPath.h"
#include "DdsFrontEnd.h"
#include "DdsOptions.h"
#include "Diagnostics.h"
#include "KivDataPipe.h"
#include "McapRecorder.h"
#include "RecordOptions.h"
#include "Recorder.h"
#include "RecorderClock.h"
#include "SensorListing.h"
#include "SensorSource.h"
#include "SkarvIO.h"
#include "StopRequest.h"
#include "Version.h"

namespace {

// Bus frames per step of a replay at full speed: all the frames the data
// pipe's ring of transfers has queued, so that every transfer completes
// between two steps and one step of the data path takes them all (the data
// pipe leaves what its storage cannot hold in the ring for the next update
// of the same step). Fewer, longer steps cost less per record.
constexpr uint32_t kReplayFramesPerStep =
    CUSBKivDataPipe::kFramesPerTransfer * CUSBKivDataPipe::kOverlappingTransfers;
// A step waits this long at most for a source that has no record ready,
// rather than letting frames pass for nothing; a stop request is seen
// between steps.
constexpr int kSourceWaitMs = 10;

}  // namespace

int main(int argc, char** argv) {
  // A standard output that can no longer be written only makes the
  // diagnostic lines fail; it never ends the recording.
  std::signal(SIGPIPE, SIG_IGN);
  const std::string program = argc > 0 ? argv[0] : "skarv-record";
  // Made first, so that it outlives everything else: a signal while the DDS
  // front end closes must still find it.
  CStopRequest stop;
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (std::string why; !ExpandConfigFiles(arguments, why)) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, program + ": " + why + "\n");
    return 2;
  }
  const T_RecordOptions options = kRecordCommandLine.Parse(arguments);
  if (const std::optional<int> status = UsageExit(program, options, kRecordCommandLine.Usage(program))) {
    return *status;
  }
  if (options.list) {
    return ListSensors(program, options.simulate, options.sensors);
  }
  CDdsFrontEnd dds(options.dds);
  // Diagnostics reach the terminal in the order printed; the chatty
  // per-update lines go out in batches, a tenth of a second apart at most.
  std::setvbuf(stdout, nullptr, _IOFBF, 0);
  DiagHoldPerUpdateLines(kPerUpdateLinesHeld);
  SetDiagQuiet(options.quiet);

  // Signals only make a request; the recorder's loop sees it and ends in
  // order. A replayed pipe's wait for its first line ends with it too.
  stop.CatchSignals();

  T_SensorSource source;
  T_SourceChoice choice{dds.Options().subscribe, dds.Options().subscribeNs,
                        {options.replay, options.speed, options.loop}, options.simulate, options.sensors,
                        options.sensor};
  std::string why;
  if (const ESourceFailure failure = OpenSensorSource(choice, gSkarvIO, source, why, stop.InterruptFd());
      failure != ESourceFailure::eNone) {
    // A subscription DDS cannot start, or a file that is not a recording,
    // is refused before anything starts.
    const char* what = failure == ESourceFailure::eReplay ? ": cannot replay " : ": ";
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, program + what + why + "\n");
    return 1;
  }
  T_ReplaySetup& replay = source.replay;
  playback::CPlaybackDriver* playback = source.Playback();

  T_RecorderSettings settings;
  settings.durationSeconds = options.duration;
  settings.waitSeconds = options.wait;
  settings.outputDir = options.outputDir;
  settings.progress = ::isatty(STDERR_FILENO) == 1;
  settings.outputOnTerminal = ::isatty(STDOUT_FILENO) == 1;
  settings.program = program;
  if (dds.Options().subscribe) {
    settings.awaited = "publisher of " + skarvdds::TopicName(dds.Options().subscribeNs, "records");
  }
  if (!options.sensor.Any()) {
    settings.awaited += " with " + options.sensor.Describe();
  }

  gSkarvIO.SetRecordingSplit(options.Split());
  if (options.csv && options.mcap) {
    gSkarvIO.SetRecordingCompanions({".mcap"});
  }
  CDataPath dataPath(gSkarvIO);
  std::unique_ptr<IRecorderClock> clock;
  const bool stepped = replay.bus && options.speed == 0;
  if (stepped) {
    // As fast as the data path takes the records: the replay's bus runs on
    // a manual clock that the recorder's loop steps, with the replay
    // looked after between steps. Its time is the records' own.
    clock = std::make_unique<CSteppedClock>(
        dataPath,
        [&replay](uint32_t frames) {
          replay.driver->Poll();
          replay.driver->AwaitSource(kSourceWaitMs);
          replay.bus->Advance(frames);
        },
        kReplayFramesPerStep, CSteppedClock::ETime::eRecords);
  } else {
    clock = std::make_unique<CWallClock>(dataPath, stop);
  }
  // A recording played back waits for a publisher that is behind; a live
  // sensor cannot.
  dds.Start(replay.driver != nullptr);
  dds.Attach(dataPath);
  CRecorder recorder(gSkarvIO, *clock, stop, settings);
  // The MCAP file: beside the CSV file, of the same records, or on its own.
  std::unique_ptr<skarvmcap::CMcapRecorder> mcap;
  if (options.mcap) {
    std::function<std::string()> csvPath;
    if (options.csv) {
      csvPath = [] {
        const T_DeviceStatus status = gSkarvIO.GetDeviceStatus();
        return status.Recording ? status.FileName : std::string();
      };
    }
    mcap = std::make_unique<skarvmcap::CMcapRecorder>(dds.Options(), SkarvVersion(), options.outputDir, csvPath,
                                                      options.Split());
    mcap->Attach(dataPath);
    T_CompanionHooks companion;
    companion.csvToo = options.csv;
    companion.failure = [&mcap] { return mcap->Failure(); };
    companion.close = [&mcap] { return mcap->Close(); };
    companion.file = [&mcap] { return mcap->File(); };
    companion.records = [&mcap] { return mcap->Records(); };
    companion.files = [&mcap] { return mcap->Files(); };
    companion.bytes = [&mcap] { return mcap->Bytes(); };
    recorder.SetCompanion(std::move(companion));
  }
  if (playback && !stepped) {
    // The controller is initialised: the driver may look at it from now on.
    recorder.SetOnStarted([playback] { playback->StartThread(); });
  }
  if (playback) {
    T_SourceHooks hooks;
    hooks.check = [playback, &replay] {
      T_SourceState state;
      state.ended = playback->Done();
      // The driver has printed the bad line already; the failure names it again.
      if (const std::string error = playback->Error(); !error.empty()) {
        state.error = (replay.driver ? "the replay stopped: " : "the subscription stopped: ") + error;
      }
      return state;
    };
    hooks.endIntake = [playback] { playback->EndSources(); };
    hooks.unplayed = [&source] { return source.Unplayed(gSkarvIO.GetDeviceStatus().RecordsProcessed); };
    hooks.summary = [&source] { return source.Summary(); };
    hooks.drainSeconds = playback::CPlaybackDriver::kPlayOutSeconds;
    recorder.SetSource(std::move(hooks));
  }
  const int status = recorder.Run();
  // The playback stops looking at the controller before the controller goes.
  if (playback) {
    playback->StopThread();
  }
  // The publisher sends what it still holds while its readers take it; a
  // further stop request gives that up.
  const uint32_t requests = stop.Count();
  dds.Finish([&stop, requests] { return stop.Count() > requests; });
  return status;
}
