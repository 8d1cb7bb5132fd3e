#pragma once
// The built-in virtual sensor for --simulate: a virtual USB bus on the wall
// clock with the sensor plugged in, made the USB library's backend.

#include <memory>

#include "VirtualBus.h"
#include "VirtualSensor.h"

struct T_VirtualSensorSetup {
  std::shared_ptr<sim::CVirtualBus> bus;
  std::shared_ptr<sim::CVirtualSensor> sensor;
};

T_VirtualSensorSetup UseVirtualSensor();
