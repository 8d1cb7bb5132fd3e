#pragma once
// Types of the USB library layer: opaque handles, the device list entry, the
// descriptors and pipe information the queries return, isochronous contexts
// and the hot-plug parameters. The names follow the libusbK interface that the
// transport classes were first written against, so that they read the same on
// every backend.

#include <cstdint>

// Opaque handles. They are never dereferenced by callers; the layer checks
// every handle it is given and fails with kErrorInvalidParameter for a null,
// freed or foreign one.
struct KLST_HANDLE_T;
struct KUSB_HANDLE_T;
struct KOVL_POOL_HANDLE_T;
struct KOVL_HANDLE_T;
struct KHOT_HANDLE_T;
using KLST_HANDLE = KLST_HANDLE_T*;
using KUSB_HANDLE = KUSB_HANDLE_T*;
using KOVL_POOL_HANDLE = KOVL_POOL_HANDLE_T*;
using KOVL_HANDLE = KOVL_HANDLE_T*;
using KHOT_HANDLE = KHOT_HANDLE_T*;

// System error codes the layer leaves in the thread's last-error word.
enum : uint32_t {
  kErrorSuccess = 0,
  kErrorAccessDenied = 5,         // the device may not be opened by this user
  kErrorNotEnoughMemory = 8,
  kErrorGenFailure = 31,          // device error or stalled endpoint
  kErrorInvalidParameter = 87,    // bad argument, or a null, freed or foreign handle
  kErrorSemTimeout = 121,         // a wait timed out
  kErrorBusy = 170,               // the device is claimed by another program
  kErrorNoMoreItems = 259,        // no more pipes, or no free overlapped handle
  kErrorOperationAborted = 995,   // the transfer was cancelled
  kErrorIoPending = 997,          // the transfer was queued
  kErrorDeviceNotConnected = 1167,
};

constexpr int kStringMaxLength = 256;

struct KLST_DEV_COMMON_INFO {
  int Vid;
  int Pid;
  int MI;  // interface number, -1 for a device that is not composite
  char InstanceID[kStringMaxLength];
};

// One entry of a device list. It stays valid as long as its list.
struct KLST_DEVINFO {
  KLST_DEV_COMMON_INFO Common;
  int DriverID;
  char DeviceInterfaceGUID[kStringMaxLength];
  char DeviceID[kStringMaxLength];
  char ClassGUID[kStringMaxLength];
  char Mfg[kStringMaxLength];
  char DeviceDesc[kStringMaxLength];
  char Service[kStringMaxLength];
  char SymbolicLink[kStringMaxLength];
  char DevicePath[kStringMaxLength];  // unique for the device's place on the bus
  int LUsb0FilterIndex;
  int Connected;
  unsigned SyncFlags;
  int BusNumber;
  int DeviceAddress;
  char SerialNumber[kStringMaxLength];
};
using KLST_DEVINFO_HANDLE = KLST_DEVINFO*;

// How a hot-plug notification changed a device.
enum KLST_SYNC_FLAG : unsigned {
  KLST_SYNC_FLAG_NONE = 0,
  KLST_SYNC_FLAG_UNCHANGED = 1,
  KLST_SYNC_FLAG_ADDED = 2,
  KLST_SYNC_FLAG_REMOVED = 4,
  KLST_SYNC_FLAG_CONNECT_CHANGE = 8,
};

// The standard 9-byte USB interface descriptor.
struct USB_INTERFACE_DESCRIPTOR {
  uint8_t bLength;
  uint8_t bDescriptorType;
  uint8_t bInterfaceNumber;
  uint8_t bAlternateSetting;
  uint8_t bNumEndpoints;
  uint8_t bInterfaceClass;
  uint8_t bInterfaceSubClass;
  uint8_t bInterfaceProtocol;
  uint8_t iInterface;
};
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9);

enum USBD_PIPE_TYPE : int {
  UsbdPipeTypeControl = 0,
  UsbdPipeTypeIsochronous = 1,
  UsbdPipeTypeBulk = 2,
  UsbdPipeTypeInterrupt = 3,
};

struct WINUSB_PIPE_INFORMATION {
  USBD_PIPE_TYPE PipeType;
  uint8_t PipeId;  // endpoint address, bit 7 set for IN
  uint16_t MaximumPacketSize;
  uint8_t Interval;
};

// One packet of an isochronous transfer: where it lies in the transfer buffer,
// and after completion how many bytes it received and its status (0 = good).
struct KISO_PACKET {
  uint32_t Offset;
  uint16_t Length;
  uint16_t Status;
};

// Isochronous status of a packet that was not transferred.
enum : uint16_t {
  kIsoPacketOk = 0,
  kIsoPacketNotAccessed = 1,  // its frame had passed before the transfer reached the bus
  kIsoPacketError = 2,        // transmission error or data overrun
};

// The context of one isochronous transfer. The caller sets StartFrame before
// each read; packet i covers bus frame StartFrame + i.
struct KISO_CONTEXT {
  uint32_t Flags;
  uint32_t StartFrame;
  int16_t ErrorCount;       // packets that did not complete well
  int16_t NumberOfPackets;
  uint32_t UrbHdrStatus;
  KISO_PACKET* IsoPackets;  // NumberOfPackets entries, owned by the context
};
using PKISO_CONTEXT = KISO_CONTEXT*;

// Waiting on an overlapped handle.
enum KOVL_WAIT_FLAG : unsigned {
  KOVL_WAIT_FLAG_NONE = 0,
  KOVL_WAIT_FLAG_RELEASE_ON_SUCCESS = 0x1,
  KOVL_WAIT_FLAG_RELEASE_ON_FAIL = 0x2,
  KOVL_WAIT_FLAG_RELEASE_ON_SUCCESS_FAIL = 0x3,
  KOVL_WAIT_FLAG_RELEASE_ON_TIMEOUT = 0x4,
  KOVL_WAIT_FLAG_RELEASE_ALWAYS = 0x7,
  KOVL_WAIT_FLAG_CANCEL_ON_TIMEOUT = 0x8,
};

// Hot-plug monitor parameters.
enum KHOT_FLAG : unsigned {
  KHOT_FLAG_NONE = 0,
  KHOT_FLAG_PLUG_ALL_ON_INIT = 0x1,  // report every present matching device as an arrival at start
};

struct KLST_PATTERN_MATCH {
  char DeviceID[kStringMaxLength];
  char DeviceInterfaceGUID[kStringMaxLength];
  char ClassGUID[kStringMaxLength];
};

using KHOT_PLUG_CB = void(KHOT_HANDLE hotHandle, KLST_DEVINFO_HANDLE deviceInfo, KLST_SYNC_FLAG plugType);

struct KHOT_PARAMS {
  void* UserHwnd;
  unsigned UserMessage;
  unsigned Flags;                   // KHOT_FLAG bits
  KLST_PATTERN_MATCH PatternMatch;  // "*" and "?" wildcards; an empty pattern matches all
  KHOT_PLUG_CB* OnHotPlug;
  void* Context;
};
