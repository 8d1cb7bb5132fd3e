#include "VirtualSensorSetup.h"

#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

T_VirtualSensorSetup UseVirtualSensor() {
  T_VirtualSensorSetup setup;
  setup.bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eRealTime);
  setup.sensor = std::make_shared<sim::CVirtualSensor>();
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  setup.bus->Plug(setup.sensor);
  return setup;
}
