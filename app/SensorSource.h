#pragma once
// The sensor a program reads, chosen on its command line: another machine's
// published records (--subscribe), a recording played back (--replay), the
// built-in virtual sensor (--simulate) or, by default, a real sensor through
// libusb. Opening it makes its backend the USB library's; the result keeps
// alive what the chosen source needs for as long as the program runs.

#include <cstdint>
#include <string>

#include "ReplaySetup.h"
#include "SensorChoice.h"
#include "SubscribeSetup.h"
#include "VirtualSensorSetup.h"

struct T_SourceChoice {
  bool subscribe = false;
  std::string subscribeNs;
  T_ReplayOptions replay;  // a replay when its file is given
  bool simulate = false;
  unsigned virtualSensors = 1;  // with simulate
  // Which sensor of several: of the bus (live or virtual), or, by serial
  // number, the publisher a subscription follows.
  T_SensorChoice sensor;
};

struct T_SensorSource {
  T_SubscribeSetup subscription;
  T_ReplaySetup replay;
  T_VirtualSensorSetup simulation;

  // The driver of a replay's or a subscription's playback sensors; nullptr
  // for a live sensor.
  playback::CPlaybackDriver* Playback() const;
  // Records that reached a replay's or a subscription's source (read from
  // the file, or received) and that the controller has not processed, given
  // the controller's count of processed records: once a stop has played out
  // what reached the source, none.
  uint64_t Unplayed(uint64_t processed) const;
  // A line about faults in what a subscription received ("" when none).
  std::string Summary() const;
};

enum class ESourceFailure { eNone, eSubscribe, eReplay };

// Opens the chosen source. A subscription DDS cannot start, or a file that
// is not a recording, is refused before anything starts: the result names
// which, with `why` in plain words, and nothing is set up then. A libusb
// that cannot start is reported and leaves the program waiting for a sensor.
// The wait for a replayed pipe's first line ends once `interruptFd` (when
// not -1) is readable.
ESourceFailure OpenSensorSource(const T_SourceChoice& choice, CSkarvIO& io, T_SensorSource& source, std::string& why,
                                int interruptFd = -1);
