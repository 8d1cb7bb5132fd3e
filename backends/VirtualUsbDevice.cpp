#include "VirtualUsbDevice.h"

#include <atomic>
#include <vector>

namespace {

// What a transfer keeps between submissions: the bus's packet slots and the
// id of its bus transfer, for cancelling.
struct CTransferState {
  std::vector<sim::IsoPacket> packets;
  std::atomic<uint64_t> busId{0};
};

uint32_t ErrorCode(sim::TransferStatus status) {
  switch (status) {
    case sim::TransferStatus::eCompleted: return kErrorSuccess;
    case sim::TransferStatus::eCancelled: return kErrorOperationAborted;
    case sim::TransferStatus::eNoDevice: return kErrorDeviceNotConnected;
    case sim::TransferStatus::eStall:
    case sim::TransferStatus::eError: return kErrorGenFailure;
  }
  return kErrorGenFailure;
}

CTransferState& StateOf(CUsbTransfer& transfer) {
  if (!transfer.backendState) {
    transfer.backendState = std::make_shared<CTransferState>();
  }
  return *static_cast<CTransferState*>(transfer.backendState.get());
}

}  // namespace

CVirtualUsbDevice::CVirtualUsbDevice(std::shared_ptr<sim::CVirtualBus> bus, const sim::BusConnection& connection,
                                     std::shared_ptr<CDeviceClaims> claims)
    : mBus(std::move(bus)),
      mConnection(connection.id),
      mClaims(std::move(claims)),
      mDescription(connection.device->Description()) {}

CVirtualUsbDevice::~CVirtualUsbDevice() { mClaims->Release(mConnection); }

bool CVirtualUsbDevice::MatchesInterface(uint8_t numberOrIndex, bool isIndex) const {
  return isIndex ? numberOrIndex == 0 : numberOrIndex == mDescription.interfaceNumber;
}

uint32_t CVirtualUsbDevice::SelectInterface(uint8_t numberOrIndex, bool isIndex) {
  if (!Connected()) return kErrorDeviceNotConnected;
  return MatchesInterface(numberOrIndex, isIndex) ? kErrorSuccess : kErrorInvalidParameter;
}

uint32_t CVirtualUsbDevice::QueryInterfaceSettings(uint8_t altSettingIndex, USB_INTERFACE_DESCRIPTOR& descriptor) {
  if (!Connected()) return kErrorDeviceNotConnected;
  if (altSettingIndex != 0) return kErrorNoMoreItems;
  descriptor = USB_INTERFACE_DESCRIPTOR{9,
                                        4,
                                        mDescription.interfaceNumber,
                                        mDescription.alternateSetting,
                                        static_cast<uint8_t>(mDescription.endpoints.size()),
                                        mDescription.interfaceClass,
                                        0,
                                        0,
                                        0};
  return kErrorSuccess;
}

uint32_t CVirtualUsbDevice::SetAltInterface(uint8_t numberOrIndex, bool isIndex, uint8_t altSettingNumber) {
  if (!Connected()) return kErrorDeviceNotConnected;
  return MatchesInterface(numberOrIndex, isIndex) && altSettingNumber == mDescription.alternateSetting
             ? kErrorSuccess
             : kErrorInvalidParameter;
}

uint32_t CVirtualUsbDevice::QueryPipe(uint8_t altSettingNumber, uint8_t pipeIndex, WINUSB_PIPE_INFORMATION& info) {
  if (!Connected()) return kErrorDeviceNotConnected;
  if (altSettingNumber != mDescription.alternateSetting) return kErrorInvalidParameter;
  if (pipeIndex >= mDescription.endpoints.size()) return kErrorNoMoreItems;
  const sim::EndpointDescription& e = mDescription.endpoints[pipeIndex];
  info.PipeType = static_cast<USBD_PIPE_TYPE>(e.type);
  info.PipeId = e.address;
  info.MaximumPacketSize = e.maxPacketSize;
  info.Interval = e.interval;
  return kErrorSuccess;
}

uint32_t CVirtualUsbDevice::ResetPipe(uint8_t pipeId) {
  if (!Connected()) return kErrorDeviceNotConnected;
  for (const auto& e : mDescription.endpoints) {
    if (e.address == pipeId) return kErrorSuccess;
  }
  return kErrorInvalidParameter;
}

uint32_t CVirtualUsbDevice::AbortPipe(uint8_t pipeId) {
  // Nothing of the device's own to stop: the layer has ended the transfers.
  return ResetPipe(pipeId);
}

uint32_t CVirtualUsbDevice::GetCurrentFrameNumber(uint32_t& frameNumber) {
  if (!Connected()) return kErrorDeviceNotConnected;
  frameNumber = mBus->CurrentFrame();
  return kErrorSuccess;
}

uint32_t CVirtualUsbDevice::Submit(CUsbTransfer& transfer) {
  CTransferState& state = StateOf(transfer);
  sim::BusTransfer request;
  request.connection = mConnection;
  request.endpoint = transfer.pipeId;
  request.buffer = transfer.buffer;
  request.length = transfer.length;
  if (transfer.kind == CUsbTransfer::Kind::eIsoRead) {
    KISO_CONTEXT& context = *transfer.isoContext;
    state.packets.resize(context.NumberOfPackets);
    for (int i = 0; i < context.NumberOfPackets; ++i) {
      state.packets[i].offset = context.IsoPackets[i].Offset;
      state.packets[i].capacity = IsoPacketCapacity(transfer, i);
    }
    request.isochronous = true;
    request.startFrame = context.StartFrame;
    request.packets = state.packets.data();
    request.numPackets = state.packets.size();
  }
  request.done = [&transfer, &state](sim::TransferStatus status, size_t transferred) {
    if (KISO_CONTEXT* context = transfer.isoContext) {
      context->ErrorCount = 0;
      for (int i = 0; i < context->NumberOfPackets; ++i) {
        const sim::IsoPacket& packet = state.packets[i];
        KISO_PACKET& out = context->IsoPackets[i];
        out.Length = static_cast<uint16_t>(packet.length);
        out.Status = !packet.accessed ? kIsoPacketNotAccessed : packet.overrun ? kIsoPacketError : kIsoPacketOk;
        context->ErrorCount += out.Status != kIsoPacketOk;
      }
    }
    transfer.Complete(ErrorCode(status), static_cast<uint32_t>(transferred));
  };
  state.busId = 0;
  uint64_t id = 0;
  switch (mBus->Submit(request, id)) {
    case sim::SubmitStatus::eQueued:
      state.busId = id;
      return kErrorSuccess;
    case sim::SubmitStatus::eNoDevice:
      return kErrorDeviceNotConnected;
    case sim::SubmitStatus::eBadEndpoint:
    case sim::SubmitStatus::eBadRequest:
      break;
  }
  return kErrorInvalidParameter;
}

void CVirtualUsbDevice::Cancel(CUsbTransfer& transfer) {
  if (transfer.backendState) {
    const uint64_t id = static_cast<CTransferState*>(transfer.backendState.get())->busId.load();
    if (id != 0) {
      mBus->Cancel(id);
    }
  }
}
