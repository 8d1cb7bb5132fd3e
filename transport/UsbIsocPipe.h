#pragma once
// An isochronous IN pipe that keeps a continuous stream of reads in flight:
// a ring of transfer blocks, each with its own buffer, isochronous context and
// overlapped handle, queued back to back on consecutive frame ranges. The
// owner polls GetPipeData, which collects completed blocks strictly in ring
// order without waiting, hands each packet to ProcessPipeData with the length
// the packet really received, and queues the block again at once. A
// collection takes a completed block only while its owner has room for all
// that the block can carry (RoomForTransfer); the blocks it leaves stay in
// the ring, completed and in order, and the next collection takes them.
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

  // True when the last GetPipeData stopped because its owner had no room
  // for another transfer: completed blocks may be waiting in the ring.
  bool StoppedForRoom() const { return mStoppedForRoom; }

  CCircularBuffer<T_IsocTransBlock> mTransferRing;
  uint32_t mNextStartFrame = 0;
  int mPacketLength = 0;
  int mFramesPerTransfer = 0;

 protected:
  // Whether the owner can take in everything one more transfer may carry.
  // Called before each look at a block; an owner with no room leaves the
  // block, done or not, for the next collection.
  virtual bool RoomForTransfer() const { return true; }

 private:
  void ReleaseBlocks();
  bool FramesPassed(const T_IsocTransBlock& block) const;
  // Moves mNextStartFrame past the bus's current frame when the bus has
  // already gone beyond it, so that no block is queued for frames gone by.
  void CatchUpWithBus();

  bool mStoppedForRoom = false;
};
