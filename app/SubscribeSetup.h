#pragma once
// Another machine's sensor as the source (--subscribe [NS]): the records it
// publishes are taken off DDS by a record feed and played by a playback
// sensor on the virtual bus, so every layer from the transfers up - scan
// view, panel, gap reports, recording - treats them as a local sensor's.
// The sensor is plugged in once a publisher is followed and plays each
// record as soon as it arrives, catching up as fast as the data path takes
// its transfers when it is behind; it is unplugged, as a replay's sensor is
// at the end of its file, when that publisher is gone, and plugged in again
// for the next. It takes no commands: the controller refuses them and its
// status says "Remote sensor".

#include <memory>
#include <string>

#include "PlaybackDriver.h"
#include "RecordFeed.h"
#include "VirtualBus.h"

class CSkarvIO;

struct T_SubscribeSetup {
  std::shared_ptr<skarvdds::CRecordFeed> feed;  // outlives the sensors that read it
  std::shared_ptr<sim::CVirtualBus> bus;
  std::unique_ptr<playback::CPlaybackDriver> driver;
};

// Makes a bus on `clock` the USB library's backend, with a playback driver
// that plugs in a sensor for each publisher under `ns` the feed follows,
// named by the serial number its records carry (by the namespace, or
// "DDS", when they carry none). `serial`: the sensor to follow, empty for
// any. False with `why` when DDS cannot start; nothing is set up then. A
// caller on the wall clock starts the driver's thread once the controller
// is initialised; one that steps a manual clock calls its Poll between
// steps.
bool UseSubscription(const std::string& ns, const std::string& serial, CSkarvIO& io, T_SubscribeSetup& setup,
                     std::string& why, sim::CVirtualBus::Clock clock = sim::CVirtualBus::Clock::eRealTime);
