#include "UsbPipe.h"

#include <chrono>
#include <thread>

#include "Diagnostics.h"
#include "GeneralException.h"
#include "UsbPort.h"

void CUSBPipe::Initialize(int pipeNumber, int maxOverlapingTransfers) {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  mPipeNumber = pipeNumber;
  mMaxOverlapingTransfers = maxOverlapingTransfers;
  mStatus = kStatusOk;
  mActive = false;
  mUSBPort = nullptr;
  mOverlappedPool = nullptr;
}

void CUSBPipe::Attach(CUSBPort* theUSBPort, int theLength) {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  AttachLocked(theUSBPort, theLength);
}

void CUSBPipe::AttachLocked(CUSBPort* theUSBPort, int theLength) {
  if (mOverlappedPool) {
    // Attached again without a detach in between (a binding that failed
    // half-way): the old pool goes first.
    OvlK_Free(mOverlappedPool);
    mOverlappedPool = nullptr;
  }
  mUSBPort = theUSBPort;
  mStatus = kStatusOk;
  mActive = false;
  mTransferLength = theLength;
  UsbK_ResetPipe(DeviceHandle(), static_cast<uint8_t>(mPipeNumber));
  DiagPrintf(EDiagLevel::eAlways, "Getting %d overlaping transfers\n", mMaxOverlapingTransfers);
  if (!OvlK_Init(&mOverlappedPool, DeviceHandle(), mMaxOverlapingTransfers, 0)) {
    throw GeneralException("Ovlk_Init failed.", static_cast<int32_t>(GetLastError()));
  }
}

void CUSBPipe::Detach() {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  DetachLocked();
}

void CUSBPipe::DetachLocked() {
  mStatus = kStatusDetached;
  if (mUSBPort.load()) {
    UsbK_AbortPipe(DeviceHandle(), static_cast<uint8_t>(mPipeNumber));
  }
  mUSBPort = nullptr;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (mOverlappedPool) {
    OvlK_Free(mOverlappedPool);
    mOverlappedPool = nullptr;
  }
  mActive = false;
  DiagPrintf(EDiagLevel::eAlways, "Detach Abort Done\n");
}

int CUSBPipe::ProcessPipeData(uint8_t* /*inDataPtr*/, int /*bytesInPipe*/) { return 0; }

KUSB_HANDLE CUSBPipe::DeviceHandle() const {
  CUSBPort* port = mUSBPort.load();
  return port ? port->mUSBHandle.load() : nullptr;
}
