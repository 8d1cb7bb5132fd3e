#include "SensorSource.h"

#include <memory>

#include "Diagnostics.h"
#include "LibusbBackend.h"
#include "SkarvIO.h"
#include "UsbLibrary.h"

playback::CPlaybackDriver* T_SensorSource::Playback() const {
  if (replay.driver) {
    return replay.driver.get();
  }
  return subscription.driver.get();
}

uint64_t T_SensorSource::Unplayed(uint64_t processed) const {
  // What the file gave, or DDS delivered, so far.
  const uint64_t reached = subscription.feed ? subscription.feed->RecordsReceived()
                           : replay.reading  ? replay.reading->RecordsRead()
                                             : 0;
  return reached > processed ? reached - processed : 0;
}

std::string T_SensorSource::Summary() const { return subscription.feed ? subscription.feed->Summary() : ""; }

ESourceFailure OpenSensorSource(const T_SourceChoice& choice, CSkarvIO& io, T_SensorSource& source, std::string& why,
                                int interruptFd) {
  if (choice.subscribe) {
    return UseSubscription(choice.subscribeNs, choice.sensor.serial, io, source.subscription, why) ? ESourceFailure::eNone
                                                                                : ESourceFailure::eSubscribe;
  }
  if (!choice.replay.file.empty()) {
    return UseReplay(choice.replay, io, source.replay, why, interruptFd) ? ESourceFailure::eNone
                                                                          : ESourceFailure::eReplay;
  }
  io.ChooseSensor(choice.sensor);
  if (choice.simulate) {
    source.simulation = UseVirtualSensor(choice.virtualSensors);
    return ESourceFailure::eNone;
  }
  auto backend = std::make_shared<CLibusbBackend>();
  if (!backend->Usable()) {
    DiagPrintf(EDiagLevel::eAlways, "libusb could not be started: no real sensor can be reached.\n");
  }
  UsbLib_SetBackend(backend);
  return ESourceFailure::eNone;
}
