#include "EmulatedUsbDevice.h"

#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
// usbdevfs takes at most this many packets in one isochronous URB.
constexpr int kMaxIsoPackets = 128;
constexpr size_t kSetupBytes = 8;

// What a GLib signal handler holds on to: the device, as long as it lives.
struct CAnchor {
  std::weak_ptr<CEmulatedUsbDevice> device;
};

void FreeAnchor(gpointer anchor, GClosure*) { delete static_cast<CAnchor*>(anchor); }

void PutLittle16(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

// A string descriptor of plain ASCII text, in UTF-16LE.
std::vector<uint8_t> StringDescriptor(const std::string& text) {
  std::vector<uint8_t> out{static_cast<uint8_t>(2 + 2 * text.size()), USB_DT_STRING};
  for (char c : text) PutLittle16(out, static_cast<uint8_t>(c));
  return out;
}

int UrbStatus(sim::TransferStatus status) {
  switch (status) {
    case sim::TransferStatus::eCompleted: return 0;
    case sim::TransferStatus::eCancelled: return -ENOENT;
    case sim::TransferStatus::eNoDevice: return -ESHUTDOWN;  // what the host controller gives on a disconnect
    case sim::TransferStatus::eStall: return -EPIPE;
    case sim::TransferStatus::eError: return -EPROTO;
  }
  return -EPROTO;
}

// A reference to umockdev's copy of some of the caller's memory. umockdev
// writes the copy back when the ioctl completes, where it was changed.
struct CDataUnref {
  void operator()(UMockdevIoctlData* data) const { g_object_unref(data); }
};
using DataRef = std::unique_ptr<UMockdevIoctlData, CDataUnref>;

DataRef Resolve(UMockdevIoctlData* parent, size_t offset, size_t length) {
  return DataRef(umockdev_ioctl_data_resolve(parent, offset, length, nullptr));
}

template <typename T>
T& As(const DataRef& data) {
  return *reinterpret_cast<T*>(data->data);
}

}  // namespace

struct CEmulatedUsbDevice::CUrb {
  UMockdevIoctlClient* client = nullptr;
  unsigned long address = 0;  // the caller's URB
  DataRef urb;                // umockdev's copy of it, with its packet descriptors
  DataRef buffer;             // and of its buffer
  uint8_t type = 0;
  uint8_t endpoint = 0;
  unsigned flags = 0;
  std::vector<uint8_t> data;  // what goes over the bus
  std::vector<sim::IsoPacket> packets;
  uint32_t startFrame = 0;
  uint64_t busId = 0;
  int status = 0;
  size_t actualLength = 0;
  bool packetError = false;  // a transmission error in the last packet

  usbdevfs_urb& User() const { return As<usbdevfs_urb>(urb); }
  bool In() const {
    return type == USBDEVFS_URB_TYPE_CONTROL ? (data[0] & USB_DIR_IN) != 0 : (endpoint & USB_DIR_IN) != 0;
  }
};

struct CEmulatedUsbDevice::CClient {
  std::map<unsigned long, std::shared_ptr<CUrb>> inFlight;  // by the caller's URB address
  std::deque<std::shared_ptr<CUrb>> done;
  DataRef waitingReap;  // where a blocking REAPURB wants its URB
};

std::vector<uint8_t> CEmulatedUsbDevice::Descriptors(const sim::DeviceDescription& d) {
  std::vector<uint8_t> out{USB_DT_DEVICE_SIZE, USB_DT_DEVICE};
  PutLittle16(out, 0x0200);  // USB 2.0
  out.insert(out.end(), {0, 0, 0, 64});  // class in the interface; control endpoint of 64 bytes
  PutLittle16(out, d.vendorId);
  PutLittle16(out, d.productId);
  PutLittle16(out, 0x0100);
  out.insert(out.end(), {1, 2, 3, 1});  // manufacturer, product, serial number strings; one configuration

  const size_t total = USB_DT_CONFIG_SIZE + USB_DT_INTERFACE_SIZE + USB_DT_ENDPOINT_SIZE * d.endpoints.size();
  out.insert(out.end(), {USB_DT_CONFIG_SIZE, USB_DT_CONFIG});
  PutLittle16(out, static_cast<unsigned>(total));
  out.insert(out.end(), {1, 1, 0, USB_CONFIG_ATT_ONE, 50});  // one interface, value 1, bus powered, 100 mA
  out.insert(out.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, d.interfaceNumber, d.alternateSetting,
                         static_cast<uint8_t>(d.endpoints.size()), d.interfaceClass, 0, 0, 0});
  for (const sim::EndpointDescription& e : d.endpoints) {
    out.insert(out.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, e.address, static_cast<uint8_t>(e.type)});
    PutLittle16(out, e.maxPacketSize);
    out.push_back(e.interval);
  }
  return out;
}

CEmulatedUsbDevice::CEmulatedUsbDevice(std::shared_ptr<sim::CVirtualBus> bus, uint32_t connection,
                                       const sim::DeviceDescription& description)
    : mBus(std::move(bus)),
      mConnection(connection),
      mDescription(description),
      mDescriptors(Descriptors(description)) {}

CEmulatedUsbDevice::~CEmulatedUsbDevice() {
  std::map<UMockdevIoctlClient*, std::unique_ptr<CClient>> clients;
  {
    std::lock_guard lock(mMutex);
    clients.swap(mClients);
  }
  for (auto& [client, state] : clients) {
    for (auto& [user, urb] : state->inFlight) {
      if (urb->busId != 0) mBus->Cancel(urb->busId);
    }
  }
  if (mHandler) {
    g_signal_handlers_disconnect_matched(mHandler, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(&OnIoctl), nullptr);
    g_signal_handlers_disconnect_matched(mHandler, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(&OnClientConnected), nullptr);
    g_object_unref(mHandler);
  }
}

void CEmulatedUsbDevice::Start() {
  mHandler = umockdev_ioctl_base_new();
  g_signal_connect_data(mHandler, "handle-ioctl", G_CALLBACK(&OnIoctl), new CAnchor{weak_from_this()}, &FreeAnchor,
                        GConnectFlags(0));
  g_signal_connect_data(mHandler, "client-connected", G_CALLBACK(&OnClientConnected),
                        new CAnchor{weak_from_this()}, &FreeAnchor, GConnectFlags(0));
}

gboolean CEmulatedUsbDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer anchor) {
  if (auto self = static_cast<CAnchor*>(anchor)->device.lock()) {
    self->HandleIoctl(client);
  } else {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
  }
  return TRUE;
}

void CEmulatedUsbDevice::OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer anchor) {
  if (auto self = static_cast<CAnchor*>(anchor)->device.lock()) {
    self->ClientConnected(client);
  }
}

// umockdev lets go of a client once its descriptor is closed.
void CEmulatedUsbDevice::OnClientFinalized(gpointer anchor, GObject* client) {
  auto* a = static_cast<CAnchor*>(anchor);
  if (auto self = a->device.lock()) {
    self->ClientGone(reinterpret_cast<UMockdevIoctlClient*>(client));
  }
  delete a;
}

void CEmulatedUsbDevice::ClientConnected(UMockdevIoctlClient* client) {
  {
    std::lock_guard lock(mMutex);
    ++mCounters.opened;
    mClients[client] = std::make_unique<CClient>();
  }
  g_object_weak_ref(G_OBJECT(client), &OnClientFinalized, new CAnchor{weak_from_this()});
}

// The node was closed: like the kernel, end what the caller left in flight.
// The client object is on its way out: only its address is used.
void CEmulatedUsbDevice::ClientGone(UMockdevIoctlClient* client) {
  std::unique_ptr<CClient> state;
  {
    std::lock_guard lock(mMutex);
    auto it = mClients.find(client);
    if (it == mClients.end()) return;
    state = std::move(it->second);
    mClients.erase(it);
    ++mCounters.closed;
  }
  for (auto& [user, urb] : state->inFlight) {
    if (urb->busId != 0) mBus->Cancel(urb->busId);
  }
}

void CEmulatedUsbDevice::SetClaimedElsewhere(bool claimed) {
  std::lock_guard lock(mMutex);
  mClaimedElsewhere = claimed;
}

bool CEmulatedUsbDevice::ClaimedElsewhere() const {
  std::lock_guard lock(mMutex);
  return mClaimedElsewhere;
}

void CEmulatedUsbDevice::Disconnect() {
  std::vector<UMockdevIoctlClient*> idleReapers;
  {
    std::lock_guard lock(mMutex);
    mConnected = false;
    for (auto& [client, state] : mClients) {
      if (state->waitingReap && state->inFlight.empty() && state->done.empty()) {
        state->waitingReap = nullptr;
        idleReapers.push_back(client);
      }
    }
  }
  for (UMockdevIoctlClient* client : idleReapers) umockdev_ioctl_client_complete(client, -1, ENODEV);
}

CEmulatedUsbDevice::Counters CEmulatedUsbDevice::Count() const {
  std::lock_guard lock(mMutex);
  return mCounters;
}

size_t CEmulatedUsbDevice::UrbsOutstanding() const {
  std::lock_guard lock(mMutex);
  size_t count = 0;
  for (const auto& [client, state] : mClients) count += state->inFlight.size() + state->done.size();
  return count;
}

bool CEmulatedUsbDevice::HasEndpoint(unsigned endpoint) const {
  return std::any_of(mDescription.endpoints.begin(), mDescription.endpoints.end(),
                     [&](const sim::EndpointDescription& e) { return e.address == endpoint; });
}

bool CEmulatedUsbDevice::HasInterface(unsigned interfaceNumber) const {
  return interfaceNumber == mDescription.interfaceNumber;
}

void CEmulatedUsbDevice::HandleIoctl(UMockdevIoctlClient* client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
    ReapUrb(client, arg, request == USBDEVFS_REAPURB);
    return;
  }
  bool connected;
  {
    std::lock_guard lock(mMutex);
    connected = mConnected;
  }
  const int result = connected ? HandleRequest(client, request, arg) : -ENODEV;
  umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? -result : 0);
}

// Returns the ioctl's result, or minus its errno.
int CEmulatedUsbDevice::HandleRequest(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg) {
  const auto count = [this](unsigned Counters::*counter) {
    std::lock_guard lock(mMutex);
    ++(mCounters.*counter);
  };
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      DataRef capabilities = Resolve(arg, 0, sizeof(uint32_t));
      if (!capabilities) return -EFAULT;
      As<uint32_t>(capabilities) = kCapabilities;
      return 0;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
      DataRef interfaceNumber = Resolve(arg, 0, sizeof(unsigned));
      if (!interfaceNumber) return -EFAULT;
      if (!HasInterface(As<unsigned>(interfaceNumber))) return -ENOENT;
      if (request == USBDEVFS_CLAIMINTERFACE && ClaimedElsewhere()) return -EBUSY;
      if (request == USBDEVFS_CLAIMINTERFACE) count(&Counters::claims);
      return 0;
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
      // No kernel driver is bound to the interface: there is nothing to
      // disconnect, and the interface is claimed.
      DataRef claim = Resolve(arg, 0, sizeof(usbdevfs_disconnect_claim));
      if (!claim) return -EFAULT;
      if (!HasInterface(As<usbdevfs_disconnect_claim>(claim).interface)) return -ENOENT;
      if (ClaimedElsewhere()) return -EBUSY;
      count(&Counters::claims);
      return 0;
    }
    case USBDEVFS_GETDRIVER:
      return -ENODATA;  // no kernel driver on the interface
    case USBDEVFS_IOCTL: {
      DataRef command = Resolve(arg, 0, sizeof(usbdevfs_ioctl));
      if (!command) return -EFAULT;
      const int code = As<usbdevfs_ioctl>(command).ioctl_code;
      return code == static_cast<int>(USBDEVFS_DISCONNECT) ? -ENODATA
             : code == static_cast<int>(USBDEVFS_CONNECT)  ? 0
                                                           : -ENOTTY;
    }
    case USBDEVFS_SETINTERFACE: {
      DataRef setting = Resolve(arg, 0, sizeof(usbdevfs_setinterface));
      if (!setting) return -EFAULT;
      const usbdevfs_setinterface& s = As<usbdevfs_setinterface>(setting);
      return HasInterface(s.interface) && s.altsetting == mDescription.alternateSetting ? 0 : -EINVAL;
    }
    case USBDEVFS_SETCONFIGURATION: {
      DataRef value = Resolve(arg, 0, sizeof(int));
      if (!value) return -EFAULT;
      return As<int>(value) == 1 ? 0 : -EINVAL;
    }
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: {
      DataRef endpoint = Resolve(arg, 0, sizeof(unsigned));
      if (!endpoint) return -EFAULT;
      if (!HasEndpoint(As<unsigned>(endpoint))) return -ENOENT;
      if (request == USBDEVFS_CLEAR_HALT) count(&Counters::clearHalts);
      return 0;
    }
    case USBDEVFS_RESET:
      return 0;
    case USBDEVFS_GET_SPEED:
      return USB_SPEED_FULL;
    case USBDEVFS_SUBMITURB:
      return SubmitUrb(client, arg);
    case USBDEVFS_DISCARDURB:
      // The argument is the URB's address itself.
      return DiscardUrb(client, *reinterpret_cast<const unsigned long*>(arg->data));
    default: {
      std::lock_guard lock(mMutex);
      mCounters.unknownRequests.push_back(request);
      return -ENOTTY;
    }
  }
}

int CEmulatedUsbDevice::SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  auto urb = std::make_shared<CUrb>();
  urb->client = client;
  urb->urb = Resolve(arg, 0, sizeof(usbdevfs_urb));
  if (!urb->urb) return -EFAULT;
  urb->address = urb->urb->client_addr;
  urb->type = urb->User().type;
  urb->endpoint = urb->User().endpoint;
  urb->flags = urb->User().flags;
  if (urb->type == USBDEVFS_URB_TYPE_ISO) {
    const int packets = urb->User().number_of_packets;
    if (packets <= 0 || packets > kMaxIsoPackets) return -EINVAL;
    // The packet descriptors follow the URB: resolve it again, whole, now
    // that their number is known.
    urb->urb.reset();
    if (!umockdev_ioctl_data_reload(arg, nullptr)) return -EFAULT;
    *reinterpret_cast<unsigned long*>(arg->data) = urb->address;
    urb->urb = Resolve(arg, 0, sizeof(usbdevfs_urb) + packets * sizeof(usbdevfs_iso_packet_desc));
    if (!urb->urb) return -EFAULT;
  }
  const usbdevfs_urb& user = urb->User();
  if (user.buffer_length < 0) return -EINVAL;
  urb->data.assign(static_cast<size_t>(user.buffer_length), 0);
  if (!urb->data.empty()) {
    urb->buffer = Resolve(urb->urb.get(), offsetof(usbdevfs_urb, buffer), urb->data.size());
    if (!urb->buffer) return -EFAULT;
    std::memcpy(urb->data.data(), urb->buffer->data, urb->data.size());
  }

  if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
    if (urb->data.size() < kSetupBytes) return -EINVAL;
    AnswerControl(*urb);
    std::lock_guard lock(mMutex);
    auto state = mClients.find(client);
    if (state == mClients.end()) return -ENODEV;
    ++mCounters.submitted;
    state->second->done.push_back(urb);
    return 0;
  }
  if (!HasEndpoint(urb->endpoint)) return -ENOENT;

  sim::BusTransfer transfer;
  transfer.connection = mConnection;
  transfer.endpoint = urb->endpoint;
  transfer.buffer = urb->data.data();
  transfer.length = urb->data.size();
  if (urb->type == USBDEVFS_URB_TYPE_ISO) {
    urb->packets.resize(static_cast<size_t>(user.number_of_packets));
    uint32_t offset = 0;
    for (size_t i = 0; i < urb->packets.size(); ++i) {
      urb->packets[i].offset = offset;
      urb->packets[i].capacity = user.iso_frame_desc[i].length;
      offset += user.iso_frame_desc[i].length;
    }
    if (offset > urb->data.size()) return -EINVAL;
    transfer.isochronous = true;
    transfer.packets = urb->packets.data();
    transfer.numPackets = urb->packets.size();
  } else if (urb->type != USBDEVFS_URB_TYPE_INTERRUPT && urb->type != USBDEVFS_URB_TYPE_BULK) {
    return -EINVAL;
  }
  transfer.done = [weak = weak_from_this(), urb](sim::TransferStatus status, size_t transferred) {
    if (auto self = weak.lock()) self->TransferDone(urb, status, transferred);
  };

  // As soon as possible: right behind the URBs the endpoint has queued, or
  // in the next frame when it has none or their frames have passed (the host
  // controller then rounds up to the first slot still to come).
  const uint32_t nextFrame = mBus->CurrentFrame() + 1;
  {
    std::lock_guard lock(mMutex);
    auto state = mClients.find(client);
    if (state == mClients.end()) return -ENODEV;
    if (transfer.isochronous) {
      unsigned& queued = mIsoQueued[urb->endpoint];
      uint32_t& next = mIsoNextFrame[urb->endpoint];
      const bool behind = static_cast<int32_t>(next - nextFrame) < 0;
      urb->startFrame = queued == 0 || behind ? nextFrame : next;
      if ((queued == 0 && mIsoStreamed[urb->endpoint]) || (queued > 0 && behind)) ++mCounters.isoLate;
      mIsoStreamed[urb->endpoint] = true;
      next = urb->startFrame + static_cast<uint32_t>(urb->packets.size());
      ++queued;
      transfer.startFrame = urb->startFrame;
    }
    state->second->inFlight[urb->address] = urb;
  }

  uint64_t busId = 0;
  const sim::SubmitStatus submitted = mBus->Submit(transfer, busId);

  std::lock_guard lock(mMutex);
  if (submitted != sim::SubmitStatus::eQueued) {
    if (auto state = mClients.find(client); state != mClients.end()) state->second->inFlight.erase(urb->address);
    if (transfer.isochronous) --mIsoQueued[urb->endpoint];
    switch (submitted) {
      case sim::SubmitStatus::eNoDevice: return -ENODEV;
      case sim::SubmitStatus::eBadEndpoint: return -ENOENT;
      default: return -EINVAL;
    }
  }
  urb->busId = busId;
  ++mCounters.submitted;
  return 0;
}

// Control requests are answered by the device's standard part at once: its
// descriptors and its configuration; anything else stalls.
void CEmulatedUsbDevice::AnswerControl(CUrb& urb) {
  const uint8_t* setup = urb.data.data();
  const unsigned requestType = setup[0];
  const unsigned request = setup[1];
  const unsigned value = setup[2] | setup[3] << 8;
  const unsigned length = setup[6] | setup[7] << 8;
  constexpr unsigned kStandardIn = USB_DIR_IN | USB_TYPE_STANDARD | USB_RECIP_DEVICE;

  std::vector<uint8_t> reply;
  bool stalled = false;
  if (requestType == kStandardIn && request == USB_REQ_GET_DESCRIPTOR) {
    const unsigned index = value & 0xFF;
    switch (value >> 8) {
      case USB_DT_DEVICE:
        reply.assign(mDescriptors.begin(), mDescriptors.begin() + USB_DT_DEVICE_SIZE);
        break;
      case USB_DT_CONFIG:
        if (index == 0) reply.assign(mDescriptors.begin() + USB_DT_DEVICE_SIZE, mDescriptors.end());
        else stalled = true;
        break;
      case USB_DT_STRING:
        if (index == 0) reply = {4, USB_DT_STRING, 0x09, 0x04};  // US English
        else if (index == 1) reply = StringDescriptor(mDescription.manufacturer);
        else if (index == 2) reply = StringDescriptor(mDescription.description);
        else if (index == 3) reply = StringDescriptor(mDescription.serialNumber);
        else stalled = true;
        break;
      default:
        stalled = true;
    }
  } else if (requestType == kStandardIn && request == USB_REQ_GET_CONFIGURATION) {
    reply = {1};
  } else {
    stalled = true;
  }
  const size_t answered = std::min<size_t>({reply.size(), length, urb.data.size() - kSetupBytes});
  std::copy_n(reply.begin(), answered, urb.data.begin() + kSetupBytes);
  urb.status = stalled ? -EPIPE : 0;
  urb.actualLength = stalled ? 0 : answered;
}

int CEmulatedUsbDevice::DiscardUrb(UMockdevIoctlClient* client, unsigned long address) {
  uint64_t busId = 0;
  {
    std::lock_guard lock(mMutex);
    auto state = mClients.find(client);
    if (state == mClients.end()) return -EINVAL;
    auto urb = state->second->inFlight.find(address);
    if (urb == state->second->inFlight.end()) return -EINVAL;  // done already: it waits to be reaped
    busId = urb->second->busId;
  }
  // The bus ends it with eCancelled before Cancel returns.
  if (busId == 0 || !mBus->Cancel(busId)) return -EINVAL;
  std::lock_guard lock(mMutex);
  ++mCounters.discarded;
  return 0;
}

void CEmulatedUsbDevice::TransferDone(const std::shared_ptr<CUrb>& urb, sim::TransferStatus status,
                                      size_t transferred) {
  UMockdevIoctlClient* reaper = nullptr;
  {
    std::lock_guard lock(mMutex);
    if (urb->type == USBDEVFS_URB_TYPE_ISO) --mIsoQueued[urb->endpoint];
    urb->status = UrbStatus(status);
    urb->actualLength = transferred;
    if (urb->status == 0 && urb->In() && (urb->flags & USBDEVFS_URB_SHORT_NOT_OK) && transferred < urb->data.size()) {
      urb->status = -EREMOTEIO;
    }
    if (urb->type == USBDEVFS_URB_TYPE_ISO && status == sim::TransferStatus::eError) {
      // An isochronous URB ends well; the error shows in a packet's status
      // (the one in which the bus saw it: the last).
      urb->status = 0;
      urb->packetError = true;
    }
    auto state = mClients.find(urb->client);
    if (state == mClients.end()) return;  // the node was closed
    CClient& c = *state->second;
    c.inFlight.erase(urb->address);
    if (c.waitingReap) {
      HandBack(*urb, c.waitingReap.get());
      c.waitingReap.reset();
      reaper = urb->client;
    } else {
      c.done.push_back(urb);
    }
  }
  if (reaper) umockdev_ioctl_client_complete(reaper, 0, 0);
}

void CEmulatedUsbDevice::ReapUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool wait) {
  // What the kernel answers when there is nothing to hand back now.
  const auto nothing = [&](const CClient* c) {
    if (!c) return ENODEV;
    return mConnected || !c->inFlight.empty() ? EAGAIN : ENODEV;
  };
  int error;
  {
    std::lock_guard lock(mMutex);
    auto state = mClients.find(client);
    const CClient* c = state == mClients.end() ? nullptr : state->second.get();
    error = c && (!c->done.empty() || (wait && nothing(c) == EAGAIN)) ? 0 : nothing(c);
  }
  // Where the caller wants the URB's address.
  DataRef where = error == 0 ? Resolve(arg, 0, sizeof(void*)) : nullptr;
  if (error == 0 && !where) error = EFAULT;
  if (error == 0) {
    std::lock_guard lock(mMutex);
    auto state = mClients.find(client);
    CClient* c = state == mClients.end() ? nullptr : state->second.get();
    if (c && !c->done.empty()) {
      HandBack(*c->done.front(), where.get());
      c->done.pop_front();
    } else if (c && wait && nothing(c) == EAGAIN) {
      c->waitingReap = std::move(where);  // completed by the next URB done
      return;
    } else {
      error = nothing(c);
    }
  }
  umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

void CEmulatedUsbDevice::HandBack(CUrb& urb, UMockdevIoctlData* where) {
  usbdevfs_urb& user = urb.User();
  uint8_t* buffer = urb.buffer ? urb.buffer->data : nullptr;
  user.status = urb.status;
  user.actual_length = static_cast<int>(urb.actualLength);
  if (urb.type == USBDEVFS_URB_TYPE_ISO) {
    user.start_frame = static_cast<int>(urb.startFrame);
    user.error_count = 0;
    for (size_t i = 0; i < urb.packets.size(); ++i) {
      const sim::IsoPacket& packet = urb.packets[i];
      int status = 0;
      if (!packet.accessed) status = -EXDEV;  // its frame had passed
      else if (packet.overrun) status = -EOVERFLOW;
      else if (packet.length == 0 && urb.status != 0) status = urb.status;
      else if (urb.packetError && i + 1 == urb.packets.size()) status = -EPROTO;
      user.iso_frame_desc[i].actual_length = packet.length;
      user.iso_frame_desc[i].status = static_cast<unsigned>(status);
      user.error_count += status != 0;
      std::memcpy(buffer + packet.offset, urb.data.data() + packet.offset, packet.length);
    }
  } else if (urb.In() && urb.actualLength > 0) {
    const size_t at = urb.type == USBDEVFS_URB_TYPE_CONTROL ? kSetupBytes : 0;
    std::memcpy(buffer + at, urb.data.data() + at, urb.actualLength);
  }
  umockdev_ioctl_data_set_ptr(where, 0, urb.urb.get());
  ++mCounters.reaped;
}
