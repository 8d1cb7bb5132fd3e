// Starting transfers. A queued transfer leaves kErrorIoPending; its result is
// collected from its overlapped handle.

#include "UsbLibraryCore.h"

namespace {

using Core = CUsbLibraryCore;

constexpr bool IsInPipe(uint8_t pipeId) { return (pipeId & 0x80) != 0; }

// The context's packets must lie in order inside the buffer, none empty.
bool IsoLayoutFits(const KISO_CONTEXT& context, unsigned bufferLength) {
  if (context.NumberOfPackets <= 0 || !context.IsoPackets) {
    return false;
  }
  for (int i = 0; i < context.NumberOfPackets; ++i) {
    const uint32_t offset = context.IsoPackets[i].Offset;
    const uint32_t end = i + 1 < context.NumberOfPackets ? context.IsoPackets[i + 1].Offset : bufferLength;
    if (offset >= end || end > bufferLength) {
      return false;
    }
  }
  return true;
}

bool Submit(KUSB_HANDLE usbHandle, KOVL_HANDLE overlapped, CUsbTransfer::Kind kind, uint8_t pipeId, uint8_t* buffer,
            unsigned bufferLength, KISO_CONTEXT* isoContext) {
  Core& core = Core::Instance();
  std::unique_lock<std::mutex> lock(core.mMutex);
  auto device = Core::Find(core.mDevices, usbHandle);
  auto transfer = Core::Find(core.mOverlapped, overlapped);
  if (!device || !transfer || !transfer->mAcquired || transfer->mState == COverlapped::State::ePending ||
      (bufferLength > 0 && !buffer) || IsInPipe(pipeId) != (kind != CUsbTransfer::Kind::eWrite)) {
    return Core::Fail(kErrorInvalidParameter);
  }
  if (kind == CUsbTransfer::Kind::eIsoRead) {
    if (!core.mIsoContexts.count(isoContext) || !IsoLayoutFits(*isoContext, bufferLength) ||
        !core.InFlight([&](const COverlapped& t) { return t.isoContext == isoContext; }).empty()) {
      return Core::Fail(kErrorInvalidParameter);
    }
    isoContext->ErrorCount = 0;
    isoContext->UrbHdrStatus = 0;
    for (int i = 0; i < isoContext->NumberOfPackets; ++i) {
      isoContext->IsoPackets[i].Length = 0;
      isoContext->IsoPackets[i].Status = kIsoPacketOk;
    }
  } else {
    isoContext = nullptr;
  }
  transfer->kind = kind;
  transfer->pipeId = pipeId;
  transfer->buffer = buffer;
  transfer->length = bufferLength;
  transfer->isoContext = isoContext;
  transfer->mState = COverlapped::State::ePending;
  transfer->mError = 0;
  transfer->mLength = 0;
  transfer->mDevice = device;
  core.mInFlight.emplace(transfer.get(), transfer);
  ++device->mBusy;
  lock.unlock();

  const uint32_t error = device->mDevice->Submit(*transfer);

  lock.lock();
  --device->mBusy;
  if (error && transfer->mState == COverlapped::State::ePending) {
    transfer->mState = COverlapped::State::eIdle;
    transfer->mDevice.reset();
    core.mInFlight.erase(transfer.get());
  }
  lock.unlock();
  core.mChanged.notify_all();
  return Core::Fail(error ? error : kErrorIoPending);
}

}  // namespace

bool UsbK_ReadPipe(KUSB_HANDLE usbHandle, uint8_t pipeId, uint8_t* buffer, unsigned bufferLength,
                   unsigned* lengthTransferred, KOVL_HANDLE overlapped) {
  if (lengthTransferred) {
    *lengthTransferred = 0;  // the length comes with the overlapped result
  }
  return Submit(usbHandle, overlapped, CUsbTransfer::Kind::eRead, pipeId, buffer, bufferLength, nullptr);
}

bool UsbK_WritePipe(KUSB_HANDLE usbHandle, uint8_t pipeId, uint8_t* buffer, unsigned bufferLength,
                    unsigned* lengthTransferred, KOVL_HANDLE overlapped) {
  if (lengthTransferred) {
    *lengthTransferred = 0;
  }
  return Submit(usbHandle, overlapped, CUsbTransfer::Kind::eWrite, pipeId, buffer, bufferLength, nullptr);
}

bool UsbK_IsoReadPipe(KUSB_HANDLE usbHandle, uint8_t pipeId, uint8_t* buffer, unsigned bufferLength,
                      KOVL_HANDLE overlapped, PKISO_CONTEXT isoContext) {
  return Submit(usbHandle, overlapped, CUsbTransfer::Kind::eIsoRead, pipeId, buffer, bufferLength, isoContext);
}
