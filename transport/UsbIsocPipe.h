#pragma once
// An isochronous IN pipe that keeps a continuous stream of reads in flight:
// a ring of transfer blocks, each with its own buffer, isochronous context and
// overlapped handle, queued back to back on consecutive frame ranges. The
// owner polls GetPipeData, which collects completed blocks strictly in ring
// order without waiting, hands each packet to ProcessPipeData with the length
// the packet really received, and queues the block again at once.
//
// Used from one thread at a time (the data path); attach and detach may come
// from the port on another thread and hold mUseLock like every operation.

#include "CircularBuffer.h"
#include "UsbPipe.h"

class CUSBIsocPipe : public CUSBPipe {
 public:
  // Looks at a pending block before it is cancelled and the stream re-synchronised.
  static constexpr int kMaxPolls = 100;

  struct T_IsocTransBlock {
    KOVL_HANDLE Overlapped = nullptr;
    PKISO_CONTEXT IsoContext = nullptr;
    KISO_PACKET* Packets = nullptr;
    int PollCount = 0;
    std::unique_ptr<uint8_t[]> Buffer;
  };

  using CUSBPipe::Initialize;
  virtual void Initialize(int pipeNumber, int framesPerTransfer, int maxOverlapingTransfers);
  void Attach(CUSBPort* theUSBPort, int theLength) override;
  void Detach() override;
  virtual void StartAllReads();
  virtual int GetPipeData();
  virtual int GetNextPipeData();

  void StartNextRead(T_IsocTransBlock* nextTrans);
  void GetFrameNumber();

  CCircularBuffer<T_IsocTransBlock> mTransferRing;
  uint32_t mNextStartFrame = 0;
  int mPacketLength = 0;
  int mFramesPerTransfer = 0;

 private:
  void ReleaseBlocks();
  bool FramesPassed(const T_IsocTransBlock& block) const;
  // Moves mNextStartFrame past the bus's current frame when the bus has
  // already gone beyond it, so that no block is queued for frames gone by.
  void CatchUpWithBus();
};
