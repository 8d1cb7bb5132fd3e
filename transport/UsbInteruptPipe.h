#pragma once
// An interrupt pipe that moves one transfer at a time through one buffer, in
// either direction. Reads are started with StartNextRead and collected by
// polling GetPipeData, which waits at most 100 ms; a write's completion is
// awaited on a short-lived thread, so the caller never blocks.

#include <condition_variable>
#include <memory>

#include "UsbPipe.h"

class CUSBInteruptPipe : public CUSBPipe {
 public:
  static constexpr int kWaitMs = 100;

  ~CUSBInteruptPipe() override;

  void Attach(CUSBPort* theUSBPort, int theLength) override;
  void Detach() override;
  virtual void StartNextRead();
  virtual void StartNextWrite();
  virtual int GetPipeData();

  // Thread procedure awaiting a write's completion; `contextPtr` is the pipe.
  static uint32_t USBWaitWrite(void* contextPtr);

  // The transfer buffer, mTransferLength bytes. Filled by a derived pipe
  // before a write and decoded after a read; never cleared by the pipe.
  std::unique_ptr<uint8_t[]> mBuffer;

 protected:
  // True while attached to a port holding a device handle, with no transfer in flight.
  bool CanStart() const;
  // Takes a handle from the pool into mOverlapped; on failure the pipe is
  // idle again and `message` is thrown.
  void AcquireOrThrow(const char* message);
  // Gives mOverlapped back after a start the library refused, and throws.
  [[noreturn]] void FailStart(const char* message, uint32_t error);
  // With mUseLock held once by `lock`: waits at most `timeoutMs` for the
  // transfer in flight to end (a write ends on its wait thread, which gives
  // the lock back meanwhile). True when no transfer is in flight any more.
  bool WaitUntilIdle(std::unique_lock<std::recursive_mutex>& lock, int timeoutMs);

 private:
  void WaitForWriteThread(std::unique_lock<std::recursive_mutex>& lock);

  std::condition_variable_any mWriteDone;
  bool mWriteThreadRunning = false;  // guarded by mUseLock
};
