#pragma once
// Which of several attached sensors a port opens: the one with a given
// serial number, the one plugged in at a given place on the bus, or (with
// neither) the first that is free. A place is "BUS-PORT[.PORT...]", as
// lsusb -t and the kernel's /sys/bus/usb/devices name it.

#include <string>

#include "UsbTypes.h"

struct T_SensorChoice {
  std::string serial;   // empty: any serial number
  std::string usbPath;  // empty: any place

  // No choice: the first free sensor is taken.
  bool Any() const { return serial.empty() && usbPath.empty(); }
  bool Accepts(const KLST_DEVINFO& device) const;
  // "serial number SKV00002", "USB path 1-2", or both joined by "and".
  std::string Describe() const;
};

// The place on the bus of a list entry: its device path after the backend's
// "name:" prefix ("usb:1-2.4" -> "1-2.4").
std::string UsbPathOf(const KLST_DEVINFO& device);

// "SKV00002 at 1-2", or "a sensor without a serial number at 1-2".
std::string SensorName(const KLST_DEVINFO& device);
