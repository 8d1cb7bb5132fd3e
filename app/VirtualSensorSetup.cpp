#include "VirtualSensorSetup.h"

#include <cstdlib>
#include <string>

#include "CommandFrameCodec.h"
#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

T_VirtualSensorSetup UseVirtualSensor() {
  T_VirtualSensorSetup setup;
  setup.bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eRealTime);
  setup.sensor = std::make_shared<sim::CVirtualSensor>();
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  setup.bus->Plug(setup.sensor);
  // SKARV_SIM_RPM turns the virtual sensor at another rate from the start,
  // as its R command would, for measurements at the sensor's top rate.
  if (const char* rpm = std::getenv("SKARV_SIM_RPM")) {
    uint8_t frame[5];
    kiv::EncodeCommandFrame('R', static_cast<uint16_t>(std::atoi(rpm)), 0, frame, sizeof frame);
    setup.sensor->ReceiveOut(sim::CVirtualSensor::kCommandEndpoint, frame, sizeof frame);
  }
  return setup;
}
