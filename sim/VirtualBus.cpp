#include "VirtualBus.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace sim {

namespace {

constexpr uint64_t kFramesPerWake = 32;
// Frames a manual clock's Advance runs at most to catch up: a host that
// queued its next transfer from a completion could keep it going for ever.
constexpr uint32_t kMaxCatchUpFrames = 1000;

bool IsIn(uint8_t endpoint) { return (endpoint & 0x80) != 0; }

}  // namespace

CVirtualBus::CVirtualBus(Clock clock, uint32_t firstFrame) : mClock(clock), mFrame(firstFrame) {
  if (mClock == Clock::eRealTime) {
    mClockThread = std::thread([this] {
      pthread_setname_np(pthread_self(), "bus clock");  // as listed per thread
      RealTimeLoop();
    });
  }
}

CVirtualBus::~CVirtualBus() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mStopping = true;
  }
  mStopSignal.notify_all();
  if (mClockThread.joinable()) {
    mClockThread.join();
  }
  // Whatever is still queued ends as if its device had gone.
  std::vector<Completion> completions;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    while (!mPending.empty()) {
      Finish(mPending.begin(), TransferStatus::eNoDevice, completions);
    }
  }
  Deliver(completions);
}

uint32_t CVirtualBus::Plug(std::shared_ptr<CVirtualDevice> device) {
  if (!device) {
    return 0;
  }
  std::lock_guard<std::mutex> listeners(mListenerMutex);
  BusConnection connection;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    for (const auto& c : mConnections) {
      if (c.device == device) {
        return 0;
      }
    }
    int port = 1;
    while (std::any_of(mConnections.begin(), mConnections.end(), [&](const BusConnection& c) { return c.port == port; })) {
      ++port;
    }
    device->PowerUp();
    mDeviceBehind = false;
    connection = BusConnection{mNextConnectionId++, port, std::move(device)};
    mConnections.push_back(connection);
  }
  for (auto& [id, listener] : mListeners) {
    listener(connection, true);
  }
  return connection.id;
}

bool CVirtualBus::Unplug(const std::shared_ptr<CVirtualDevice>& device) {
  std::lock_guard<std::mutex> listeners(mListenerMutex);
  BusConnection connection;
  std::vector<Completion> completions;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = std::find_if(mConnections.begin(), mConnections.end(),
                           [&](const BusConnection& c) { return c.device == device; });
    if (it == mConnections.end()) {
      return false;
    }
    connection = *it;
    mConnections.erase(it);
    mDeviceBehind = false;
    for (auto p = mPending.begin(); p != mPending.end();) {
      auto next = std::next(p);
      if (p->second.transfer.connection == connection.id) {
        Finish(p, TransferStatus::eNoDevice, completions);
      }
      p = next;
    }
  }
  Deliver(completions);
  for (auto& [id, listener] : mListeners) {
    listener(connection, false);
  }
  return true;
}

std::vector<BusConnection> CVirtualBus::Connections() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mConnections;
}

bool CVirtualBus::IsConnected(uint32_t connection) const {
  std::lock_guard<std::mutex> lock(mMutex);
  return FindConnection(connection) != nullptr;
}

int CVirtualBus::AddHotplugListener(HotplugListener listener) {
  std::lock_guard<std::mutex> listeners(mListenerMutex);
  int id = mNextListenerId++;
  mListeners.emplace(id, std::move(listener));
  return id;
}

void CVirtualBus::RemoveHotplugListener(int id) {
  std::lock_guard<std::mutex> listeners(mListenerMutex);
  mListeners.erase(id);
}

uint32_t CVirtualBus::CurrentFrame() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mFrame;
}

void CVirtualBus::Advance(uint32_t frames) {
  if (mClock != Clock::eManual) {
    return;
  }
  std::vector<Completion> completions;
  for (uint32_t i = 0; i < frames; ++i) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      RunFrame(completions, false);
    }
    // Deliver as we go, so that a transfer queued again from its completion
    // callback is on the bus for the following frames.
    Deliver(completions);
  }
  for (uint32_t i = 0; i < kMaxCatchUpFrames; ++i) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (!CanCatchUp()) {
        break;
      }
      RunFrame(completions, true);
    }
    Deliver(completions);
  }
}

void CVirtualBus::SetCatchUp(bool catchUp) {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mCatchUp = catchUp;
  }
  mStopSignal.notify_all();
}

bool CVirtualBus::CanCatchUp() const {
  if (!mCatchUp || !mDeviceBehind || mStreamStalled) {
    return false;
  }
  for (const auto& [id, pending] : mPending) {
    const BusTransfer& t = pending.transfer;
    if (t.isochronous && mFrame - t.startFrame < t.numPackets) {
      const BusConnection* connection = FindConnection(t.connection);
      return connection && connection->device->KeepsUnreadData();
    }
  }
  return false;
}

void CVirtualBus::RealTimeLoop() {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<Completion> completions;
  std::unique_lock<std::mutex> lock(mMutex);
  const auto runFrame = [&](bool catchingUp) {
    RunFrame(completions, catchingUp);
    if (!completions.empty()) {
      lock.unlock();
      Deliver(completions);
      lock.lock();
    }
  };
  while (!mStopping) {
    const uint64_t due =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() + mFramesAhead;
    while (mFramesRun < due && !mStopping) {
      runFrame(false);
    }
    while (CanCatchUp() && !mStopping) {
      runFrame(true);
      ++mFramesAhead;
    }
    // Frames are run two transfers' worth at a time: isochronous transfers
    // span 16 frames, so two complete on each wake. The client keeps ten
    // transfers queued, so none is missed; waking for every frame, or for
    // every transfer, would only cost time. A transfer queued while a device
    // is behind wakes the clock to catch up at once.
    mStopSignal.wait_until(lock, start + std::chrono::milliseconds(mFramesRun - mFramesAhead + kFramesPerWake),
                           [this] { return mStopping || CanCatchUp(); });
  }
}

const BusConnection* CVirtualBus::FindConnection(uint32_t id) const {
  for (const auto& c : mConnections) {
    if (c.id == id) {
      return &c;
    }
  }
  return nullptr;
}

const EndpointDescription* CVirtualBus::FindEndpoint(const BusConnection& connection, uint8_t endpoint) const {
  for (const auto& e : connection.device->Description().endpoints) {
    if (e.address == endpoint) {
      return &e;
    }
  }
  return nullptr;
}

SubmitStatus CVirtualBus::Submit(const BusTransfer& transfer, uint64_t& transferId) {
  std::vector<Completion> completions;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    const BusConnection* connection = FindConnection(transfer.connection);
    if (!connection) {
      return SubmitStatus::eNoDevice;
    }
    const EndpointDescription* endpoint = FindEndpoint(*connection, transfer.endpoint);
    if (!endpoint || endpoint->type == EndpointType::eControl ||
        transfer.isochronous != (endpoint->type == EndpointType::eIsochronous) ||
        (transfer.isochronous && !IsIn(transfer.endpoint))) {
      return SubmitStatus::eBadEndpoint;
    }
    if ((transfer.length > 0 && !transfer.buffer) ||
        (transfer.isochronous && (!transfer.packets || transfer.numPackets == 0))) {
      return SubmitStatus::eBadRequest;
    }
    if (transfer.isochronous) {
      for (size_t i = 0; i < transfer.numPackets; ++i) {
        const IsoPacket& p = transfer.packets[i];
        if (p.capacity == 0 || p.offset > transfer.length || p.capacity > transfer.length - p.offset) {
          return SubmitStatus::eBadRequest;
        }
      }
    }
    transferId = mNextTransferId++;
    Pending pending{transfer, 0};
    if (transfer.isochronous) {
      for (size_t i = 0; i < transfer.numPackets; ++i) {
        IsoPacket& p = pending.transfer.packets[i];
        p.length = 0;
        p.overrun = false;
        // Packets whose frame has already passed are never sent.
        p.accessed = static_cast<int32_t>(transfer.startFrame + static_cast<uint32_t>(i) - mFrame) >= 0;
      }
    }
    mPending.emplace(transferId, std::move(pending));
    if (!transfer.isochronous) {
      ServeInterrupt(transfer.connection, completions);
    }
    wake = transfer.isochronous && mCatchUp && mDeviceBehind;
  }
  if (wake) {
    mStopSignal.notify_all();
  }
  Deliver(completions);
  return SubmitStatus::eQueued;
}

bool CVirtualBus::Cancel(uint64_t transferId) {
  std::vector<Completion> completions;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mPending.find(transferId);
    if (it == mPending.end()) {
      return false;
    }
    Finish(it, TransferStatus::eCancelled, completions);
  }
  Deliver(completions);
  return true;
}

void CVirtualBus::InjectTransferErrors(uint8_t endpoint, unsigned count) {
  std::lock_guard<std::mutex> lock(mMutex);
  mInjectedErrors[endpoint] += count;
}

void CVirtualBus::SetStreamStalled(bool stalled) {
  std::lock_guard<std::mutex> lock(mMutex);
  mStreamStalled = stalled;
}

void CVirtualBus::SetEndpointSilent(uint8_t endpoint, bool silent) {
  std::lock_guard<std::mutex> lock(mMutex);
  mSilentEndpoints[endpoint] = silent;
}

void CVirtualBus::SetPacketObserver(PacketObserver observer) {
  std::lock_guard<std::mutex> lock(mMutex);
  mObserver = std::move(observer);
}

bool CVirtualBus::TakeInjectedError(uint8_t endpoint) {
  auto it = mInjectedErrors.find(endpoint);
  if (it == mInjectedErrors.end() || it->second == 0) {
    return false;
  }
  --it->second;
  return true;
}

void CVirtualBus::Finish(std::map<uint64_t, Pending>::iterator it, TransferStatus status,
                         std::vector<Completion>& completions) {
  completions.push_back({std::move(it->second.transfer.done), {status, it->second.transferred}});
  mPending.erase(it);
}

void CVirtualBus::Deliver(std::vector<Completion>& completions) {
  for (auto& [done, result] : completions) {
    if (done) {
      done(result.first, result.second);
    }
  }
  completions.clear();
}

// Moves the queued interrupt transfers of one device that the device can take
// or answer now: OUT data is taken at once (an error injected on the endpoint
// stands for a transmission error on the wire), an IN read completes when the
// device has a packet ready.
void CVirtualBus::ServeInterrupt(uint32_t connectionId, std::vector<Completion>& completions) {
  const BusConnection* connection = FindConnection(connectionId);
  if (!connection) {
    return;
  }
  for (auto it = mPending.begin(); it != mPending.end();) {
    auto next = std::next(it);
    BusTransfer& t = it->second.transfer;
    if (t.connection == connectionId && !t.isochronous && !mSilentEndpoints[t.endpoint]) {
      size_t length = 0;
      if (TakeInjectedError(t.endpoint)) {
        Finish(it, TransferStatus::eError, completions);
      } else if (!IsIn(t.endpoint)) {
        const bool taken = connection->device->ReceiveOut(t.endpoint, t.buffer, t.length);
        it->second.transferred = taken ? t.length : 0;
        Finish(it, taken ? TransferStatus::eCompleted : TransferStatus::eStall, completions);
        // What the device answers may complete reads already served above.
        next = mPending.begin();
      } else if (connection->device->SendIn(t.endpoint, t.buffer, t.length, length)) {
        it->second.transferred = std::min(length, t.length);
        Finish(it, TransferStatus::eCompleted, completions);
      }
    }
    it = next;
  }
}

void CVirtualBus::RunFrame(std::vector<Completion>& completions, bool catchingUp) {
  const uint32_t frame = mFrame;
  for (const BusConnection& connection : mConnections) {
    if (connection.device->KeepsUnreadData()) {
      connection.device->FrameRuns(catchingUp);
    }
    for (const EndpointDescription& endpoint : connection.device->Description().endpoints) {
      if (endpoint.type != EndpointType::eIsochronous || !IsIn(endpoint.address)) {
        continue;
      }
      // The host transfer whose packet covers this frame, if any: one
      // transfer takes a frame's packet.
      Pending* reader = nullptr;
      for (auto& [id, pending] : mPending) {
        const BusTransfer& t = pending.transfer;
        if (t.connection == connection.id && t.endpoint == endpoint.address && t.isochronous &&
            frame - t.startFrame < t.numPackets) {
          reader = &pending;
          break;
        }
      }
      const bool keeps = connection.device->KeepsUnreadData();
      if (keeps && (mStreamStalled || !reader)) {
        continue;  // the device holds its data for a frame the host reads
      }
      BusTransfer* t = reader ? &reader->transfer : nullptr;
      size_t capacity = endpoint.maxPacketSize;
      if (keeps) {
        capacity = std::min<size_t>(capacity, t->packets[frame - t->startFrame].capacity);
      }
      mScratch.resize(endpoint.maxPacketSize);
      const size_t length =
          std::min<size_t>(connection.device->ProduceIsoPacket(endpoint.address, frame, mScratch.data(), capacity),
                           capacity);
      if (keeps) {
        mDeviceBehind = connection.device->HasDataWaiting();
      }
      if (mStreamStalled || !t) {
        continue;
      }
      {
        IsoPacket& packet = t->packets[frame - t->startFrame];
        const size_t copied = std::min<size_t>(length, packet.capacity);
        std::memcpy(t->buffer + packet.offset, mScratch.data(), copied);
        packet.length = static_cast<uint32_t>(copied);
        packet.overrun = copied < length;
        reader->transferred += copied;
        if (mObserver) {
          mObserver(frame, endpoint.address, mScratch.data(), copied);
        }
      }
    }
    ServeInterrupt(connection.id, completions);
  }
  // Isochronous transfers end once the frame of their last packet has passed.
  if (!mStreamStalled) {
    for (auto it = mPending.begin(); it != mPending.end();) {
      auto next = std::next(it);
      const BusTransfer& t = it->second.transfer;
      if (t.isochronous) {
        const uint32_t index = frame - t.startFrame;
        const bool started = static_cast<int32_t>(index) >= 0;
        if (started && index + 1 >= t.numPackets) {
          Finish(it, TakeInjectedError(t.endpoint) ? TransferStatus::eError : TransferStatus::eCompleted, completions);
        }
      }
      it = next;
    }
  }
  ++mFrame;
  ++mFramesRun;
}

}  // namespace sim
