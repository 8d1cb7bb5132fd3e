#include "SensorSource.h"

#include <memory>

#include "Diagnostics.h"
#include "LibusbBackend.h"
#include "UsbLibrary.h"

ESourceFailure OpenSensorSource(const T_SourceChoice& choice, CSkarvIO& io, T_SensorSource& source, std::string& why) {
  if (choice.subscribe) {
    return UseSubscription(choice.subscribeNs, io, source.subscription, why) ? ESourceFailure::eNone
                                                                            : ESourceFailure::eSubscribe;
  }
  if (!choice.replay.file.empty()) {
    return UseReplay(choice.replay, io, source.replay, why) ? ESourceFailure::eNone : ESourceFailure::eReplay;
  }
  if (choice.simulate) {
    source.simulation = UseVirtualSensor();
    return ESourceFailure::eNone;
  }
  auto backend = std::make_shared<CLibusbBackend>();
  if (!backend->Usable()) {
    DiagPrintf(EDiagLevel::eAlways, "libusb could not be started: no real sensor can be reached.\n");
  }
  UsbLib_SetBackend(backend);
  return ESourceFailure::eNone;
}
