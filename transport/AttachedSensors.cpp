#include "AttachedSensors.h"

#include <string_view>

#include "SensorChoice.h"
#include "UsbLibrary.h"
#include "UsbPort.h"

bool FindAttachedSensors(int vendorID, int productID, std::vector<T_AttachedSensor>& sensors, uint32_t& error) {
  sensors.clear();
  KLST_HANDLE list = nullptr;
  if (!LstK_Init(&list, 0)) {
    error = GetLastError();
    return false;
  }
  // Each is opened by its entry, which lives as long as the list.
  KLST_DEVINFO_HANDLE entry = nullptr;
  while (LstK_MoveNext(list, &entry)) {
    if (entry->Common.Vid != vendorID || entry->Common.Pid != productID) {
      continue;
    }
    T_AttachedSensor sensor{*entry, kErrorSuccess};
    KUSB_HANDLE handle = nullptr;
    if (UsbK_Init(&handle, entry)) {
      UsbK_Free(handle);
    } else {
      sensor.openError = GetLastError();
    }
    sensors.push_back(sensor);
  }
  LstK_Free(list);
  error = kErrorSuccess;
  return true;
}

std::string DescribeAttachedSensor(const T_AttachedSensor& sensor) {
  const KLST_DEVINFO& info = sensor.info;
  std::string line = info.SerialNumber[0] ? info.SerialNumber : "(no serial number)";
  line += "  " + UsbPathOf(info) + "  " + (info.DeviceDesc[0] ? info.DeviceDesc : "(no product name)") + "  (" +
          (info.Mfg[0] ? info.Mfg : "no manufacturer name") + ")  ";
  switch (sensor.openError) {
    case kErrorSuccess:
      return line + "free";
    case kErrorBusy:
      return line + "busy: another program has claimed it";
    default: {
      // What to do about it, on the same line.
      std::string_view hint = OpenFailureHint(sensor.openError);
      if (!hint.empty() && hint.back() == '\n') {
        hint.remove_suffix(1);
      }
      const char* state = sensor.openError == kErrorAccessDenied ? "no permission: " : "cannot be opened: ";
      return line + state + std::string(hint);
    }
  }
}
