// The virtual bus on its own: its clocks, isochronous packet timing, the
// packet observer, and plugging and unplugging devices.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "VirtualBus.h"

namespace sim {
namespace {

constexpr uint8_t kIsoIn = 0x82;
constexpr uint8_t kInterruptIn = 0x81;
constexpr uint16_t kIsoSize = 16;
constexpr auto kGenerous = std::chrono::seconds(20);

// A device whose isochronous packet tells its frame: 1 + frame % 8 bytes, each
// the frame's low byte. Its interrupt IN endpoint never has data.
class CFrameDevice : public CVirtualDevice {
 public:
  CFrameDevice() {
    mDescription.vendorId = 0x1234;
    mDescription.productId = 0x5678;
    mDescription.endpoints = {{kInterruptIn, EndpointType::eInterrupt, 64, 1},
                              {kIsoIn, EndpointType::eIsochronous, kIsoSize, 1}};
  }
  const DeviceDescription& Description() const override { return mDescription; }
  void PowerUp() override {}
  size_t ProduceIsoPacket(uint8_t, uint32_t frame, uint8_t* out, size_t capacity) override {
    const size_t length = std::min<size_t>(capacity, PacketLength(frame));
    std::fill(out, out + length, static_cast<uint8_t>(frame));
    return length;
  }
  bool ReceiveOut(uint8_t, const uint8_t*, size_t) override { return true; }
  bool SendIn(uint8_t, uint8_t*, size_t, size_t&) override { return false; }

  static size_t PacketLength(uint32_t frame) { return 1 + frame % 8; }

 private:
  DeviceDescription mDescription;
};

// One isochronous transfer with its buffer, packet slots and result.
class CIsoRead {
 public:
  CIsoRead(uint32_t connection, uint32_t startFrame, size_t packets)
      : mBuffer(packets * kIsoSize, 0xEE), mPackets(packets) {
    for (size_t i = 0; i < packets; ++i) {
      mPackets[i].offset = static_cast<uint32_t>(i * kIsoSize);
      mPackets[i].capacity = kIsoSize;
      mPackets[i].length = 999;  // stale values the bus must reset
      mPackets[i].accessed = true;
    }
    mTransfer.connection = connection;
    mTransfer.endpoint = kIsoIn;
    mTransfer.buffer = mBuffer.data();
    mTransfer.length = mBuffer.size();
    mTransfer.isochronous = true;
    mTransfer.startFrame = startFrame;
    mTransfer.packets = mPackets.data();
    mTransfer.numPackets = packets;
    mTransfer.done = [this](TransferStatus status, size_t transferred) {
      std::lock_guard<std::mutex> lock(mMutex);
      ++mCompletions;
      mResult = std::make_pair(status, transferred);
      mDone.notify_all();
    };
  }

  BusTransfer& Transfer() { return mTransfer; }
  const std::vector<IsoPacket>& Packets() const { return mPackets; }
  const std::vector<uint8_t>& Buffer() const { return mBuffer; }

  std::optional<std::pair<TransferStatus, size_t>> Result() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mResult;
  }
  int Completions() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mCompletions;
  }
  bool WaitDone() {
    std::unique_lock<std::mutex> lock(mMutex);
    return mDone.wait_for(lock, kGenerous, [this] { return mResult.has_value(); });
  }

 private:
  std::vector<uint8_t> mBuffer;
  std::vector<IsoPacket> mPackets;
  BusTransfer mTransfer;
  std::mutex mMutex;
  std::condition_variable mDone;
  std::optional<std::pair<TransferStatus, size_t>> mResult;
  int mCompletions = 0;
};

// Packet `i` of the read holds exactly what the device sent in `frame`.
void ExpectPacketFromFrame(const CIsoRead& read, size_t i, uint32_t frame) {
  SCOPED_TRACE(testing::Message() << "packet " << i << ", frame " << frame);
  const IsoPacket& p = read.Packets()[i];
  EXPECT_TRUE(p.accessed);
  EXPECT_FALSE(p.overrun);
  ASSERT_EQ(p.length, CFrameDevice::PacketLength(frame));
  for (size_t b = 0; b < p.length; ++b) {
    EXPECT_EQ(read.Buffer()[p.offset + b], static_cast<uint8_t>(frame));
  }
}

TEST(VirtualBusTest, RealTimeClockRunsOnItsOwnAndCompletesIsoTransfers) {
  CVirtualBus bus(CVirtualBus::Clock::eRealTime, 100);
  const uint32_t connection = bus.Plug(std::make_shared<CFrameDevice>());
  const uint32_t first = bus.CurrentFrame();
  const auto deadline = std::chrono::steady_clock::now() + kGenerous;
  while (bus.CurrentFrame() - first < 50 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GE(bus.CurrentFrame() - first, 50u);

  const uint32_t start = bus.CurrentFrame() + 5;
  CIsoRead read(connection, start, 4);
  uint64_t id = 0;
  ASSERT_EQ(bus.Submit(read.Transfer(), id), SubmitStatus::eQueued);
  ASSERT_TRUE(read.WaitDone());
  EXPECT_EQ(read.Result()->first, TransferStatus::eCompleted);
  EXPECT_GE(bus.CurrentFrame(), start + 4);
  size_t delivered = 0;
  for (size_t i = 0; i < 4; ++i) {
    // A heavily loaded machine may have let the first frames pass already.
    if (read.Packets()[i].accessed) {
      ExpectPacketFromFrame(read, i, start + static_cast<uint32_t>(i));
    }
    delivered += read.Packets()[i].length;
  }
  EXPECT_EQ(read.Result()->second, delivered);
}

TEST(VirtualBusTest, PacketsOfPassedFramesAreNotAccessed) {
  CVirtualBus bus(CVirtualBus::Clock::eManual, 1000);
  const uint32_t connection = bus.Plug(std::make_shared<CFrameDevice>());
  bus.Advance(10);
  ASSERT_EQ(bus.CurrentFrame(), 1010u);

  // Frames 1006 to 1013; the first four have passed.
  CIsoRead read(connection, 1006, 8);
  uint64_t id = 0;
  ASSERT_EQ(bus.Submit(read.Transfer(), id), SubmitStatus::eQueued);
  bus.Advance(4);
  ASSERT_TRUE(read.Result().has_value());
  EXPECT_EQ(read.Result()->first, TransferStatus::eCompleted);
  size_t delivered = 0;
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_FALSE(read.Packets()[i].accessed) << i;
    EXPECT_EQ(read.Packets()[i].length, 0u) << i;
    EXPECT_EQ(read.Buffer()[i * kIsoSize], 0xEE) << i;
  }
  for (size_t i = 4; i < 8; ++i) {
    ExpectPacketFromFrame(read, i, 1006 + static_cast<uint32_t>(i));
    delivered += read.Packets()[i].length;
  }
  EXPECT_EQ(read.Result()->second, delivered);
}

TEST(VirtualBusTest, IsoTransferCompletesOnlyAfterItsLastFrame) {
  CVirtualBus bus(CVirtualBus::Clock::eManual, 2000);
  const uint32_t connection = bus.Plug(std::make_shared<CFrameDevice>());
  CIsoRead read(connection, 2002, 3);  // frames 2002 to 2004
  uint64_t id = 0;
  ASSERT_EQ(bus.Submit(read.Transfer(), id), SubmitStatus::eQueued);
  bus.Advance(4);  // 2000 to 2003
  EXPECT_FALSE(read.Result().has_value());
  bus.Advance(1);  // 2004
  ASSERT_TRUE(read.Result().has_value());
  EXPECT_EQ(read.Result()->first, TransferStatus::eCompleted);
  ExpectPacketFromFrame(read, 2, 2004);
  bus.Advance(5);
  EXPECT_EQ(read.Completions(), 1);
  EXPECT_FALSE(bus.Cancel(id));  // no longer queued
}

TEST(VirtualBusTest, ObserverSeesEachDeliveredPacketOnce) {
  CVirtualBus bus(CVirtualBus::Clock::eManual, 3000);
  const uint32_t connection = bus.Plug(std::make_shared<CFrameDevice>());
  std::map<uint32_t, std::vector<size_t>> seen;  // frame -> lengths observed
  bus.SetPacketObserver([&](uint32_t frame, uint8_t endpoint, const uint8_t* data, size_t length) {
    EXPECT_EQ(endpoint, kIsoIn);
    if (length > 0) {
      EXPECT_EQ(data[0], static_cast<uint8_t>(frame));
    }
    seen[frame].push_back(length);
  });

  // Two transfers claim frames 3003 and 3004; each frame's packet goes to one.
  CIsoRead early(connection, 3001, 4);
  CIsoRead late(connection, 3003, 4);
  uint64_t id = 0;
  ASSERT_EQ(bus.Submit(early.Transfer(), id), SubmitStatus::eQueued);
  ASSERT_EQ(bus.Submit(late.Transfer(), id), SubmitStatus::eQueued);
  bus.Advance(12);
  ASSERT_TRUE(early.Result().has_value() && late.Result().has_value());

  EXPECT_EQ(seen.size(), 6u);  // frames 3001 to 3006; none without a transfer
  size_t packetsDelivered = 0;
  for (const CIsoRead* read : {&early, &late}) {
    for (const IsoPacket& p : read->Packets()) {
      packetsDelivered += p.length > 0;
    }
  }
  EXPECT_EQ(packetsDelivered, 6u);
  for (uint32_t frame = 3001; frame <= 3006; ++frame) {
    ASSERT_EQ(seen[frame].size(), 1u) << frame;
    EXPECT_EQ(seen[frame][0], CFrameDevice::PacketLength(frame)) << frame;
  }
}

TEST(VirtualBusTest, UnplugEndsTransfersBeforeListenersHear) {
  CVirtualBus bus(CVirtualBus::Clock::eManual, 0);
  auto device = std::make_shared<CFrameDevice>();
  const uint32_t connection = bus.Plug(device);

  CIsoRead iso(connection, 100, 4);
  std::optional<TransferStatus> interruptStatus;
  std::vector<uint8_t> interruptBuffer(64);
  BusTransfer interrupt;
  interrupt.connection = connection;
  interrupt.endpoint = kInterruptIn;
  interrupt.buffer = interruptBuffer.data();
  interrupt.length = interruptBuffer.size();
  interrupt.done = [&](TransferStatus status, size_t) { interruptStatus = status; };
  uint64_t id = 0;
  ASSERT_EQ(bus.Submit(iso.Transfer(), id), SubmitStatus::eQueued);
  ASSERT_EQ(bus.Submit(interrupt, id), SubmitStatus::eQueued);

  int removals = 0;
  bus.AddHotplugListener([&](const BusConnection& c, bool arrived) {
    EXPECT_FALSE(arrived);
    EXPECT_EQ(c.id, connection);
    ++removals;
    EXPECT_TRUE(iso.Result().has_value());
    EXPECT_TRUE(interruptStatus.has_value());
  });
  ASSERT_TRUE(bus.Unplug(device));
  EXPECT_EQ(removals, 1);
  ASSERT_TRUE(iso.Result().has_value());
  EXPECT_EQ(iso.Result()->first, TransferStatus::eNoDevice);
  ASSERT_TRUE(interruptStatus.has_value());
  EXPECT_EQ(*interruptStatus, TransferStatus::eNoDevice);
  EXPECT_FALSE(bus.IsConnected(connection));
  EXPECT_FALSE(bus.Unplug(device));
  EXPECT_EQ(removals, 1);

  // The old connection takes no new transfers.
  CIsoRead after(connection, 200, 1);
  EXPECT_EQ(bus.Submit(after.Transfer(), id), SubmitStatus::eNoDevice);
}

TEST(VirtualBusTest, PluggingTwiceIsRefused) {
  CVirtualBus bus(CVirtualBus::Clock::eManual, 0);
  auto device = std::make_shared<CFrameDevice>();
  EXPECT_NE(bus.Plug(device), 0u);
  EXPECT_EQ(bus.Plug(device), 0u);
  EXPECT_EQ(bus.Connections().size(), 1u);
}

TEST(VirtualBusTest, ReplugTakesSamePortAndNewConnection) {
  CVirtualBus bus(CVirtualBus::Clock::eManual, 0);
  auto first = std::make_shared<CFrameDevice>();
  auto second = std::make_shared<CFrameDevice>();
  const uint32_t firstId = bus.Plug(first);
  bus.Plug(second);
  auto portOf = [&](const std::shared_ptr<CFrameDevice>& device) {
    for (const BusConnection& c : bus.Connections()) {
      if (c.device == device) return std::make_pair(c.port, c.id);
    }
    return std::make_pair(0, 0u);
  };
  const int firstPort = portOf(first).first;
  ASSERT_NE(firstPort, portOf(second).first);

  ASSERT_TRUE(bus.Unplug(first));
  const uint32_t againId = bus.Plug(first);
  EXPECT_NE(againId, 0u);
  EXPECT_NE(againId, firstId);
  EXPECT_EQ(portOf(first), std::make_pair(firstPort, againId));
  EXPECT_FALSE(bus.IsConnected(firstId));
  EXPECT_TRUE(bus.IsConnected(againId));
}

}  // namespace
}  // namespace sim
