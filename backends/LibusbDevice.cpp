#include "LibusbDevice.h"

#include <mutex>

namespace {

// What a transfer keeps between submissions: its libusb transfer, allocated
// once and again only when a later isochronous read needs more packets. The
// state belongs to the layer's transfer and may outlive the device that last
// used it, so it never relies on that device's handle once it is closed.
class CTransferState {
 public:
  ~CTransferState() { Free(); }

  void Free() {
    if (transfer) {
      // Freeing looks through the transfer's handle, which may be closed by now.
      transfer->dev_handle = nullptr;
      libusb_free_transfer(transfer);
      transfer = nullptr;
    }
  }

  std::mutex mutex;  // guards the members against a Cancel racing a Submit
  libusb_transfer* transfer = nullptr;
  int packetCapacity = 0;
  uint64_t deviceId = 0;                    // the device whose handle `transfer` holds; 0 for none
  std::atomic<bool>* deviceGone = nullptr;  // that device's flag, read while the transfer is in flight
};

// Guards the creation of a transfer's state, which Cancel may look for while
// Submit creates it.
std::mutex gStateMutex;

std::shared_ptr<CTransferState> StateOf(CUsbTransfer& transfer, bool create) {
  std::lock_guard<std::mutex> lock(gStateMutex);
  if (!transfer.backendState && create) {
    transfer.backendState = std::make_shared<CTransferState>();
  }
  return std::static_pointer_cast<CTransferState>(transfer.backendState);
}

std::atomic<uint64_t> gNextDeviceId{1};

uint32_t StatusCode(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return kErrorSuccess;
    case LIBUSB_TRANSFER_CANCELLED: return kErrorOperationAborted;
    case LIBUSB_TRANSFER_NO_DEVICE: return kErrorDeviceNotConnected;
    default: return kErrorGenFailure;
  }
}

// Runs on the event thread. Nothing of the transfer or its state is touched
// after Complete: the layer may drop the transfer from there.
void LIBUSB_CALL OnTransferDone(libusb_transfer* done) {
  CUsbTransfer& transfer = *static_cast<CUsbTransfer*>(done->user_data);
  auto* state = static_cast<CTransferState*>(transfer.backendState.get());
  if (done->status == LIBUSB_TRANSFER_NO_DEVICE) {
    state->deviceGone->store(true);
  }
  uint32_t bytes = 0;
  if (KISO_CONTEXT* context = transfer.isoContext) {
    context->ErrorCount = 0;
    for (int i = 0; i < context->NumberOfPackets; ++i) {
      const libusb_iso_packet_descriptor& packet = done->iso_packet_desc[i];
      KISO_PACKET& out = context->IsoPackets[i];
      out.Length = static_cast<uint16_t>(packet.actual_length);
      out.Status = packet.status == LIBUSB_TRANSFER_COMPLETED ? kIsoPacketOk : kIsoPacketError;
      context->ErrorCount += out.Status != kIsoPacketOk;
      bytes += packet.actual_length;
    }
  } else {
    bytes = static_cast<uint32_t>(done->actual_length);
  }
  transfer.Complete(StatusCode(done->status), bytes);
}

}  // namespace

uint32_t CLibusbDevice::ErrorCode(int libusbError) {
  switch (libusbError) {
    case LIBUSB_SUCCESS: return kErrorSuccess;
    case LIBUSB_ERROR_NO_DEVICE: return kErrorDeviceNotConnected;
    case LIBUSB_ERROR_INVALID_PARAM:
    case LIBUSB_ERROR_NOT_SUPPORTED: return kErrorInvalidParameter;
    case LIBUSB_ERROR_NO_MEM: return kErrorNotEnoughMemory;
    case LIBUSB_ERROR_ACCESS: return kErrorAccessDenied;
    case LIBUSB_ERROR_BUSY: return kErrorBusy;
    default: return kErrorGenFailure;  // I/O, stall, overflow, time-out, ...
  }
}

uint32_t CLibusbDevice::Open(libusb_device* device, std::shared_ptr<CLibusbSession> session,
                             std::shared_ptr<std::atomic<bool>> gone, std::shared_ptr<CDeviceClaims> claims,
                             std::unique_ptr<CUsbDevice>& opened) {
  // A device is known by its bus and address while it is plugged in: the
  // same device plugged in again has a new address, and is free.
  const uint32_t claim =
      static_cast<uint32_t>(libusb_get_bus_number(device)) << 8 | libusb_get_device_address(device);
  if (!claims->Claim(claim)) {
    return kErrorBusy;
  }
  libusb_device_handle* handle = nullptr;
  int result = libusb_open(device, &handle);
  if (result != LIBUSB_SUCCESS) {
    claims->Release(claim);
    return result == LIBUSB_ERROR_NOT_FOUND ? kErrorDeviceNotConnected : ErrorCode(result);
  }
  // A kernel driver bound to the interface gives way while we hold it; where
  // the platform cannot do that, claiming tells.
  libusb_set_auto_detach_kernel_driver(handle, 1);
  libusb_config_descriptor* config = nullptr;
  result = libusb_get_active_config_descriptor(device, &config);
  if (result == LIBUSB_SUCCESS && (config->bNumInterfaces == 0 || config->interface[0].num_altsetting == 0)) {
    result = LIBUSB_ERROR_NOT_FOUND;
  }
  if (result == LIBUSB_SUCCESS) {
    result = libusb_claim_interface(handle, config->interface[0].altsetting[0].bInterfaceNumber);
  }
  if (result != LIBUSB_SUCCESS) {
    libusb_free_config_descriptor(config);
    libusb_close(handle);
    claims->Release(claim);
    return ErrorCode(result);
  }
  opened.reset(new CLibusbDevice(std::move(session), handle, config, std::move(gone), std::move(claims), claim));
  return kErrorSuccess;
}

CLibusbDevice::CLibusbDevice(std::shared_ptr<CLibusbSession> session, libusb_device_handle* handle,
                             libusb_config_descriptor* config, std::shared_ptr<std::atomic<bool>> gone,
                             std::shared_ptr<CDeviceClaims> claims, uint32_t claim)
    : mSession(std::move(session)),
      mHandle(handle),
      mConfig(config),
      mInterface(config->interface[0]),
      mId(gNextDeviceId++),
      mGone(std::move(gone)),
      mClaims(std::move(claims)),
      mClaim(claim),
      mAltSetting(config->interface[0].altsetting[0].bAlternateSetting),
      mOpened(std::chrono::steady_clock::now()) {}

CLibusbDevice::~CLibusbDevice() {
  auto close = [handle = mHandle, config = mConfig, number = mInterface.altsetting[0].bInterfaceNumber,
                claims = mClaims, claim = mClaim] {
    libusb_release_interface(handle, number);
    libusb_free_config_descriptor(config);
    libusb_close(handle);
    // Free for another port only once the kernel has let go of it too.
    claims->Release(claim);
  };
  if (mSession->OnEventThread()) {
    // Inside a completion libusb still holds the locks that closing takes;
    // the session stays alive until the handle is closed.
    mSession->AfterEvents([close, session = mSession] { close(); });
  } else {
    close();
  }
}

uint32_t CLibusbDevice::Result(int libusbResult) {
  if (libusbResult == LIBUSB_ERROR_NO_DEVICE) {
    mGone->store(true);
  }
  return ErrorCode(libusbResult);
}

bool CLibusbDevice::MatchesInterface(uint8_t numberOrIndex, bool isIndex) const {
  return isIndex ? numberOrIndex == 0 : numberOrIndex == mInterface.altsetting[0].bInterfaceNumber;
}

const libusb_interface_descriptor* CLibusbDevice::AltSetting(uint8_t altSettingNumber) const {
  for (int i = 0; i < mInterface.num_altsetting; ++i) {
    if (mInterface.altsetting[i].bAlternateSetting == altSettingNumber) {
      return &mInterface.altsetting[i];
    }
  }
  return nullptr;
}

const libusb_endpoint_descriptor* CLibusbDevice::Endpoint(uint8_t address) const {
  const libusb_interface_descriptor* setting = AltSetting(mAltSetting.load());
  for (int i = 0; setting && i < setting->bNumEndpoints; ++i) {
    if (setting->endpoint[i].bEndpointAddress == address) {
      return &setting->endpoint[i];
    }
  }
  return nullptr;
}

uint32_t CLibusbDevice::SelectInterface(uint8_t numberOrIndex, bool isIndex) {
  if (Gone()) return kErrorDeviceNotConnected;
  return MatchesInterface(numberOrIndex, isIndex) ? kErrorSuccess : kErrorInvalidParameter;
}

uint32_t CLibusbDevice::QueryInterfaceSettings(uint8_t altSettingIndex, USB_INTERFACE_DESCRIPTOR& descriptor) {
  if (Gone()) return kErrorDeviceNotConnected;
  if (altSettingIndex >= mInterface.num_altsetting) return kErrorNoMoreItems;
  const libusb_interface_descriptor& s = mInterface.altsetting[altSettingIndex];
  descriptor = USB_INTERFACE_DESCRIPTOR{s.bLength,       s.bDescriptorType, s.bInterfaceNumber,   s.bAlternateSetting,
                                        s.bNumEndpoints, s.bInterfaceClass, s.bInterfaceSubClass, s.bInterfaceProtocol,
                                        s.iInterface};
  return kErrorSuccess;
}

uint32_t CLibusbDevice::SetAltInterface(uint8_t numberOrIndex, bool isIndex, uint8_t altSettingNumber) {
  if (Gone()) return kErrorDeviceNotConnected;
  if (!MatchesInterface(numberOrIndex, isIndex) || !AltSetting(altSettingNumber)) return kErrorInvalidParameter;
  const uint32_t error =
      Result(libusb_set_interface_alt_setting(mHandle, mInterface.altsetting[0].bInterfaceNumber, altSettingNumber));
  if (error == kErrorSuccess) {
    mAltSetting = altSettingNumber;
  }
  return error;
}

uint32_t CLibusbDevice::QueryPipe(uint8_t altSettingNumber, uint8_t pipeIndex, WINUSB_PIPE_INFORMATION& info) {
  if (Gone()) return kErrorDeviceNotConnected;
  const libusb_interface_descriptor* setting = AltSetting(altSettingNumber);
  if (!setting) return kErrorInvalidParameter;
  if (pipeIndex >= setting->bNumEndpoints) return kErrorNoMoreItems;
  const libusb_endpoint_descriptor& e = setting->endpoint[pipeIndex];
  info.PipeType = static_cast<USBD_PIPE_TYPE>(e.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK);
  info.PipeId = e.bEndpointAddress;
  info.MaximumPacketSize = e.wMaxPacketSize;
  if (info.PipeType == UsbdPipeTypeIsochronous) {
    // The bytes one interval can carry, high-bandwidth multiples included.
    const int size = libusb_get_max_iso_packet_size(libusb_get_device(mHandle), e.bEndpointAddress);
    if (size > 0) {
      info.MaximumPacketSize = static_cast<uint16_t>(size);
    }
  }
  info.Interval = e.bInterval;
  return kErrorSuccess;
}

uint32_t CLibusbDevice::ResetPipe(uint8_t pipeId) {
  if (Gone()) return kErrorDeviceNotConnected;
  if (!Endpoint(pipeId)) return kErrorInvalidParameter;
  return Result(libusb_clear_halt(mHandle, pipeId));
}

uint32_t CLibusbDevice::AbortPipe(uint8_t pipeId) {
  // The layer has ended the pipe's transfers; libusb keeps no other state.
  if (Gone()) return kErrorDeviceNotConnected;
  return Endpoint(pipeId) ? kErrorSuccess : kErrorInvalidParameter;
}

uint32_t CLibusbDevice::GetCurrentFrameNumber(uint32_t& frameNumber) {
  if (Gone()) return kErrorDeviceNotConnected;
  const auto elapsed = std::chrono::steady_clock::now() - mOpened;
  frameNumber = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  return kErrorSuccess;
}

uint32_t CLibusbDevice::Submit(CUsbTransfer& transfer) {
  if (Gone()) return kErrorDeviceNotConnected;
  const libusb_endpoint_descriptor* endpoint = Endpoint(transfer.pipeId);
  const int type = endpoint ? endpoint->bmAttributes & LIBUSB_TRANSFER_TYPE_MASK : -1;
  const bool iso = transfer.kind == CUsbTransfer::Kind::eIsoRead;
  if (iso ? type != LIBUSB_TRANSFER_TYPE_ISOCHRONOUS
          : type != LIBUSB_TRANSFER_TYPE_INTERRUPT && type != LIBUSB_TRANSFER_TYPE_BULK) {
    return kErrorInvalidParameter;
  }
  const int packets = iso ? transfer.isoContext->NumberOfPackets : 0;

  std::shared_ptr<CTransferState> state = StateOf(transfer, true);
  std::lock_guard<std::mutex> lock(state->mutex);
  if (!state->transfer || state->packetCapacity < packets) {
    state->Free();
    state->transfer = libusb_alloc_transfer(packets);
    if (!state->transfer) return kErrorNotEnoughMemory;
    state->packetCapacity = packets;
  }
  libusb_transfer* request = state->transfer;
  state->deviceId = mId;
  state->deviceGone = mGone.get();
  if (iso) {
    // libusb lays the packets end to end from the buffer it is given, which
    // matches the context's layout from the first packet's offset on.
    const KISO_CONTEXT& context = *transfer.isoContext;
    const uint32_t first = context.IsoPackets[0].Offset;
    libusb_fill_iso_transfer(request, mHandle, transfer.pipeId, transfer.buffer + first,
                             static_cast<int>(transfer.length - first), packets, OnTransferDone, &transfer, 0);
    for (int i = 0; i < packets; ++i) {
      request->iso_packet_desc[i].length = IsoPacketCapacity(transfer, i);
    }
  } else if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT) {
    libusb_fill_interrupt_transfer(request, mHandle, transfer.pipeId, transfer.buffer,
                                   static_cast<int>(transfer.length), OnTransferDone, &transfer, 0);
    request->num_iso_packets = 0;
  } else {
    libusb_fill_bulk_transfer(request, mHandle, transfer.pipeId, transfer.buffer, static_cast<int>(transfer.length),
                              OnTransferDone, &transfer, 0);
    request->num_iso_packets = 0;
  }
  request->flags = 0;
  // From here on the transfer may complete on the event thread at any time.
  return Result(libusb_submit_transfer(request));
}

void CLibusbDevice::Cancel(CUsbTransfer& transfer) {
  std::shared_ptr<CTransferState> state = StateOf(transfer, false);
  if (!state) return;
  std::lock_guard<std::mutex> lock(state->mutex);
  // Only a transfer filled with this device's handle can be in flight here.
  if (state->transfer && state->deviceId == mId) {
    libusb_cancel_transfer(state->transfer);  // LIBUSB_ERROR_NOT_FOUND: it is ending anyway
  }
}
