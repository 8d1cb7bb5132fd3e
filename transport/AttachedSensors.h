#pragma once
// The sensors on the bus now, for a program's --list: each one's list entry
// and whether this user can open it, found by opening it and closing it at
// once (which a sensor another program streams from refuses as busy,
// without being disturbed).

#include <cstdint>
#include <string>
#include <vector>

#include "UsbTypes.h"

struct T_AttachedSensor {
  KLST_DEVINFO info{};
  uint32_t openError = kErrorSuccess;  // kErrorSuccess: free
};

// The sensors of this vendor and product, in the order of the library's list.
// False when the list cannot be read (`error` then holds the code).
bool FindAttachedSensors(int vendorID, int productID, std::vector<T_AttachedSensor>& sensors, uint32_t& error);

// "SKV00002  1-2  Skarv laser range sensor  (Skarv)  free": serial number,
// USB path, product and manufacturer, and free, busy or no permission with
// what to do about it.
std::string DescribeAttachedSensor(const T_AttachedSensor& sensor);
