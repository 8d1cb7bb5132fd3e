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
  setup.bus = std::make_shared<sim::CVirtualBus>(clock);
  setup.bus->SetCatchUp(true);
  io.SetRemoteSensor(true);
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  const std::string serial = ns.empty() ? "DDS" : ns;
  setup.driver = std::make_unique<playback::CPlaybackDriver>(
      setup.bus, io,
      [feed, serial]() -> std::shared_ptr<playback::CPlaybackSensor> {
        auto session = feed->TakeSession();
        // Speed 0: each record goes out as soon as the host reads after it
        // arrived; the records keep the sensor's own times.
        return session ? std::make_shared<playback::CPlaybackSensor>(std::move(session), 0.0, serial) : nullptr;
      },
      playback::CPlaybackDriver::EAfterSensor::eNext);
  setup.driver->Begin();
  return true;
}
