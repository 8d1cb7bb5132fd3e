// The layer's contract as the pipes and the port rely on it, exercised
// against the virtual sensor.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "OpenSensorFixture.h"

namespace {

using UsbLayerContract = OpenSensorFixture;

TEST_F(UsbLayerContract, ListsTheSensorWithItsIdentity) {
  unsigned count = 0;
  ASSERT_TRUE(LstK_Count(list, &count));
  EXPECT_EQ(count, 1u);
  KLST_DEVINFO_HANDLE info = nullptr;
  ASSERT_TRUE(LstK_FindByVidPid(list, 0xE785, 0x64F2, &info));
  EXPECT_EQ(info->Common.Vid, 0xE785);
  EXPECT_EQ(info->Common.Pid, 0x64F2);
  EXPECT_STRNE(info->DevicePath, "");
  EXPECT_STRNE(info->Common.InstanceID, "");
  EXPECT_STRNE(info->DeviceDesc, "");
  EXPECT_STRNE(info->Mfg, "");

  KLST_DEVINFO_HANDLE other = nullptr;
  EXPECT_FALSE(LstK_FindByVidPid(list, 0xE785, 0x0001, &other));
  EXPECT_EQ(other, nullptr);
}

TEST_F(UsbLayerContract, ReportsInterfaceAndEndpoints) {
  USB_INTERFACE_DESCRIPTOR descriptor{};
  ASSERT_TRUE(UsbK_QueryInterfaceSettings(handle, 0, &descriptor));
  EXPECT_EQ(descriptor.bLength, 9);
  EXPECT_EQ(descriptor.bInterfaceNumber, 0);
  EXPECT_EQ(descriptor.bAlternateSetting, 0);
  EXPECT_EQ(descriptor.bNumEndpoints, 3);
  EXPECT_TRUE(UsbK_SetAltInterface(handle, descriptor.bInterfaceNumber, false, descriptor.bAlternateSetting));

  struct Expected {
    USBD_PIPE_TYPE type;
    uint8_t id;
    uint16_t size;
  };
  const Expected expected[] = {{UsbdPipeTypeInterrupt, 0x01, 64},
                               {UsbdPipeTypeInterrupt, 0x81, 64},
                               {UsbdPipeTypeIsochronous, 0x82, 1023}};
  for (uint8_t index = 0; index < 3; ++index) {
    WINUSB_PIPE_INFORMATION pipe{};
    ASSERT_TRUE(UsbK_QueryPipe(handle, 0, index, &pipe));
    EXPECT_EQ(pipe.PipeType, expected[index].type);
    EXPECT_EQ(pipe.PipeId, expected[index].id);
    EXPECT_EQ(pipe.MaximumPacketSize, expected[index].size);
    EXPECT_EQ(pipe.Interval, 1);
  }
  WINUSB_PIPE_INFORMATION past{};
  EXPECT_FALSE(UsbK_QueryPipe(handle, 0, 3, &past));
  EXPECT_EQ(GetLastError(), kErrorNoMoreItems);
}

TEST_F(UsbLayerContract, CommandIsAnsweredByParameterBlockEchoingItsNumber) {
  KOVL_POOL_HANDLE commandPool = NewPool(handle, 1);
  KOVL_POOL_HANDLE statusPool = NewPool(handle, 1);
  SendCommand(commandPool, 'A', 300, 258);
  EXPECT_EQ(sensor->Values()[1], 300);

  std::array<uint8_t, 64> block{};
  KOVL_HANDLE read = Acquire(statusPool);
  ExpectQueued(UsbK_ReadPipe(handle, kStatusPipe, block.data(), block.size(), nullptr, read));
  unsigned length = 0;
  ASSERT_TRUE(OvlK_WaitAndRelease(read, 100, &length)) << GetLastError();
  ASSERT_EQ(length, 18u);
  const uint8_t expected[18] = {0x01, 0x02, 0x01, 0x2C, 0x00, 0x32, 0x00, 0xC8, 0x00,
                                0x96, 0x03, 0xE8, 0x03, 0xE8, 0x00, 0x00, 0x01, 0x02};
  EXPECT_EQ(0, std::memcmp(block.data(), expected, sizeof expected));
}

TEST_F(UsbLayerContract, ReadWithNothingToReturnStaysPendingAndCompletesLater) {
  KOVL_POOL_HANDLE commandPool = NewPool(handle, 1);
  KOVL_POOL_HANDLE statusPool = NewPool(handle, 1);
  std::array<uint8_t, 64> block{};
  KOVL_HANDLE read = Acquire(statusPool);
  ExpectQueued(UsbK_ReadPipe(handle, kStatusPipe, block.data(), block.size(), nullptr, read));

  unsigned length = 99;
  EXPECT_FALSE(OvlK_WaitAndRelease(read, 100, &length));
  EXPECT_EQ(GetLastError(), kErrorSemTimeout);
  EXPECT_EQ(length, 0u);
  // Released while in flight: the pool of one has nothing to hand out yet.
  KOVL_HANDLE again = nullptr;
  EXPECT_FALSE(OvlK_Acquire(&again, statusPool));
  EXPECT_EQ(GetLastError(), kErrorNoMoreItems);

  SendCommand(commandPool, ' ', 0, 11);
  EXPECT_TRUE(OvlK_WaitAndRelease(read, 100, &length)) << GetLastError();
  EXPECT_EQ(length, 18u);
  EXPECT_EQ(Word(block.data() + 16), 11);
  EXPECT_TRUE(OvlK_Acquire(&again, statusPool));
  EXPECT_EQ(again, read);
}

TEST_F(UsbLayerContract, IsochronousRingFillsInOrderAsTheClockAdvances) {
  KOVL_POOL_HANDLE pool = NewPool(handle, 10);
  std::vector<IsoRead> ring(10);
  for (IsoRead& read : ring) {
    PrepareIso(read, pool);
  }
  const uint32_t first = (CurrentFrame() + 100) / kPackets * kPackets;
  for (size_t i = 0; i < ring.size(); ++i) {
    QueueIso(ring[i], first + static_cast<uint32_t>(i) * kPackets);
  }
  bus->Advance(first - CurrentFrame() + kPackets - 1);
  EXPECT_FALSE(Done(ring[0]));
  EXPECT_EQ(GetLastError(), kErrorSemTimeout);
  bus->Advance(1);
  unsigned length = 0;
  EXPECT_TRUE(Done(ring[0], &length));
  EXPECT_FALSE(Done(ring[1]));

  bus->Advance(9 * kPackets);
  std::vector<uint16_t> counts;
  for (IsoRead& read : ring) {
    ASSERT_TRUE(Done(read, &length));
    unsigned sum = 0;
    for (int i = 0; i < kPackets; ++i) {
      const KISO_PACKET& packet = read.context->IsoPackets[i];
      EXPECT_EQ(packet.Status, kIsoPacketOk);
      EXPECT_EQ(packet.Offset, static_cast<uint32_t>(i * kPacketLength));
      EXPECT_EQ(packet.Length, 28 + 40 * 8) << "40 samples in every frame at the power-up rate";
      sum += packet.Length;
    }
    EXPECT_EQ(length, sum);
    for (uint16_t c : Counts(read)) counts.push_back(c);
  }
  ASSERT_EQ(counts.size(), 10u * kPackets * 40);
  for (size_t i = 1; i < counts.size(); ++i) {
    ASSERT_EQ(static_cast<uint16_t>(counts[i - 1] + 1), counts[i]) << "at sample " << i;
  }
}

TEST_F(UsbLayerContract, PacketsCarryTheirOwnLengthsWhenTheRateChanges) {
  KOVL_POOL_HANDLE commandPool = NewPool(handle, 1);
  SendCommand(commandPool, 'R', 1100, 12);
  KOVL_POOL_HANDLE pool = NewPool(handle, 1);
  IsoRead read;
  PrepareIso(read, pool);
  QueueIso(read, CurrentFrame() + 2);
  bus->Advance(2 + kPackets);
  unsigned length = 0;
  ASSERT_TRUE(Done(read, &length));
  std::vector<unsigned> lengths;
  for (int i = 0; i < kPackets; ++i) lengths.push_back(read.context->IsoPackets[i].Length);
  EXPECT_NE(std::count(lengths.begin(), lengths.end(), 28 + 36 * 8), 0);
  EXPECT_NE(std::count(lengths.begin(), lengths.end(), 28 + 37 * 8), 0);
  const std::vector<uint16_t> counts = Counts(read);
  for (size_t i = 1; i < counts.size(); ++i) {
    ASSERT_EQ(static_cast<uint16_t>(counts[i - 1] + 1), counts[i]);
  }
}

TEST_F(UsbLayerContract, CancelledTransfersReportOperationAborted) {
  KOVL_POOL_HANDLE pool = NewPool(handle, 2);
  IsoRead first;
  IsoRead second;
  PrepareIso(first, pool);
  PrepareIso(second, pool);
  QueueIso(first, CurrentFrame() + 1000);
  QueueIso(second, CurrentFrame() + 1016);

  unsigned length = 99;
  EXPECT_FALSE(OvlK_WaitOrCancel(first.overlapped, 0, &length));
  EXPECT_EQ(GetLastError(), kErrorOperationAborted);
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(OvlK_Wait(first.overlapped, 0, 0, &length));  // the result stays until reused
  EXPECT_EQ(GetLastError(), kErrorOperationAborted);

  EXPECT_TRUE(UsbK_AbortPipe(handle, kDataPipe));
  EXPECT_FALSE(OvlK_Wait(second.overlapped, 0, 0, &length));
  EXPECT_EQ(GetLastError(), kErrorOperationAborted);

  // A cancelled block is reused and queued again like any other.
  EXPECT_TRUE(OvlK_ReUse(first.overlapped));
  QueueIso(first, CurrentFrame() + 1);
  bus->Advance(1 + kPackets);
  EXPECT_TRUE(Done(first, &length));
  EXPECT_EQ(length, kPackets * (28u + 40 * 8));
}

// Records what the hot-plug monitor reports.
struct HotplugLog {
  static HotplugLog* sActive;
  std::mutex mutex;
  std::vector<std::pair<KLST_SYNC_FLAG, std::string>> events;

  static void Callback(KHOT_HANDLE, KLST_DEVINFO_HANDLE info, KLST_SYNC_FLAG change) {
    std::lock_guard<std::mutex> lock(sActive->mutex);
    sActive->events.emplace_back(change, info->DevicePath);
  }
  std::vector<std::pair<KLST_SYNC_FLAG, std::string>> Take() {
    EXPECT_TRUE(UsbLib_FlushHotplug());
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(events, {});
  }
};
HotplugLog* HotplugLog::sActive = nullptr;

TEST_F(UsbLayerContract, UnplugEndsTransfersRaisesRemovalAndReplugRaisesArrival) {
  HotplugLog log;
  HotplugLog::sActive = &log;
  KHOT_PARAMS params{};
  params.Flags = KHOT_FLAG_PLUG_ALL_ON_INIT;
  std::strcpy(params.PatternMatch.DeviceInterfaceGUID, "*");
  params.OnHotPlug = &HotplugLog::Callback;
  KHOT_HANDLE monitor = nullptr;
  ASSERT_TRUE(HotK_Init(&monitor, &params));
  KLST_DEVINFO_HANDLE info = nullptr;
  ASSERT_TRUE(LstK_FindByVidPid(list, 0xE785, 0x64F2, &info));
  const std::string path = info->DevicePath;
  auto events = log.Take();
  ASSERT_EQ(events.size(), 1u) << "the sensor present at start is reported as an arrival";
  EXPECT_EQ(events[0].first, KLST_SYNC_FLAG_ADDED);

  KOVL_POOL_HANDLE pool = NewPool(handle, 2);
  IsoRead stream;
  PrepareIso(stream, pool);
  QueueIso(stream, CurrentFrame() + 10);
  std::array<uint8_t, 64> block{};
  KOVL_HANDLE status = Acquire(pool);
  ExpectQueued(UsbK_ReadPipe(handle, kStatusPipe, block.data(), block.size(), nullptr, status));

  std::thread unplug([&] { bus->Unplug(sensor); });
  unsigned length = 0;
  EXPECT_FALSE(OvlK_Wait(status, 2000, 0, &length));
  EXPECT_EQ(GetLastError(), kErrorDeviceNotConnected);
  unplug.join();
  EXPECT_FALSE(OvlK_Wait(stream.overlapped, 0, 0, &length));
  EXPECT_EQ(GetLastError(), kErrorDeviceNotConnected);
  events = log.Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, KLST_SYNC_FLAG_REMOVED);
  EXPECT_EQ(events[0].second, path);

  bus->Plug(sensor);
  events = log.Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, KLST_SYNC_FLAG_ADDED);
  EXPECT_EQ(events[0].second, path) << "same port, same path";

  unsigned frame = 0;
  EXPECT_FALSE(UsbK_GetCurrentFrameNumber(handle, &frame)) << "the old handle stays dead";
  EXPECT_EQ(GetLastError(), kErrorDeviceNotConnected);
  EXPECT_TRUE(UsbK_Free(handle));
  EXPECT_TRUE(LstK_Free(list));
  handle = OpenSensor();
  EXPECT_TRUE(UsbK_GetCurrentFrameNumber(handle, &frame));
  EXPECT_TRUE(HotK_Free(monitor));
  HotplugLog::sActive = nullptr;
}

}  // namespace
