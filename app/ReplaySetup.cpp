#include "ReplaySetup.h"

#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

bool UseReplay(const T_ReplayOptions& options, CSkarvIO& io, T_ReplaySetup& setup, std::string& why,
               int interruptFd) {
  auto sensor = playback::MakePlaybackSensor(options, why, interruptFd, &setup.reading);
  if (!sensor) {
    return false;
  }
  const bool manual = options.speed == 0;
  setup.bus = std::make_shared<sim::CVirtualBus>(manual ? sim::CVirtualBus::Clock::eManual
                                                        : sim::CVirtualBus::Clock::eRealTime);
  setup.bus->SetCatchUp(true);
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  setup.driver = std::make_unique<playback::CPlaybackDriver>(
      setup.bus, io, [first = std::move(sensor)]() mutable { return std::move(first); },
      playback::CPlaybackDriver::EAfterSensor::eDone);
  setup.driver->Begin();
  return true;
}
