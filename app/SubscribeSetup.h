#pragma once
// Another machine's sensor as the source (--subscribe [NS]): the records it
// publishes are taken off DDS by a record feed and played by a playback
// sensor on the virtual bus, so every layer from the transfers up - scan
// view, panel, gap reports, recording - treats them as a local sensor's.
// The sensor plays each record as soon as it arrives. It takes no commands:
// the controller refuses them and its status says "Remote sensor".

#include <memory>
#include <string>

#include "PlaybackSensor.h"
#include "RecordFeed.h"
#include "VirtualBus.h"

class CSkarvIO;

struct T_SubscribeSetup {
  std::shared_ptr<sim::CVirtualBus> bus;
  std::shared_ptr<skarvdds::CRecordFeed> feed;
  std::shared_ptr<sim::CPlaybackSensor> sensor;
};

// Makes a bus on `clock` the USB library's backend, with the remote sensor
// plugged in, reading the records published under `ns`. False with `why`
// when DDS cannot start; nothing is set up then.
bool UseSubscription(const std::string& ns, CSkarvIO& io, T_SubscribeSetup& setup, std::string& why,
                     sim::CVirtualBus::Clock clock = sim::CVirtualBus::Clock::eRealTime);
