#pragma once
// An in-process USB bus for virtual devices. It keeps bus time in 1 ms frames,
// either following the wall clock on its own thread or advanced by hand for
// deterministic tests; it carries interrupt and isochronous transfers between
// the host side and the plugged devices, and tells listeners about arrivals
// and removals.
//
// Transfers complete through their callback, always outside the bus lock:
// an interrupt transfer as soon as the device answers (possibly before Submit
// returns), an isochronous transfer once the bus has passed the frame of its
// last packet. Unplugging a device ends its transfers with eNoDevice.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "VirtualDevice.h"

namespace sim {

enum class TransferStatus { eCompleted, eCancelled, eNoDevice, eStall, eError };
enum class SubmitStatus { eQueued, eNoDevice, eBadEndpoint, eBadRequest };

// One packet slot of an isochronous transfer: the host sets offset and
// capacity, the bus fills length and whether the packet was transferred.
struct IsoPacket {
  uint32_t offset = 0;
  uint32_t capacity = 0;
  uint32_t length = 0;
  bool accessed = false;  // false: its frame passed before the transfer was queued
  bool overrun = false;   // the device sent more than the slot holds
};

struct BusTransfer {
  uint32_t connection = 0;  // from Plug
  uint8_t endpoint = 0;
  uint8_t* buffer = nullptr;
  size_t length = 0;
  // Isochronous transfers only: packet i covers frame startFrame + i.
  bool isochronous = false;
  uint32_t startFrame = 0;
  IsoPacket* packets = nullptr;
  size_t numPackets = 0;
  std::function<void(TransferStatus status, size_t transferred)> done;
};

struct BusConnection {
  uint32_t id = 0;  // new for every plug, never reused
  int port = 0;     // position on the bus; the same device plugged again takes the lowest free port
  std::shared_ptr<CVirtualDevice> device;
};

class CVirtualBus {
 public:
  enum class Clock { eManual, eRealTime };

  explicit CVirtualBus(Clock clock, uint32_t firstFrame = 0);
  ~CVirtualBus();
  CVirtualBus(const CVirtualBus&) = delete;
  CVirtualBus& operator=(const CVirtualBus&) = delete;

  // Plug a device in (any thread). Returns its connection id, or 0 when it is
  // already plugged in. The device powers up before listeners hear of it.
  uint32_t Plug(std::shared_ptr<CVirtualDevice> device);
  // Unplug it (any thread): its transfers end with eNoDevice, then listeners
  // hear of the removal. Returns false when it was not plugged in.
  bool Unplug(const std::shared_ptr<CVirtualDevice>& device);
  std::vector<BusConnection> Connections() const;
  bool IsConnected(uint32_t connection) const;

  // Hot-plug listeners run on the thread that plugged or unplugged the device.
  using HotplugListener = std::function<void(const BusConnection& connection, bool arrived)>;
  int AddHotplugListener(HotplugListener listener);
  void RemoveHotplugListener(int id);

  uint32_t CurrentFrame() const;
  Clock ClockKind() const { return mClock; }
  // Manual clock: lets `frames` frames pass on the calling thread, completing
  // transfers as they go. Ignored on the real-time clock.
  void Advance(uint32_t frames);

  SubmitStatus Submit(const BusTransfer& transfer, uint64_t& transferId);
  // Ends a queued transfer with eCancelled; its callback has run when this
  // returns true. False when the transfer is not queued (it has completed, or
  // its completion is on its way).
  bool Cancel(uint64_t transferId);

  // Fault injection. The next `count` transfers on `endpoint` of any device
  // end with eError (isochronous ones when their last frame passes).
  void InjectTransferErrors(uint8_t endpoint, unsigned count);
  // While stalled, no frame reaches an isochronous transfer and none completes.
  void SetStreamStalled(bool stalled);
  // While silent, transfers on this interrupt endpoint stay queued, as if the
  // device NAKed every token (OUT data is not taken either).
  void SetEndpointSilent(uint8_t endpoint, bool silent);

  // Catching up: while a device that keeps its unread data has more waiting
  // than its last packet carried, the frames that queued host transfers
  // cover run at once rather than at their time (the real-time clock runs
  // ahead of the wall clock by as much, and keeps its pace from there on;
  // the manual clock runs them after the frames it was asked for). So a
  // backlog drains as fast as the host reads, up to the frames it keeps
  // queued. Meant for a bus of such devices alone (a playback sensor); off
  // by default.
  void SetCatchUp(bool catchUp);

  // Called for every isochronous packet delivered into a host transfer, under
  // the bus lock (keep it short and do not call the bus from it).
  using PacketObserver = std::function<void(uint32_t frame, uint8_t endpoint, const uint8_t* data, size_t length)>;
  void SetPacketObserver(PacketObserver observer);

 private:
  struct Pending {
    BusTransfer transfer;
    size_t transferred = 0;
  };
  using Completion = std::pair<std::function<void(TransferStatus, size_t)>, std::pair<TransferStatus, size_t>>;

  const EndpointDescription* FindEndpoint(const BusConnection& connection, uint8_t endpoint) const;
  const BusConnection* FindConnection(uint32_t id) const;
  void RunFrame(std::vector<Completion>& completions, bool catchingUp);
  // A device is behind and a queued host packet covers the current frame.
  bool CanCatchUp() const;
  void ServeInterrupt(uint32_t connection, std::vector<Completion>& completions);
  bool TakeInjectedError(uint8_t endpoint);
  void Finish(std::map<uint64_t, Pending>::iterator it, TransferStatus status, std::vector<Completion>& completions);
  static void Deliver(std::vector<Completion>& completions);
  void RealTimeLoop();

  const Clock mClock;
  mutable std::mutex mMutex;
  uint32_t mFrame;
  uint64_t mFramesRun = 0;
  std::vector<BusConnection> mConnections;
  uint32_t mNextConnectionId = 1;
  std::map<uint64_t, Pending> mPending;
  uint64_t mNextTransferId = 1;
  std::map<uint8_t, unsigned> mInjectedErrors;
  bool mStreamStalled = false;
  bool mCatchUp = false;
  bool mDeviceBehind = false;  // a device said it has data waiting, after its last packet
  uint64_t mFramesAhead = 0;   // real-time clock: frames run ahead of the wall clock
  std::map<uint8_t, bool> mSilentEndpoints;
  PacketObserver mObserver;
  std::vector<uint8_t> mScratch;

  std::mutex mListenerMutex;  // held while listeners run, never with mMutex
  std::map<int, HotplugListener> mListeners;
  int mNextListenerId = 1;

  std::thread mClockThread;
  std::condition_variable mStopSignal;
  bool mStopping = false;
};

}  // namespace sim
