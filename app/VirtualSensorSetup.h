#pragma once
// The built-in virtual sensors for --simulate: a virtual USB bus on the wall
// clock with one or more sensors plugged in, made the USB library's backend.

#include <memory>
#include <vector>

#include "VirtualBus.h"
#include "VirtualSensor.h"

struct T_VirtualSensorSetup {
  static constexpr unsigned kMaxSensors = 8;

  std::shared_ptr<sim::CVirtualBus> bus;
  std::shared_ptr<sim::CVirtualSensor> sensor;  // the first of `sensors`
  std::vector<std::shared_ptr<sim::CVirtualSensor>> sensors;
};

// Sensor i (from 0) has the serial number SKV0000<i+1>, the noise of seed
// i + 1 and a room of its own, and sits in bus port i + 1.
T_VirtualSensorSetup UseVirtualSensor(unsigned count = 1);
