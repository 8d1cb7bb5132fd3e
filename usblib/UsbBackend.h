#pragma once
// What the USB library layer needs of a backend: the devices present, opening
// one, its descriptors, asynchronous transfers and hot-plug notifications. The
// layer does the bookkeeping (handles, overlapped pools, waits, cancellation
// and the last-error word) once for every backend.
//
// Error results are system error codes (UsbTypes.h), 0 for success. The layer
// never calls a backend while holding its own lock, so a backend may complete
// a transfer or report a hot-plug event from inside any of these calls.

#include <functional>
#include <memory>
#include <vector>

#include "UsbTypes.h"

// One transfer. The layer owns it and keeps it alive from Submit until the
// backend has called Complete.
class CUsbTransfer {
 public:
  enum class Kind { eRead, eWrite, eIsoRead };

  Kind kind = Kind::eRead;
  uint8_t pipeId = 0;
  uint8_t* buffer = nullptr;
  uint32_t length = 0;
  KISO_CONTEXT* isoContext = nullptr;  // eIsoRead only; its packets are laid out within the buffer

  // The backend's own per-transfer state, kept across submissions so that a
  // transfer queued again needs no new allocation.
  std::shared_ptr<void> backendState;

  // Called by the backend exactly once for every successful Submit, from any
  // thread, after it has written the data and, for isochronous reads, every
  // packet's Length and Status.
  virtual void Complete(uint32_t errorCode, uint32_t bytesTransferred) = 0;

 protected:
  ~CUsbTransfer() = default;
};

// An open device.
class CUsbDevice {
 public:
  // Destroyed by the layer only once none of its transfers is in flight.
  virtual ~CUsbDevice() = default;

  virtual uint32_t SelectInterface(uint8_t numberOrIndex, bool isIndex) = 0;
  virtual uint32_t QueryInterfaceSettings(uint8_t altSettingIndex, USB_INTERFACE_DESCRIPTOR& descriptor) = 0;
  virtual uint32_t SetAltInterface(uint8_t numberOrIndex, bool isIndex, uint8_t altSettingNumber) = 0;
  // kErrorNoMoreItems past the last pipe.
  virtual uint32_t QueryPipe(uint8_t altSettingNumber, uint8_t pipeIndex, WINUSB_PIPE_INFORMATION& info) = 0;
  virtual uint32_t ResetPipe(uint8_t pipeId) = 0;
  // Called after the layer has ended the pipe's transfers in flight: any
  // further step the device needs, and whether the pipe exists.
  virtual uint32_t AbortPipe(uint8_t pipeId) = 0;
  virtual uint32_t GetCurrentFrameNumber(uint32_t& frameNumber) = 0;

  // Queues the transfer; 0 when queued (Complete follows, possibly before
  // Submit returns), otherwise the error, and Complete is not called.
  virtual uint32_t Submit(CUsbTransfer& transfer) = 0;
  // Asks for a queued transfer to end; Complete follows with
  // kErrorOperationAborted unless the transfer was ending anyway.
  virtual void Cancel(CUsbTransfer& transfer) = 0;
};

class CUsbBackend {
 public:
  virtual ~CUsbBackend() = default;

  virtual uint32_t ListDevices(std::vector<KLST_DEVINFO>& devices) = 0;
  // Opens the device the entry describes; kErrorDeviceNotConnected when it is
  // no longer there.
  virtual uint32_t Open(const KLST_DEVINFO& deviceInfo, std::unique_ptr<CUsbDevice>& device) = 0;

  // Where the backend reports arrivals (KLST_SYNC_FLAG_ADDED) and removals
  // (KLST_SYNC_FLAG_REMOVED), from any thread. A null sink stops reports;
  // once SetHotplugSink returns, the previous sink is no longer called.
  using HotplugSink = std::function<void(const KLST_DEVINFO& deviceInfo, KLST_SYNC_FLAG change)>;
  virtual void SetHotplugSink(HotplugSink sink) = 0;
};

// Bytes available to isochronous packet `index` of a transfer: up to the next
// packet's offset, or to the end of the buffer for the last packet.
inline uint32_t IsoPacketCapacity(const CUsbTransfer& transfer, int index) {
  const KISO_CONTEXT& context = *transfer.isoContext;
  const uint32_t end = index + 1 < context.NumberOfPackets ? context.IsoPackets[index + 1].Offset : transfer.length;
  return end - context.IsoPackets[index].Offset;
}
