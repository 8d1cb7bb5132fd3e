#include "ReplaySetup.h"

#include "RecordingLoop.h"
#include "RecordingReader.h"
#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

std::shared_ptr<sim::CPlaybackSensor> MakePlaybackSensor(const T_ReplayOptions& options, std::string& why,
                                                         int interruptFd,
                                                         std::shared_ptr<sim::CPrefetchingSource>* reading) {
  auto reader = std::make_unique<sim::CRecordingReader>(options.file);
  if (!reader->Open(interruptFd)) {
    why = reader->Error();
    return nullptr;
  }
  std::shared_ptr<sim::CRecordSource> source;
  if (options.loop) {
    source = std::make_shared<sim::CRecordingLoop>(std::move(reader));
  } else {
    source = std::move(reader);
  }
  // The file is read and parsed ahead on a thread of its own, beside the data path.
  auto ahead = std::make_shared<sim::CPrefetchingSource>(std::move(source));
  if (reading) {
    *reading = ahead;
  }
  return std::make_shared<sim::CPlaybackSensor>(std::move(ahead), options.speed);
}

bool UseReplay(const T_ReplayOptions& options, CSkarvIO& io, T_ReplaySetup& setup, std::string& why,
               int interruptFd) {
  auto sensor = MakePlaybackSensor(options, why, interruptFd, &setup.reading);
  if (!sensor) {
    return false;
  }
  const bool manual = options.speed == 0;
  setup.bus = std::make_shared<sim::CVirtualBus>(manual ? sim::CVirtualBus::Clock::eManual
                                                        : sim::CVirtualBus::Clock::eRealTime);
  setup.bus->SetCatchUp(true);
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  setup.driver = std::make_unique<CPlaybackDriver>(
      setup.bus, io, [first = std::move(sensor)]() mutable { return std::move(first); },
      CPlaybackDriver::EAfterSensor::eDone);
  setup.driver->Begin();
  return true;
}
