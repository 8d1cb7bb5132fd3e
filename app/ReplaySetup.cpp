#include "ReplaySetup.h"

#include "McapRecordSource.h"
#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

bool UseReplay(const T_ReplayOptions& options, CSkarvIO& io, T_ReplaySetup& setup, std::string& why,
               int interruptFd) {
  std::shared_ptr<playback::CPlaybackSensor> sensor;
  if (skarvmcap::CMcapRecordSource::LooksLikeMcap(options.file)) {
    if (options.loop) {
      why = options.file + ": an MCAP recording is played once; --loop plays CSV recordings";
      return false;
    }
    auto source = std::make_shared<skarvmcap::CMcapRecordSource>(options.file);
    if (!source->Open()) {
      why = source->Error();
      return false;
    }
    sensor = playback::MakePlaybackSensor(options, std::move(source), &setup.reading);
    if (options.steer) {
      setup.steering = playback::SteerPlayback(*sensor, options, [file = options.file](std::string& failed) {
        auto reader = std::make_unique<skarvmcap::CMcapRecordSource>(file);
        if (!reader->Open()) {
          failed = reader->Error();
          return std::unique_ptr<recording::CRecordSource>();
        }
        return std::unique_ptr<recording::CRecordSource>(std::move(reader));
      });
    }
  } else {
    sensor = playback::MakePlaybackSensor(options, why, interruptFd, &setup.reading);
    if (sensor && options.steer) {
      setup.steering = playback::SteerPlayback(*sensor, options, playback::CsvIndexReader(options.file));
    }
  }
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
