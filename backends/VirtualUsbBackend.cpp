#include "VirtualUsbBackend.h"

#include <cstdio>

#include "VirtualUsbDevice.h"

namespace {

template <size_t N>
void Copy(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

}  // namespace

CVirtualUsbBackend::CVirtualUsbBackend(std::shared_ptr<sim::CVirtualBus> bus) : mBus(std::move(bus)) {
  mListener = mBus->AddHotplugListener([this](const sim::BusConnection& connection, bool arrived) {
    std::lock_guard<std::mutex> lock(mSinkMutex);
    if (mSink) {
      mSink(DeviceInfo(connection), arrived ? KLST_SYNC_FLAG_ADDED : KLST_SYNC_FLAG_REMOVED);
    }
  });
}

CVirtualUsbBackend::~CVirtualUsbBackend() { mBus->RemoveHotplugListener(mListener); }

KLST_DEVINFO CVirtualUsbBackend::DeviceInfo(const sim::BusConnection& connection) {
  const sim::DeviceDescription& d = connection.device->Description();
  KLST_DEVINFO info{};
  char text[kStringMaxLength];
  info.Common.Vid = d.vendorId;
  info.Common.Pid = d.productId;
  info.Common.MI = -1;
  std::snprintf(text, sizeof text, "USB\\VID_%04X&PID_%04X\\%s", d.vendorId, d.productId, d.instanceId.c_str());
  Copy(info.Common.InstanceID, text);
  Copy(info.DeviceID, text);
  std::snprintf(text, sizeof text, "{%04X%04X-5649-5254-5541-4C0000000000}", d.vendorId, d.productId);
  Copy(info.DeviceInterfaceGUID, text);
  Copy(info.ClassGUID, "{56495254-5541-4C55-5342-000000000000}");
  Copy(info.Mfg, d.manufacturer);
  Copy(info.DeviceDesc, d.description);
  Copy(info.Service, "virtual-usb");
  std::snprintf(text, sizeof text, "virtual-usb:1-%d", connection.port);
  Copy(info.SymbolicLink, text);
  Copy(info.DevicePath, text);
  Copy(info.SerialNumber, d.serialNumber);
  info.Connected = 1;
  info.BusNumber = 1;
  info.DeviceAddress = connection.port + 1;
  return info;
}

uint32_t CVirtualUsbBackend::ListDevices(std::vector<KLST_DEVINFO>& devices) {
  devices.clear();
  for (const sim::BusConnection& connection : mBus->Connections()) {
    devices.push_back(DeviceInfo(connection));
  }
  return kErrorSuccess;
}

void CVirtualUsbBackend::RefuseOpens(unsigned count, uint32_t error) {
  std::lock_guard<std::mutex> lock(mRefusalMutex);
  mRefusedOpens = count;
  mRefusal = error;
}

uint32_t CVirtualUsbBackend::Open(const KLST_DEVINFO& deviceInfo, std::unique_ptr<CUsbDevice>& device) {
  {
    std::lock_guard<std::mutex> lock(mRefusalMutex);
    if (mRefusedOpens > 0) {
      --mRefusedOpens;
      return mRefusal;
    }
  }
  for (const sim::BusConnection& connection : mBus->Connections()) {
    if (std::string(DeviceInfo(connection).DevicePath) == deviceInfo.DevicePath) {
      if (!mClaims->Claim(connection.id)) {
        return kErrorBusy;
      }
      device = std::make_unique<CVirtualUsbDevice>(mBus, connection, mClaims);
      return kErrorSuccess;
    }
  }
  return kErrorDeviceNotConnected;
}

void CVirtualUsbBackend::SetHotplugSink(HotplugSink sink) {
  std::lock_guard<std::mutex> lock(mSinkMutex);
  mSink = std::move(sink);
}
