#include "SensorIdentity.h"

namespace sim {

DeviceDescription SensorDescription(const std::string& serialNumber, const std::string& description) {
  DeviceDescription d;
  d.vendorId = SensorIdentity::kVendorId;
  d.productId = SensorIdentity::kProductId;
  d.interfaceNumber = 0;
  d.alternateSetting = 0;
  d.endpoints = {
      {SensorIdentity::kCommandEndpoint, EndpointType::eInterrupt, SensorIdentity::kInterruptPacketSize, 1},
      {SensorIdentity::kStatusEndpoint, EndpointType::eInterrupt, SensorIdentity::kInterruptPacketSize, 1},
      {SensorIdentity::kDataEndpoint, EndpointType::eIsochronous, SensorIdentity::kIsoPacketSize, 1},
  };
  d.instanceId = serialNumber;
  d.description = description;
  d.manufacturer = "Skarv Sensors";
  d.serialNumber = serialNumber;
  return d;
}

}  // namespace sim
