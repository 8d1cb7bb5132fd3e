#include "UsbPort.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "Diagnostics.h"
#include "GeneralException.h"

CClassMutex CUSBPort::mAddedRemovedLock;

namespace {

const char kAllDevicesPattern[] = "*";

// Holds the class-wide lock for a scope, released on every way out. Before
// any port is initialised there is no lock yet, and no other thread either:
// the hot-plug monitor starts with the port.
class CPortLock {
 public:
  CPortLock() : mHeld(CUSBPort::mAddedRemovedLock.IsInitialized()) {
    if (mHeld) CUSBPort::mAddedRemovedLock.Wait();
  }
  ~CPortLock() {
    if (mHeld) CUSBPort::mAddedRemovedLock.Release();
  }
  CPortLock(const CPortLock&) = delete;
  CPortLock& operator=(const CPortLock&) = delete;

 private:
  const bool mHeld;
};

void ClearRemovedPath(CUSBPort& port) {
  port.mRemovedDevicePath[0] = '\0';
  port.mRemovalPending = false;
}

// Called with the lock held, whenever the open device changes.
void SetOpenDevicePath(CUSBPort& port, const char* path) {
  std::snprintf(port.mOpenDevicePath, CUSBPort::kPathLength, "%s", path);
  port.mOpenDeviceRemoved = false;
}

// The ports by their hot-plug monitors, under the class-wide lock: the one
// callback of every monitor hands each notice to its own port. Never
// destroyed, so that a port that is itself a static object (the client's
// controller) still finds it when it goes.
std::map<KHOT_HANDLE, CUSBPort*>& Monitors() {
  static auto* monitors = new std::map<KHOT_HANDLE, CUSBPort*>;
  return *monitors;
}

}  // namespace

const char* OpenFailureHint(uint32_t error) {
  switch (error) {
    case kErrorBusy:
      return "The sensor is busy: another program has claimed it. Close that program, then plug the sensor in "
             "again.\n";
    case kErrorAccessDenied:
      return "The sensor may not be opened by this user (permission denied). Install the udev rule shipped in "
             "udev/70-skarv-sensor.rules into /etc/udev/rules.d/ (sudo cp udev/70-skarv-sensor.rules "
             "/etc/udev/rules.d/ && sudo udevadm control --reload-rules), then plug the sensor in again.\n";
    case kErrorDeviceNotConnected:
      return "The sensor went away while it was being opened.\n";
    default:
      return "The sensor could not be opened: it may be busy (claimed by another program), or this user may lack "
             "the permission (install udev/70-skarv-sensor.rules into /etc/udev/rules.d/). Then plug the sensor "
             "in again.\n";
  }
}

CUSBPort::~CUSBPort() {
  // Stop the monitor first, so that no notification arrives while the
  // device is cleaned up.
  StopMonitor();
  // A port that holds nothing (the program only printed its usage, or its
  // sensor's removal was cleaned up already) has nothing to clean up, and
  // says nothing: a run says "Clean Port." once for each clean-up it needed.
  if (HoldsDevice()) {
    CleanPort();
  }
  mPipeList.clear();
}

bool CUSBPort::HoldsDevice() const {
  if (mUSBHandle.load() || mDeviceList) {
    return true;
  }
  for (const CUSBPipe* pipe : mPipeList) {
    if (pipe->mUSBPort.load()) {
      return true;
    }
  }
  return false;
}

void CUSBPort::AddPipe(CUSBPipe* usbPipePtr) { mPipeList.push_back(usbPipePtr); }

void CUSBPort::StopMonitor() {
  if (!mHotMonitor) {
    return;
  }
  // Without the lock: HotK_Free waits for a callback in progress, which may
  // be waiting for the lock.
  HotK_Free(mHotMonitor);
  CPortLock lock;
  Monitors().erase(mHotMonitor);
  mHotMonitor = nullptr;
}

void CUSBPort::Initialize(int vendorID, int productID) {
  StopMonitor();
  mVendorID = vendorID;
  mProductID = productID;
  mAddedRemovedLock.Initialize();
  {
    CPortLock lock;
    mDeviceAddedCount = 0;
  }
  mUSBHandle = nullptr;
  mDeviceInfo = nullptr;

  KHOT_PARAMS params{};
  params.OnHotPlug = DeviceAdded;
  params.Flags = KHOT_FLAG_PLUG_ALL_ON_INIT;
  std::snprintf(params.PatternMatch.DeviceInterfaceGUID, sizeof params.PatternMatch.DeviceInterfaceGUID, "%s",
                kAllDevicesPattern);
  DiagPrintf(EDiagLevel::eAlways, "Initialize a HotK device notification event monitor..\n");
  DiagPrintf(EDiagLevel::eAlways, "Looking for 'DeviceInterfaceGUID's matching the pattern '%s'..\n",
             kAllDevicesPattern);

  {
    CPortLock lock;
    ++mDeviceAddedCount;
  }
  // A sensor that is there but cannot be opened yet (busy, no permission)
  // must not keep the monitor from starting: once mended, plugging it in
  // again is seen and opens it. The first failure is passed on afterwards.
  std::optional<GeneralException> firstAttempt;
  try {
    AttachOrRemoveDevice();
  } catch (const GeneralException& e) {
    firstAttempt = e;
  }

  bool monitoring;
  {
    // The monitor's first notices wait for this lock, and so find the port
    // registered.
    CPortLock lock;
    monitoring = HotK_Init(&mHotMonitor, &params);
    if (monitoring) {
      Monitors()[mHotMonitor] = this;
    }
  }
  if (!monitoring) {
    const uint32_t error = GetLastError();
    DiagPrintf(EDiagLevel::eAlways, "HotK_Init failed. ErrorCode: %08Xh\n", error);
    if (firstAttempt) {
      firstAttempt->OutputText(DiagOut());
    }
    throw GeneralException("HotK_Init Failed", static_cast<int32_t>(error));
  }
  DiagPrintf(EDiagLevel::eAlways, "HotK monitor initialized successfully!\n");
  if (firstAttempt) {
    throw *firstAttempt;
  }
}

void CUSBPort::AttachOrRemoveDevice() {
  if (!mUSBHandle.load()) {
    CPortLock lock;
    if (mDeviceAddedCount <= 0) {
      return;
    }
    mDeviceAddedCount = 0;
    DiagPrintf(EDiagLevel::eAlways, "Adding device.\n");
    OpenCandidate();
    return;
  }

  if (!mRemovalPending.load() && !mOpenDeviceRemoved.load()) {
    return;
  }
  CPortLock lock;
  const bool pending = mRemovedDevicePath[0] != '\0';
  DiagPrintf(EDiagLevel::eAlways, "Deviced clean path = %s\n", pending ? mRemovedDevicePath : mOpenDevicePath);
  const bool ours = mOpenDeviceRemoved.load() ||
                    (mDeviceInfo && std::strncmp(mRemovedDevicePath, mDeviceInfo->DevicePath, kPathLength) == 0);
  // The notice is acted on once: for our device by cleaning up, for any
  // other device by dropping it.
  ClearRemovedPath(*this);
  if (ours) {
    CleanPort();
  }
}

void CUSBPort::OpenCandidate() {
  // What an earlier attempt passed over may be free by now.
  mPassedOver.clear();
  for (;;) {
    if (!USBGetDevice(&mDeviceList, &mDeviceInfo, mVendorID, mProductID)) {
      return;
    }
    KUSB_HANDLE handle = nullptr;
    if (UsbK_Init(&handle, mDeviceInfo)) {
      mUSBHandle = handle;
      break;
    }
    const uint32_t error = GetLastError();
    // Without a choice, a sensor another program holds is not this one's:
    // the next one is tried, as long as there is one.
    if (mChoice.Any() && error == kErrorBusy && mCandidatesLeft > 0) {
      DiagPrintf(EDiagLevel::eAlways, "%s is busy (claimed by another program); trying the next sensor.\n",
                 SensorName(*mDeviceInfo).c_str());
      mPassedOver.insert(mDeviceInfo->DevicePath);
      LstK_Free(mDeviceList);
      mDeviceList = nullptr;
      mDeviceInfo = nullptr;
      continue;
    }
    DiagPrintf(EDiagLevel::eAlways, "UsbK_Init failed. ErrorCode: %08Xh\n", error);
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eOut, OpenFailureHint(error));
    LstK_Free(mDeviceList);
    mDeviceList = nullptr;
    mDeviceInfo = nullptr;
    mUSBHandle = nullptr;
    throw GeneralException("UsbK_Init failed.", static_cast<int32_t>(error));
  }
  FindInterfaces();
  SetOpenDevicePath(*this, mDeviceInfo->DevicePath);
  DiagPrintf(EDiagLevel::eAlways, "Device opened successfully!\n");
  if (mChoice.Any() && mCandidatesLeft > 0) {
    DiagPrintf(EDiagLevel::eAlways,
               "%u sensors are attached; this program took the first free one, %s. Choose one with --serial "
               "SERIAL or --usb-path BUS-PORT (--list shows them).\n",
               mCandidatesLeft + 1, SensorName(*mDeviceInfo).c_str());
  }
}

bool CUSBPort::USBGetDevice(KLST_HANDLE* DeviceList, KLST_DEVINFO_HANDLE* DeviceInfo, int theVid, int thePid) {
  *DeviceInfo = nullptr;
  mCandidatesLeft = 0;
  if (!LstK_Init(DeviceList, 0)) {
    throw GeneralException("Error initializing device list.", static_cast<int32_t>(GetLastError()));
  }
  unsigned count = 0;
  LstK_Count(*DeviceList, &count);
  if (count == 0) {
    DiagPrintf(EDiagLevel::eAlways, "Device list empty.\n");
    LstK_Free(*DeviceList);
    *DeviceList = nullptr;
    return false;
  }
  DiagPrintf(EDiagLevel::eAlways, "Looking for device vid/pid %04X/%04X..\n", theVid, thePid);
  // The first sensor the choice takes and this attempt has not passed over;
  // the other sensors present, for what is said about them.
  std::string others;
  KLST_DEVINFO_HANDLE entry = nullptr;
  LstK_MoveReset(*DeviceList);
  while (LstK_MoveNext(*DeviceList, &entry)) {
    if (entry->Common.Vid != theVid || entry->Common.Pid != thePid) {
      continue;
    }
    const bool candidate = mChoice.Accepts(*entry) && mPassedOver.count(entry->DevicePath) == 0;
    if (candidate && !*DeviceInfo) {
      *DeviceInfo = entry;
      continue;
    }
    mCandidatesLeft += candidate ? 1 : 0;
    others += (others.empty() ? "" : ", ") + SensorName(*entry);
  }
  if (*DeviceInfo) {
    const KLST_DEVINFO& info = **DeviceInfo;
    DiagPrintf(EDiagLevel::eAlways, "Using %04X:%04X (%s): %s - %s\n", info.Common.Vid, info.Common.Pid,
               info.Common.InstanceID, info.DeviceDesc, info.Mfg);
    return true;
  }
  if (!mChoice.Any() && !others.empty()) {
    DiagPrintf(EDiagLevel::eAlways, "No sensor with %s is attached (attached: %s); waiting for it.\n",
               mChoice.Describe().c_str(), others.c_str());
  }
  LstK_Free(*DeviceList);
  *DeviceList = nullptr;
  return false;
}

void CUSBPort::FindInterfaces() {
  if (!mUSBHandle.load()) {
    throw GeneralException("USB Handle not set", static_cast<int32_t>(GetLastError()));
  }
  try {
    const KUSB_HANDLE handle = mUSBHandle.load();
    UsbK_SelectInterface(handle, 0, true);
    mInterfaceDescriptor = USB_INTERFACE_DESCRIPTOR{};
    mAltSettingNumber = 0;
    UsbK_QueryInterfaceSettings(handle, 0, &mInterfaceDescriptor);
    if (!UsbK_SetAltInterface(handle, mInterfaceDescriptor.bInterfaceNumber, false,
                              mInterfaceDescriptor.bAlternateSetting)) {
      throw GeneralException("Can't set Alt Interface", static_cast<int32_t>(GetLastError()));
    }
    WINUSB_PIPE_INFORMATION pipeInfo{};
    for (uint8_t index = 0; UsbK_QueryPipe(handle, mAltSettingNumber, index, &pipeInfo); ++index) {
      DiagPrintf(EDiagLevel::eAlways, "Working on pipe %x\n", pipeInfo.PipeId);
      for (CUSBPipe* pipe : mPipeList) {
        if (pipe->mPipeNumber == pipeInfo.PipeId) {
          pipe->Attach(this, pipeInfo.MaximumPacketSize);
          DiagPrintf(EDiagLevel::eAlways, "Found pipe and attached Rate = %d.\n", pipeInfo.Interval);
        }
      }
    }
    DiagPrintf(EDiagLevel::eAlways, "checking pipes\n");
    for (CUSBPipe* pipe : mPipeList) {
      if (!pipe->mUSBPort.load()) {
        throw GeneralException("All pipes not attached", 0);
      }
    }
  } catch (const GeneralException& e) {
    DiagPrintf(EDiagLevel::eAlways, "Exception\n");
    CleanInterface();
    throw GeneralException(e);
  }
}

void CUSBPort::CleanInterface() {
  CPortLock lock;
  SetOpenDevicePath(*this, "");
  // The device stays unusable after a failed binding; closing it here (and
  // letting go of its list) lets the next arrival open it afresh instead of
  // finding it still held.
  if (KUSB_HANDLE handle = mUSBHandle.exchange(nullptr)) {
    UsbK_Free(handle);
  }
  if (mDeviceList) {
    LstK_Free(mDeviceList);
    mDeviceList = nullptr;
    mDeviceInfo = nullptr;
  }
  DiagPrintf(EDiagLevel::eAlways, "Cleanup interface done \n");
}

void CUSBPort::CleanPort() {
  CPortLock lock;
  SetOpenDevicePath(*this, "");
  DiagErrorPrintf("Clean Port.\n");
  DiagPrintf(EDiagLevel::eAlways, "Removed cleanup start \n");
  for (CUSBPipe* pipe : mPipeList) {
    pipe->Detach();
  }
  if (mDeviceList) {
    LstK_Free(mDeviceList);
    mDeviceList = nullptr;
    mDeviceInfo = nullptr;
  }
  if (KUSB_HANDLE handle = mUSBHandle.exchange(nullptr)) {
    UsbK_Free(handle);
  }
  DiagPrintf(EDiagLevel::eAlways, "Cleanup interface done \n");
}

void CUSBPort::NoteHotplug(const KLST_DEVINFO& device, bool arrival) {
  const char* change = arrival ? "ARRIVAL" : "REMOVAL";
  const bool sensor = device.Common.Vid == mVendorID && device.Common.Pid == mProductID;
  // Another sensor than the chosen one comes and goes without changing
  // anything here, even when it is in the place where the chosen one was.
  if (sensor && !mChoice.Any() && !mChoice.Accepts(device)) {
    DiagPrintf(EDiagLevel::eAlways, "[%s] %s: not the chosen sensor (%s); left alone.\n", change,
               SensorName(device).c_str(), mChoice.Describe().c_str());
    return;
  }
  DiagPrintf(
      EDiagLevel::eAlways,
      "\n[%s] %s (%s) [%s]\n  InstanceID          : %s\n  DeviceInterfaceGUID : %s\n  DevicePath          : %s\n  \n",
      change, device.DeviceDesc, device.Mfg, device.Service, device.DeviceID, device.DeviceInterfaceGUID,
      device.DevicePath);
  if (arrival) {
    ++mDeviceAddedCount;
    ClearRemovedPath(*this);
    return;
  }
  std::snprintf(mRemovedDevicePath, kPathLength, "%s", device.DevicePath);
  mRemovalPending = mRemovedDevicePath[0] != '\0';
  mDeviceAddedCount = 0;
  if (mOpenDevicePath[0] != '\0' && std::strncmp(mOpenDevicePath, device.DevicePath, kPathLength) == 0) {
    mOpenDeviceRemoved = true;
  }
}

void DeviceAdded(KHOT_HANDLE handle, KLST_DEVINFO_HANDLE DeviceInfo, KLST_SYNC_FLAG NotificationType) {
  if (!DeviceInfo) {
    return;
  }
  CPortLock lock;
  auto port = Monitors().find(handle);
  if (port != Monitors().end()) {
    port->second->NoteHotplug(*DeviceInfo, NotificationType == KLST_SYNC_FLAG_ADDED);
  }
}
