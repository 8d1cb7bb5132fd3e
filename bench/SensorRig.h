#pragma once
// A controller over the virtual sensor on a manual-clock bus, set up the way
// the end-to-end tests do it: the bus served through the USB library layer,
// the sensor plugged in (or not), the controller initialised and every
// hot-plug notice delivered. Prints what the controller prints; callers keep
// standard output quiet around it.

#include <memory>

#include "SkarvIO.h"
#include "VirtualBus.h"
#include "VirtualSensor.h"

namespace bench {

class CSensorRig {
 public:
  explicit CSensorRig(bool plugSensor);
  ~CSensorRig();
  CSensorRig(const CSensorRig&) = delete;
  CSensorRig& operator=(const CSensorRig&) = delete;

  // Polls the status pipe until the controller reports the sensor's answer to
  // its status request; false when it never does.
  bool SettleHandshake();

  std::shared_ptr<sim::CVirtualBus> bus;
  std::shared_ptr<sim::CVirtualSensor> sensor;
  std::unique_ptr<CSkarvIO> io;
};

}  // namespace bench
