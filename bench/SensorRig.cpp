#include "SensorRig.h"

#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

namespace bench {

CSensorRig::CSensorRig(bool plugSensor) {
  bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eManual, 5000);
  sensor = std::make_shared<sim::CVirtualSensor>();
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(bus));
  if (plugSensor) {
    bus->Plug(sensor);
  }
  io = std::make_unique<CSkarvIO>();
  io->Initialize(10);
  UsbLib_FlushHotplug();
}

CSensorRig::~CSensorRig() {
  io.reset();
  UsbLib_SetBackend(nullptr);
}

bool CSensorRig::SettleHandshake() {
  for (int poll = 0; poll < 100; ++poll) {
    if (io->HandleStatusPipe()) {
      return true;
    }
  }
  return false;
}

}  // namespace bench
