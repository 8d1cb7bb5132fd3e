#pragma once
// One sensor on the bus: found by vendor and product in the library's device
// list, opened with its interface and alternate setting selected, and its
// registered pipes bound to the endpoints whose addresses they carry.
// Arrivals and removals reported by the hot-plug monitor are only recorded by
// the callback (DeviceAdded, on the library's notification thread); the
// owner's periodic AttachOrRemoveDevice acts on them on the owner's thread.
//
// Several sensors may share the bus. A port given a choice (Choose) opens
// only the sensor it accepts and leaves every other one alone, noting its
// arrivals and removals in one line. Without a choice it opens the first
// sensor that is free: one that another program (or another port of this
// one) has claimed is passed over for the next. Each port keeps its own
// pending arrivals and removals, so that two ports in one process (two
// controllers, each with its sensor) do not take each other's notices.
//
// Lock order: mAddedRemovedLock (class-wide; held across a whole attach
// attempt or removal clean-up, including the pipes' Attach and Detach), then
// a pipe's own lock. A thread holding a pipe lock never takes
// mAddedRemovedLock.

#include <atomic>
#include <vector>

#include <set>
#include <string>

#include "ClassMutex.h"
#include "SensorChoice.h"
#include "UsbPipe.h"

class CUSBPort {
 public:
  static constexpr int kPathLength = 256;

  CUSBPort() = default;
  ~CUSBPort();
  CUSBPort(const CUSBPort&) = delete;
  CUSBPort& operator=(const CUSBPort&) = delete;

  void AddPipe(CUSBPipe* usbPipePtr);
  // Which sensor to open, before Initialize; none chosen: the first free one.
  void Choose(const T_SensorChoice& choice) { mChoice = choice; }
  const T_SensorChoice& Choice() const { return mChoice; }
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

  // Guards every port's pending state, shared with the hot-plug callback.
  static CClassMutex mAddedRemovedLock;

  // This port's pending state, under mAddedRemovedLock: the arrivals not yet
  // acted on (the first attempt of Initialize counts as one), the path of a
  // removal not yet acted on.
  int mDeviceAddedCount = 0;
  char mRemovedDevicePath[kPathLength] = {};
  // Mirrors "mRemovedDevicePath is not empty", for the look without the lock.
  std::atomic<bool> mRemovalPending{false};
  // The path of the device this port has open, and whether a removal of it
  // has been reported. Unlike the pending path, which a later arrival
  // empties, this stays set until the clean-up: a device unplugged and
  // plugged back before the owner's next update is still cleaned up (and
  // then opened anew) instead of being kept on a dead handle.
  char mOpenDevicePath[kPathLength] = {};
  std::atomic<bool> mOpenDeviceRemoved{false};

  // The hot-plug callback's work for this port, with mAddedRemovedLock held.
  void NoteHotplug(const KLST_DEVINFO& device, bool arrival);

 private:
  // A device handle, a device list or an attached pipe is held.
  bool HoldsDevice() const;
  // A sensor of this port's vendor and product that the choice takes.
  void OpenCandidate();
  void StopMonitor();

  T_SensorChoice mChoice;
  // Device paths found busy in the attempt under way, passed over for the next.
  std::set<std::string> mPassedOver;
  // Sensors the attempt under way could take after the one it found.
  unsigned mCandidatesLeft = 0;
  KHOT_HANDLE mHotMonitor = nullptr;
};

// What an operator can do about a sensor that is present but will not open,
// for the error code of the failed open: one or more lines, each ending "\n".
const char* OpenFailureHint(uint32_t error);

void DeviceAdded(KHOT_HANDLE handle, KLST_DEVINFO_HANDLE DeviceInfo, KLST_SYNC_FLAG NotificationType);
