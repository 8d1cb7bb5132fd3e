#include "VirtualSensorSetup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CommandFrameCodec.h"
#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

T_VirtualSensorSetup UseVirtualSensor(unsigned count) {
  T_VirtualSensorSetup setup;
  setup.bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eRealTime);
  for (unsigned i = 0; i < std::clamp(count, 1u, T_VirtualSensorSetup::kMaxSensors); ++i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SKV%05u", i + 1);
    setup.sensors.push_back(std::make_shared<sim::CVirtualSensor>(i + 1, serial, sim::CRoom::Variant(i)));
  }
  setup.sensor = setup.sensors.front();
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(setup.bus));
  for (const auto& sensor : setup.sensors) {
    setup.bus->Plug(sensor);
  }
  // SKARV_SIM_RPM turns the virtual sensor at another rate from the start,
  // as its R command would, for measurements at the sensor's top rate.
  if (const char* rpm = std::getenv("SKARV_SIM_RPM")) {
    uint8_t frame[5];
    kiv::EncodeCommandFrame('R', static_cast<uint16_t>(std::atoi(rpm)), 0, frame, sizeof frame);
    for (const auto& sensor : setup.sensors) {
      sensor->ReceiveOut(sim::CVirtualSensor::kCommandEndpoint, frame, sizeof frame);
    }
  }
  return setup;
}
