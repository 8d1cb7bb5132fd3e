#pragma once
// Plays a SkarvData recording (CSV, or MCAP: its /records channel) back as a
// sensor on the virtual bus (--replay),
// so that every layer from the transfers up sees it as it saw the live
// sensor. A playback driver plugs a playback sensor reading the file (read
// ahead on a thread of its own); once the sensor has sent its last record
// and the controller has processed every record it sent, the driver unplugs
// it (the client reports the removal as on any unplugging). With loop the
// sensor plays the file again and again, its counts following on, and is
// never unplugged. A bad line in the file is printed once on standard error,
// as "FILE:LINE: what is wrong", after everything before it was played; the
// sensor is then unplugged and the replay is over.

#include <memory>
#include <string>

#include "PlaybackDriver.h"
#include "RecordingPlayback.h"
#include "VirtualBus.h"

class CSkarvIO;

using playback::T_ReplayOptions;

// The replay for a program's start-up: a virtual bus made the USB library's
// backend, with the recording's playback sensor plugged in. With speed 0 the
// bus runs on a manual clock and the caller steps it (bus->Advance) and
// calls driver->Poll() between steps of the data path; a step may let pass
// as many frames as the data pipe's ring of transfers has queued (160), as
// the data path takes every completed transfer in one step. Otherwise the
// bus follows the wall clock, and the caller starts the driver's thread
// (driver->StartThread()) once the controller is initialised. Either way the
// bus catches up: a sensor that is behind (after the program stood still,
// or while it plays out what it holds at a stop) is read as fast as the
// data path takes its transfers.
struct T_ReplaySetup {
  std::shared_ptr<sim::CVirtualBus> bus;
  std::unique_ptr<playback::CPlaybackDriver> driver;
  std::shared_ptr<recording::CPrefetchingSource> reading;  // the file read ahead: what it has read
  // With options.steer: the replay's controls (its file indexed on a thread
  // of its own when it is a file).
  std::shared_ptr<recording::CReplaySteering> steering;
};

// False with `why` ("FILE: why") when the file is refused; nothing is set up
// then. `interruptFd` as for playback::MakePlaybackSensor.
bool UseReplay(const T_ReplayOptions& options, CSkarvIO& io, T_ReplaySetup& setup, std::string& why,
               int interruptFd = -1);
