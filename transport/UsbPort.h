#pragma once
// The one sensor on the bus: found by vendor and product in the library's
// device list, opened with its interface and alternate setting selected, and
// its registered pipes bound to the endpoints whose addresses they carry.
// Arrivals and removals reported by the hot-plug monitor are only recorded by
// the callback (DeviceAdded, on the library's notification thread); the
// owner's periodic AttachOrRemoveDevice acts on them on the owner's thread.
//
// Lock order: mAddedRemovedLock (held across a whole attach attempt or
// removal clean-up, including the pipes' Attach and Detach), then a pipe's own
// lock. A thread holding a pipe lock never takes mAddedRemovedLock.

#include <atomic>
#include <vector>

#include "ClassMutex.h"
#include "UsbPipe.h"

class CUSBPort {
 public:
  static constexpr int kPathLength = 256;

  CUSBPort() = default;
  ~CUSBPort();
  CUSBPort(const CUSBPort&) = delete;
  CUSBPort& operator=(const CUSBPort&) = delete;

  void AddPipe(CUSBPipe* usbPipePtr);
  void Initialize(int vendorID, int productID);
  void AttachOrRemoveDevice();
  bool USBGetDevice(KLST_HANDLE* DeviceList, KLST_DEVINFO_HANDLE* DeviceInfo, int theVid, int thePid);
  void FindInterfaces();
  void CleanPort();
  void CleanInterface();

  // Read by the pipes and the controller on other threads: non-null while a device is open.
  std::atomic<KUSB_HANDLE> mUSBHandle{nullptr};
  int mProductID = 0;
  int mVendorID = 0;
  std::vector<CUSBPipe*> mPipeList;
  KLST_HANDLE mDeviceList = nullptr;
  KLST_DEVINFO_HANDLE mDeviceInfo = nullptr;
  USB_INTERFACE_DESCRIPTOR mInterfaceDescriptor{};
  uint8_t mAltSettingNumber = 0;

  // Class-wide pending state, shared with the hot-plug callback.
  static CClassMutex mAddedRemovedLock;
  static int mDeviceAddedCount;
  static char mRemovedDevicePath[kPathLength];
  // Mirrors "mRemovedDevicePath is not empty", for the look without the lock.
  static std::atomic<bool> mRemovalPending;
  // The path of the device this process has open, and whether a removal of
  // it has been reported. Unlike the pending path, which a later arrival
  // empties, this stays set until the clean-up: a device unplugged and
  // plugged back before the owner's next update is still cleaned up (and
  // then opened anew) instead of being kept on a dead handle.
  static char mOpenDevicePath[kPathLength];
  static std::atomic<bool> mOpenDeviceRemoved;

 private:
  // A device handle, a device list or an attached pipe is held.
  bool HoldsDevice() const;

  KHOT_HANDLE mHotMonitor = nullptr;
};

// What an operator can do about a sensor that is present but will not open,
// for the error code of the failed open: one or more lines, each ending "\n".
const char* OpenFailureHint(uint32_t error);

void DeviceAdded(KHOT_HANDLE handle, KLST_DEVINFO_HANDLE DeviceInfo, KLST_SYNC_FLAG NotificationType);
