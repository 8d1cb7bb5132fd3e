#include "SensorListing.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "AttachedSensors.h"
#include "Diagnostics.h"
#include "LibusbBackend.h"
#include "SkarvIO.h"
#include "UsbLibrary.h"
#include "VirtualSensorSetup.h"

int ListSensors(const std::string& program, bool simulate, unsigned virtualSensors) {
  T_VirtualSensorSetup simulation;
  if (simulate) {
    simulation = UseVirtualSensor(virtualSensors);
  } else {
    auto backend = std::make_shared<CLibusbBackend>();
    if (!backend->Usable()) {
      DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, program + ": libusb could not be started: no sensor can be listed.\n");
      return 1;
    }
    UsbLib_SetBackend(backend);
  }
  std::vector<T_AttachedSensor> sensors;
  uint32_t error = 0;
  const bool listed = FindAttachedSensors(CSkarvIO::kVendorId, CSkarvIO::kProductId, sensors, error);
  UsbLib_SetBackend(nullptr);
  char text[160];
  if (!listed) {
    std::snprintf(text, sizeof text, ": the USB devices could not be listed (error %u).\n", error);
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, program + text);
    return 1;
  }
  if (sensors.empty()) {
    std::snprintf(text, sizeof text, ": no sensor (USB %04X:%04X) is attached.\n", CSkarvIO::kVendorId,
                  CSkarvIO::kProductId);
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr, program + text);
    return 1;
  }
  for (const T_AttachedSensor& sensor : sensors) {
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, DescribeAttachedSensor(sensor) + "\n");
  }
  return 0;
}
