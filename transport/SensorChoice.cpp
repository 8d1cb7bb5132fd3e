#include "SensorChoice.h"

#include <cstring>

bool T_SensorChoice::Accepts(const KLST_DEVINFO& device) const {
  if (!serial.empty() && serial != device.SerialNumber) {
    return false;
  }
  return usbPath.empty() || usbPath == UsbPathOf(device);
}

std::string T_SensorChoice::Describe() const {
  std::string text;
  if (!serial.empty()) {
    text = "serial number " + serial;
  }
  if (!usbPath.empty()) {
    text += (text.empty() ? "" : " and ") + std::string("USB path ") + usbPath;
  }
  return text;
}

std::string UsbPathOf(const KLST_DEVINFO& device) {
  const char* colon = std::strchr(device.DevicePath, ':');
  return colon ? colon + 1 : device.DevicePath;
}

std::string SensorName(const KLST_DEVINFO& device) {
  const std::string serial = device.SerialNumber[0] ? device.SerialNumber : "a sensor without a serial number";
  return serial + " at " + UsbPathOf(device);
}
