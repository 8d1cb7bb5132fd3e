#include "SubscribeSetup.h"

#include "SkarvIO.h"
#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

bool UseSubscription(const std::string& ns, CSkarvIO& io, T_SubscribeSetup& setup, std::string& why,
                     sim::CVirtualBus::Clock clock) {
  auto feed = std::make_shared<skarvdds::CRecordFeed>(ns);
  if (!feed->Active()) {
    why = feed->Error();
    return false;
  }
  setup.feed = feed;
  // Speed 0: each record goes out in the first frame after it arrived; the
  // records keep the sensor's own times, and no delay builds up.
  setup.sensor = std::make_shared<sim::CPlaybackSensor>(feed, 0.0, ns.empty() ? "DDS" : ns);
  setup.bus = std::make_shared<sim::CVirtualBus>(clock);
  io.SetRemoteSensor(true);
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  setup.bus->Plug(setup.sensor);
  return true;
}
