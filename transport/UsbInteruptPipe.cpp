#include "UsbInteruptPipe.h"

#include <chrono>
#include <new>
#include <system_error>
#include <thread>

#include "Diagnostics.h"
#include "GeneralException.h"

CUSBInteruptPipe::~CUSBInteruptPipe() {
  // A write's wait thread still uses the pipe: let it finish first.
  std::unique_lock<std::recursive_mutex> lock(mUseLock);
  if (mWriteThreadRunning && mUSBPort.load()) {
    UsbK_AbortPipe(DeviceHandle(), static_cast<uint8_t>(mPipeNumber));
  }
  WaitForWriteThread(lock);
}

void CUSBInteruptPipe::Attach(CUSBPort* theUSBPort, int theLength) {
  std::unique_lock<std::recursive_mutex> lock(mUseLock);
  WaitForWriteThread(lock);
  AttachLocked(theUSBPort, theLength);
  mBuffer.reset(new (std::nothrow) uint8_t[theLength > 0 ? theLength : 1]());
  if (!mBuffer) {
    throw GeneralException("Can't get storage for buffer.", 0);
  }
}

void CUSBInteruptPipe::Detach() {
  // Ending the transfer in flight first cuts short any wait on it, so the
  // lock comes free quickly and the write's wait thread ends.
  mStatus = kStatusDetached;
  if (KUSB_HANDLE handle = DeviceHandle()) {
    UsbK_AbortPipe(handle, static_cast<uint8_t>(mPipeNumber));
  }
  std::unique_lock<std::recursive_mutex> lock(mUseLock);
  WaitForWriteThread(lock);
  DetachLocked();
}

void CUSBInteruptPipe::WaitForWriteThread(std::unique_lock<std::recursive_mutex>& lock) {
  mWriteDone.wait(lock, [this] { return !mWriteThreadRunning; });
}

bool CUSBInteruptPipe::WaitUntilIdle(std::unique_lock<std::recursive_mutex>& lock, int timeoutMs) {
  return mWriteDone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !mActive.load(); });
}

bool CUSBInteruptPipe::CanStart() const { return DeviceHandle() != nullptr && !mActive.load() && mBuffer; }

void CUSBInteruptPipe::AcquireOrThrow(const char* message) {
  if (!OvlK_Acquire(&mOverlapped, mOverlappedPool)) {
    mActive = false;  // nothing started: the pipe may try again
    throw GeneralException(message, 0);
  }
}

void CUSBInteruptPipe::FailStart(const char* message, uint32_t error) {
  // The library refused the transfer: its handle goes straight back to the
  // pool, or a pool of one would leave the pipe dead.
  OvlK_Release(mOverlapped);
  mStatus = static_cast<int32_t>(error);
  mActive = false;
  throw GeneralException(message, static_cast<int32_t>(error));
}

void CUSBInteruptPipe::StartNextRead() {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  if (!CanStart()) {
    return;
  }
  mActive = true;
  AcquireOrThrow("Couldn't get new overlaped transfer");
  UsbK_ReadPipe(DeviceHandle(), static_cast<uint8_t>(mPipeNumber), mBuffer.get(), mTransferLength, nullptr,
                mOverlapped);
  const uint32_t error = GetLastError();
  if (error != kErrorIoPending) {
    FailStart("Start Next Bulk Read Error.", error);
  }
  mStatus = kStatusOk;
}

int CUSBInteruptPipe::GetPipeData() {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  if (!DeviceHandle() || !mActive.load()) {
    return 0;
  }
  unsigned length = 0;
  int result = 0;
  if (OvlK_WaitAndRelease(mOverlapped, kWaitMs, &length)) {
    mBytesTransferred = length;
    result = ProcessPipeData(mBuffer.get(), static_cast<int>(length));
    mActive = false;
    mStatus = kStatusOk;
  } else {
    const uint32_t error = GetLastError();
    mBytesTransferred = length;
    mStatus = static_cast<int32_t>(error);
    // Still pending after the wait: the next call waits on the same read.
    // Ended with an error: that read is over, so a new one may be started.
    if (error != kErrorSemTimeout) {
      mActive = false;
    }
  }
  DiagPrintf(EDiagLevel::eAlways, "Running Interupt Read blocks processed = %d\n", result);
  return result;
}

void CUSBInteruptPipe::StartNextWrite() {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  if (!CanStart()) {
    return;
  }
  mActive = true;
  DiagPrintf(EDiagLevel::eAlways, "Running Interupt write\n");
  AcquireOrThrow("Couldn't get new overlaped transfer.");
  UsbK_WritePipe(DeviceHandle(), static_cast<uint8_t>(mPipeNumber), mBuffer.get(), mTransferLength, nullptr,
                 mOverlapped);
  const uint32_t error = GetLastError();
  if (error != kErrorIoPending) {
    FailStart("Start Next Bulk Write Error %x\n", error);
  }
  mStatus = kStatusOk;
  mWriteThreadRunning = true;
  try {
    std::thread(USBWaitWrite, this).detach();
  } catch (const std::system_error& e) {
    mWriteThreadRunning = false;
    unsigned length = 0;
    OvlK_WaitOrCancel(mOverlapped, 0, &length);
    FailStart("Start Next Bulk Write Error %x\n", static_cast<uint32_t>(e.code().value()));
  }
}

uint32_t CUSBInteruptPipe::USBWaitWrite(void* contextPtr) {
  auto* pipe = static_cast<CUSBInteruptPipe*>(contextPtr);
  // The handle stays the pipe's until this thread gives it back: a detach
  // waits for this thread before it frees the pool.
  const KOVL_HANDLE overlapped = pipe->mOverlapped;
  unsigned length = 0;
  bool done = OvlK_Wait(overlapped, kWaitMs, KOVL_WAIT_FLAG_NONE, &length);
  uint32_t error = GetLastError();
  if (!done && error == kErrorSemTimeout) {
    // Not sent within the wait: cancel it so the handle can go back.
    done = OvlK_WaitOrCancel(overlapped, 0, &length);
    if (!done) {
      error = kErrorSemTimeout;
    }
  }
  std::lock_guard<std::recursive_mutex> lock(pipe->mUseLock);
  OvlK_Release(overlapped);
  pipe->mBytesTransferred = length;
  if (!done) {
    pipe->mStatus = static_cast<int32_t>(error);
  } else if (length == 0) {
    pipe->mStatus = kStatusEmptyWrite;
  }
  pipe->mActive = false;
  pipe->mWriteThreadRunning = false;
  pipe->mWriteDone.notify_all();
  return 0;
}
