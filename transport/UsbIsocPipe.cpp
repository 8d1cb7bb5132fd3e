#include "UsbIsocPipe.h"

#include <new>

#include "Diagnostics.h"
#include "GeneralException.h"

void CUSBIsocPipe::Initialize(int pipeNumber, int framesPerTransfer, int maxOverlapingTransfers) {
  CUSBPipe::Initialize(pipeNumber, maxOverlapingTransfers);
  mFramesPerTransfer = framesPerTransfer;
}

void CUSBIsocPipe::GetFrameNumber() {
  unsigned current = 0;
  if (!UsbK_GetCurrentFrameNumber(DeviceHandle(), &current)) {
    throw GeneralException("Can't get frame number. %x\n", static_cast<int32_t>(GetLastError()));
  }
  DiagPrintf(EDiagLevel::eAlways, "Getting new Frame #\n");
  // Far enough ahead that every block of the ring can be queued before its
  // first frame comes, and on a multiple of the frames per transfer.
  const uint32_t next = current + static_cast<uint32_t>(mMaxOverlapingTransfers * mFramesPerTransfer * 2 + 1000);
  mNextStartFrame = next - next % static_cast<uint32_t>(mFramesPerTransfer);
}

void CUSBIsocPipe::Attach(CUSBPort* theUSBPort, int theLength) {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  ReleaseBlocks();
  mPacketLength = theLength;
  AttachLocked(theUSBPort, mFramesPerTransfer * theLength);
  mTransferRing.Initialize(mMaxOverlapingTransfers);
  GetFrameNumber();
  mTransferRing.SetWriteIndex(0);
  for (int i = 0; i < mMaxOverlapingTransfers; ++i) {
    T_IsocTransBlock& block = mTransferRing[mTransferRing.IncReadBufferIndex()];
    block.Buffer.reset(new (std::nothrow) uint8_t[mTransferLength]());
    if (!block.Buffer) {
      throw GeneralException("Can't get storage for buffer.", 0);
    }
    if (!IsoK_Init(&block.IsoContext, mFramesPerTransfer, 0)) {
      mStatus = static_cast<int32_t>(GetLastError());
      throw GeneralException("IsoK_Init failed.", mStatus);
    }
    if (!IsoK_SetPackets(block.IsoContext, mPacketLength)) {
      mStatus = static_cast<int32_t>(GetLastError());
      throw GeneralException("IsoK_SetPackets failed.", mStatus);
    }
    block.Packets = block.IsoContext->IsoPackets;
    DiagPrintf(EDiagLevel::eAlways, "OvlK_Acquire for transfer block = %d\n", i);
    if (!OvlK_Acquire(&block.Overlapped, mOverlappedPool)) {
      mStatus = static_cast<int32_t>(GetLastError());
      throw GeneralException("OvlK_Acquire failed.", mStatus);
    }
  }
  mTransferRing.SetWriteIndex(0);
}

void CUSBIsocPipe::StartAllReads() {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  if (!DeviceHandle() || mActive.load()) {
    return;
  }
  mActive = true;
  mTransferRing.SetReadIndex(0);
  for (uint32_t i = 0; i < mTransferRing.mNumBuffers; ++i) {
    StartNextRead(&mTransferRing[mTransferRing.IncWriteBufferIndex()]);
  }
  mTransferRing.SetReadIndex(0);
}

bool CUSBIsocPipe::FramesPassed(const T_IsocTransBlock& block) const {
  unsigned current = 0;
  if (!UsbK_GetCurrentFrameNumber(DeviceHandle(), &current)) {
    return true;  // no bus time to go by: every look counts
  }
  const uint32_t end = block.IsoContext->StartFrame + static_cast<uint32_t>(mFramesPerTransfer);
  return static_cast<int32_t>(current - end) >= 0;
}

void CUSBIsocPipe::CatchUpWithBus() {
  unsigned current = 0;
  if (!UsbK_GetCurrentFrameNumber(DeviceHandle(), &current)) {
    return;  // the read that follows reports what is wrong with the device
  }
  if (static_cast<int32_t>(mNextStartFrame - current) >= 0) {
    return;
  }
  // The data path stood still while the bus ran on (a suspended machine, a
  // thread not scheduled for a while): the frames the ring was heading for
  // are gone. A block queued for them would come back empty at once and be
  // queued again only one transfer further on, so the ring would crawl back
  // to the bus for many seconds. It restarts at the next transfer boundary
  // instead; the blocks behind follow it in ring order.
  DiagPrintf(EDiagLevel::eAlways, "Getting new Frame #\n");
  const uint32_t frames = static_cast<uint32_t>(mFramesPerTransfer);
  mNextStartFrame = current + frames - current % frames;
}

void CUSBIsocPipe::StartNextRead(T_IsocTransBlock* nextTrans) {
  CatchUpWithBus();
  nextTrans->IsoContext->StartFrame = mNextStartFrame;
  mNextStartFrame += static_cast<uint32_t>(mFramesPerTransfer);
  UsbK_IsoReadPipe(DeviceHandle(), static_cast<uint8_t>(mPipeNumber), nextTrans->Buffer.get(), mTransferLength,
                   nextTrans->Overlapped, nextTrans->IsoContext);
  const uint32_t error = GetLastError();
  if (error != kErrorIoPending) {
    mStatus = static_cast<int32_t>(error);
    throw GeneralException("Iso Read Pipe failed.", mStatus);
  }
  mStatus = kStatusOk;
  nextTrans->PollCount = 0;
}

int CUSBIsocPipe::GetPipeData() {
  mStoppedForRoom = false;
  int total = 0;
  int found;
  while ((found = GetNextPipeData()) > 0) {
    total += found;
  }
  return total;
}

int CUSBIsocPipe::GetNextPipeData() {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  if (!DeviceHandle() || !mActive.load() || !mTransferRing.HasStorage()) {
    return 0;
  }
  if (!RoomForTransfer()) {
    // The block is not looked at: a completed one keeps its data and its
    // place in the ring, and is queued again only once it is decoded.
    mStoppedForRoom = true;
    return 0;
  }
  T_IsocTransBlock& block = mTransferRing[mTransferRing.mReadIndex];
  // Only a look after the block's last frame has passed is fruitless: the
  // ring is queued well over a second ahead, longer than a hundred looks
  // at the data path's polling rate, and counting the looks before that
  // would cancel every block queued that far ahead.
  if (FramesPassed(block)) {
    ++block.PollCount;
  }
  unsigned bytes = 0;
  bool done;
  if (block.PollCount <= kMaxPolls) {
    done = OvlK_Wait(block.Overlapped, 0, KOVL_WAIT_FLAG_NONE, &bytes);
    const uint32_t error = done ? kErrorSuccess : GetLastError();
    if (error == kErrorOperationAborted) {
      DiagPrintf(EDiagLevel::eAlways, "Aborted Transfer\n");
      GetFrameNumber();
      done = true;
    } else if (!done && error != kErrorSemTimeout) {
      // The transfer is over, ended by an error: what its packets received
      // is still good, and waiting longer would only hold up the blocks
      // completed behind it.
      mStatus = static_cast<int32_t>(error);
      done = true;
    }
  } else {
    done = OvlK_WaitOrCancel(block.Overlapped, 0, &bytes);
    if (bytes == 0) {
      DiagPrintf(EDiagLevel::eAlways, "GetNextPipeData Warning... Transfer timed out.\n");
      GetFrameNumber();
    }
    done = true;
  }
  DiagPrintf(EDiagLevel::ePerUpdate, "GetNextPipeData bytesTransfered = %d\n", static_cast<int>(bytes));
  if (!done) {
    return 0;
  }
  // Each packet is decoded with the length it really received, where it lies
  // in the buffer, so short packets lose nothing and stale bytes are never read.
  int result = 0;
  for (int i = 0; bytes > 0 && i < block.IsoContext->NumberOfPackets; ++i) {
    const KISO_PACKET& packet = block.Packets[i];
    if (packet.Length > 0) {
      result += ProcessPipeData(block.Buffer.get() + packet.Offset, packet.Length);
    }
  }
  OvlK_ReUse(block.Overlapped);
  mTransferRing.IncReadBufferIndex();
  StartNextRead(&block);
  return result;
}

void CUSBIsocPipe::Detach() {
  std::lock_guard<std::recursive_mutex> lock(mUseLock);
  ReleaseBlocks();
  DetachLocked();
}

void CUSBIsocPipe::ReleaseBlocks() {
  if (!mTransferRing.HasStorage()) {
    return;
  }
  // First end every transfer, so none still writes into a buffer that goes.
  mTransferRing.SetReadIndex(0);
  for (uint32_t i = 0; i < mTransferRing.mNumBuffers; ++i) {
    T_IsocTransBlock& block = mTransferRing[mTransferRing.IncWriteBufferIndex()];
    if (block.Overlapped) {
      unsigned length = 0;
      OvlK_WaitOrCancel(block.Overlapped, 0, &length);
    }
  }
  mTransferRing.SetReadIndex(0);
  for (uint32_t i = 0; i < mTransferRing.mNumBuffers; ++i) {
    T_IsocTransBlock& block = mTransferRing[mTransferRing.IncWriteBufferIndex()];
    if (block.Overlapped) {
      OvlK_Release(block.Overlapped);
      block.Overlapped = nullptr;
    }
    if (block.IsoContext) {
      IsoK_Free(block.IsoContext);
      block.IsoContext = nullptr;
      block.Packets = nullptr;
    }
    block.Buffer.reset();
  }
  mTransferRing.Free();
}
