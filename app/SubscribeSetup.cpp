#include "SubscribeSetup.h"

#include "SkarvIO.h"
#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

bool UseSubscription(const std::string& ns, const std::string& serial, CSkarvIO& io, T_SubscribeSetup& setup,
                     std::string& why, sim::CVirtualBus::Clock clock) {
  auto feed = std::make_shared<skarvdds::CRecordFeed>(ns, serial);
  if (!feed->Active()) {
    why = feed->Error();
    return false;
  }
  setup.feed = feed;
  setup.bus = std::make_shared<sim::CVirtualBus>(clock);
  setup.bus->SetCatchUp(true);
  io.SetRemoteSensor(true);
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  const std::string unnamed = ns.empty() ? "DDS" : ns;
  setup.driver = std::make_unique<playback::CPlaybackDriver>(
      setup.bus, io,
      [feed, unnamed]() -> std::shared_ptr<playback::CPlaybackSensor> {
        auto session = feed->TakeSession();
        if (!session) {
          return nullptr;
        }
        const std::string name = session->Serial().empty() ? unnamed : session->Serial();
        // Speed 0: each record goes out as soon as the host reads after it
        // arrived; the records keep the sensor's own times.
        return std::make_shared<playback::CPlaybackSensor>(std::move(session), 0.0, name);
      },
      playback::CPlaybackDriver::EAfterSensor::eNext);
  setup.driver->Begin();
  return true;
}
