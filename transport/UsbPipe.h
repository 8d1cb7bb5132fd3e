#pragma once
// Base of every endpoint object: the endpoint address, the port the pipe is
// attached to, its pool of overlapped transfer handles, a status word and an
// activity flag. A pipe is initialised once, attached by the port when the
// device is opened and its endpoint found, detached when the device goes, and
// may be attached again after that.
//
// Locking: every operation that starts, collects or releases transfers, and
// Attach and Detach, holds the pipe's own mUseLock, so a pipe stays attached
// or detached for the whole of one operation even when the port attaches or
// detaches it on another thread. Lock order: CUSBPort::mAddedRemovedLock,
// then a pipe's mUseLock, then the USB library layer's internal lock. No
// thread takes the port lock while holding a pipe lock.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "UsbLibrary.h"

class CUSBPort;

class CUSBPipe {
 public:
  // mStatus values besides a system error code.
  static constexpr int32_t kStatusOk = 0;
  static constexpr int32_t kStatusDetached = -1;
  static constexpr int32_t kStatusEmptyWrite = -3;

  CUSBPipe() = default;
  virtual ~CUSBPipe() = default;
  CUSBPipe(const CUSBPipe&) = delete;
  CUSBPipe& operator=(const CUSBPipe&) = delete;

  virtual void Initialize(int pipeNumber, int maxOverlapingTransfers);
  // Called by the port with the endpoint's maximum packet size.
  virtual void Attach(CUSBPort* theUSBPort, int theLength);
  virtual void Detach();
  // Decodes the bytes of one completed transfer; the base decodes nothing.
  virtual int ProcessPipeData(uint8_t* inDataPtr, int bytesInPipe);

  // 0 after a successful initialise, attach, start or completion; -1 once
  // detached; -3 when a write completed with no bytes; otherwise the system
  // error code of the last failure.
  std::atomic<int32_t> mStatus{0};
  // Interrupt pipe: a transfer is in flight. Isochronous pipe: its stream runs.
  std::atomic<bool> mActive{false};
  uint32_t mBytesTransferred = 0;
  KOVL_HANDLE mOverlapped = nullptr;
  std::atomic<CUSBPort*> mUSBPort{nullptr};  // non-null while attached
  KOVL_POOL_HANDLE mOverlappedPool = nullptr;
  int mPipeNumber = 0;
  int mTransferLength = 0;
  int mMaxOverlapingTransfers = 0;

 protected:
  // The open device's handle while attached to a port that holds one, else null.
  KUSB_HANDLE DeviceHandle() const;
  // Base attach and detach, for derived pipes that extend them under mUseLock.
  void AttachLocked(CUSBPort* theUSBPort, int theLength);
  void DetachLocked();

  std::recursive_mutex mUseLock;
};
