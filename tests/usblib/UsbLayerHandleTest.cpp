// The layer's checks of the handles and arguments it is given: null, freed and
// foreign handles, misused pipes, overlapped handles and isochronous contexts,
// a device that has gone away, and objects freed while transfers are in flight.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "backends/VirtualSensorFixture.h"

namespace {

constexpr uint8_t kCommandPipe = sim::CVirtualSensor::kCommandEndpoint;  // interrupt OUT
constexpr uint8_t kStatusPipe = sim::CVirtualSensor::kStatusEndpoint;    // interrupt IN, answers only after a command
constexpr uint8_t kDataPipe = sim::CVirtualSensor::kDataEndpoint;        // isochronous IN
constexpr unsigned kIsoPacketSize = sim::CVirtualSensor::kIsoPacketSize;
constexpr int kIsoPackets = 8;
constexpr int kLongWaitMs = 30000;

// Checks a call's result together with the last-error word it left.
::testing::AssertionResult FailsWith(uint32_t expected, bool result) {
  const uint32_t error = GetLastError();
  if (result) {
    return ::testing::AssertionFailure() << "succeeded";
  }
  if (error != expected) {
    return ::testing::AssertionFailure() << "failed with " << error << " instead of " << expected;
  }
  return ::testing::AssertionSuccess();
}

template <typename To, typename From>
To Foreign(From handle) {
  return reinterpret_cast<To>(handle);
}

template <typename Handle>
struct NamedHandle {
  std::string name;
  Handle handle;
};

class UsbLayerHandleTest : public VirtualSensorFixture {
 protected:
  // An isochronous context laid out for the sensor's data packets.
  PKISO_CONTEXT NewIsoContext(int packets = kIsoPackets) {
    PKISO_CONTEXT context = nullptr;
    EXPECT_TRUE(IsoK_Init(&context, packets, 0)) << GetLastError();
    EXPECT_TRUE(IsoK_SetPackets(context, kIsoPacketSize)) << GetLastError();
    return context;
  }

  // Queues an isochronous read well ahead of the bus, so that it stays pending
  // until the clock is advanced.
  void StartIsoRead(KUSB_HANDLE handle, KOVL_HANDLE overlapped, PKISO_CONTEXT context, std::vector<uint8_t>& buffer) {
    unsigned frame = 0;
    ASSERT_TRUE(UsbK_GetCurrentFrameNumber(handle, &frame));
    context->StartFrame = frame + 4;
    ExpectQueued(UsbK_IsoReadPipe(handle, kDataPipe, buffer.data(), static_cast<unsigned>(buffer.size()), overlapped,
                                  context));
  }

  // A status read stays pending until a command is sent.
  void StartStatusRead(KUSB_HANDLE handle, KOVL_HANDLE overlapped, std::vector<uint8_t>& buffer) {
    ExpectQueued(UsbK_ReadPipe(handle, kStatusPipe, buffer.data(), static_cast<unsigned>(buffer.size()), nullptr,
                               overlapped));
  }

  static void ExpectPending(KOVL_HANDLE overlapped) {
    unsigned length = 0;
    EXPECT_TRUE(FailsWith(kErrorSemTimeout, OvlK_Wait(overlapped, 0, KOVL_WAIT_FLAG_NONE, &length)));
  }

  // Every call on a device handle, with valid arguments otherwise. The
  // transfers share one overlapped handle: none of them may leave it pending.
  static std::vector<std::pair<const char*, std::function<bool(KUSB_HANDLE)>>> DeviceCalls(
      KOVL_HANDLE overlapped, PKISO_CONTEXT context, std::vector<uint8_t>& buffer) {
    const unsigned length = static_cast<unsigned>(buffer.size());
    return {
        {"SelectInterface", [](KUSB_HANDLE h) { return UsbK_SelectInterface(h, 0, true); }},
        {"QueryInterfaceSettings",
         [](KUSB_HANDLE h) {
           USB_INTERFACE_DESCRIPTOR descriptor{};
           return UsbK_QueryInterfaceSettings(h, 0, &descriptor);
         }},
        {"SetAltInterface", [](KUSB_HANDLE h) { return UsbK_SetAltInterface(h, 0, false, 0); }},
        {"QueryPipe",
         [](KUSB_HANDLE h) {
           WINUSB_PIPE_INFORMATION info{};
           return UsbK_QueryPipe(h, 0, 0, &info);
         }},
        {"GetCurrentFrameNumber",
         [](KUSB_HANDLE h) {
           unsigned frame = 0;
           return UsbK_GetCurrentFrameNumber(h, &frame);
         }},
        {"ResetPipe", [](KUSB_HANDLE h) { return UsbK_ResetPipe(h, kStatusPipe); }},
        {"ReadPipe",
         [&buffer, overlapped](KUSB_HANDLE h) {
           return UsbK_ReadPipe(h, kStatusPipe, buffer.data(), 64, nullptr, overlapped);
         }},
        {"WritePipe",
         [&buffer, overlapped](KUSB_HANDLE h) {
           return UsbK_WritePipe(h, kCommandPipe, buffer.data(), 5, nullptr, overlapped);
         }},
        {"IsoReadPipe",
         [&buffer, overlapped, context, length](KUSB_HANDLE h) {
           return UsbK_IsoReadPipe(h, kDataPipe, buffer.data(), length, overlapped, context);
         }},
    };
  }
};

TEST_F(UsbLayerHandleTest, DeviceListCallsRejectBadHandles) {
  KLST_HANDLE freed = nullptr;
  ASSERT_TRUE(LstK_Init(&freed, 0));
  ASSERT_TRUE(LstK_Free(freed));
  KUSB_HANDLE device = OpenSensor();

  const std::vector<NamedHandle<KLST_HANDLE>> bad = {{"null", nullptr},
                                                     {"freed", freed},
                                                     {"device handle", Foreign<KLST_HANDLE>(device)},
                                                     {"made up", Foreign<KLST_HANDLE>(uintptr_t{0x1234})}};
  for (const auto& [name, handle] : bad) {
    SCOPED_TRACE(name);
    unsigned count = 99;
    KLST_DEVINFO_HANDLE info = nullptr;
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, LstK_Count(handle, &count)));
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, LstK_FindByVidPid(handle, 0xE785, 0x64F2, &info)));
    EXPECT_EQ(info, nullptr);
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, LstK_Free(handle)));
  }

  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, LstK_Init(nullptr, 0)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, LstK_Count(list, nullptr)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, LstK_FindByVidPid(list, 0xE785, 0x64F2, nullptr)));
  // The live list is untouched by all of this.
  unsigned count = 0;
  EXPECT_TRUE(LstK_Count(list, &count));
  EXPECT_EQ(count, 1u);
}

TEST_F(UsbLayerHandleTest, UsbInitRejectsEntriesNotInALiveList) {
  KLST_HANDLE other = nullptr;
  KLST_DEVINFO_HANDLE stale = nullptr;
  ASSERT_TRUE(LstK_Init(&other, 0));
  ASSERT_TRUE(LstK_FindByVidPid(other, 0xE785, 0x64F2, &stale));
  KLST_DEVINFO copy = *stale;  // the same contents, but not an entry of any list
  ASSERT_TRUE(LstK_Free(other));

  const std::vector<NamedHandle<KLST_DEVINFO_HANDLE>> bad = {
      {"null", nullptr},
      {"entry of a freed list", stale},
      {"copy on the stack", &copy},
      {"list handle", Foreign<KLST_DEVINFO_HANDLE>(other)},
      {"made up", Foreign<KLST_DEVINFO_HANDLE>(uintptr_t{0x1234})}};
  for (const auto& [name, info] : bad) {
    SCOPED_TRACE(name);
    KUSB_HANDLE handle = Foreign<KUSB_HANDLE>(uintptr_t{0x5678});
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_Init(&handle, info)));
    EXPECT_EQ(handle, nullptr);
  }
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_Init(nullptr, &copy)));
}

TEST_F(UsbLayerHandleTest, DeviceCallsRejectBadHandles) {
  // The device is open once at a time: the stale handle's open goes first.
  KUSB_HANDLE freed = OpenSensor();
  ASSERT_TRUE(UsbK_Free(freed));
  KUSB_HANDLE live = OpenSensor();
  KOVL_POOL_HANDLE pool = NewPool(live, 1);
  KOVL_HANDLE overlapped = Acquire(pool);
  PKISO_CONTEXT context = NewIsoContext();
  std::vector<uint8_t> buffer(kIsoPackets * kIsoPacketSize);

  const std::vector<NamedHandle<KUSB_HANDLE>> bad = {{"null", nullptr},
                                                     {"freed", freed},
                                                     {"list handle", Foreign<KUSB_HANDLE>(list)},
                                                     {"pool handle", Foreign<KUSB_HANDLE>(pool)},
                                                     {"overlapped handle", Foreign<KUSB_HANDLE>(overlapped)},
                                                     {"made up", Foreign<KUSB_HANDLE>(uintptr_t{0x1234})}};
  const auto calls = DeviceCalls(overlapped, context, buffer);
  for (const auto& [handleName, handle] : bad) {
    for (const auto& [callName, call] : calls) {
      SCOPED_TRACE(handleName + std::string(" / ") + callName);
      EXPECT_TRUE(FailsWith(kErrorInvalidParameter, call(handle)));
    }
    SCOPED_TRACE(handleName);
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_AbortPipe(handle, kStatusPipe)));
    KOVL_POOL_HANDLE newPool = nullptr;
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Init(&newPool, handle, 1, 0)));
    EXPECT_EQ(newPool, nullptr);
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_Free(handle)));
  }

  // Null out-pointers.
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_QueryInterfaceSettings(live, 0, nullptr)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_QueryPipe(live, 0, 0, nullptr)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_GetCurrentFrameNumber(live, nullptr)));

  // None of the rejected transfers left the overlapped handle in use.
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Wait(overlapped, 0, KOVL_WAIT_FLAG_NONE, nullptr)));
  std::vector<uint8_t> status(64);
  StartStatusRead(live, overlapped, status);
}

TEST_F(UsbLayerHandleTest, OverlappedCallsRejectBadHandles) {
  KUSB_HANDLE device = OpenSensor();
  KOVL_POOL_HANDLE freedPool = NewPool(device, 2);
  KOVL_HANDLE freedOverlapped = Acquire(freedPool);
  ASSERT_TRUE(OvlK_Free(freedPool));
  KOVL_POOL_HANDLE pool = NewPool(device, 1);
  KOVL_HANDLE live = Acquire(pool);

  const std::vector<NamedHandle<KOVL_POOL_HANDLE>> badPools = {
      {"null", nullptr},
      {"freed", freedPool},
      {"device handle", Foreign<KOVL_POOL_HANDLE>(device)},
      {"overlapped handle", Foreign<KOVL_POOL_HANDLE>(live)},
      {"made up", Foreign<KOVL_POOL_HANDLE>(uintptr_t{0x1234})}};
  for (const auto& [name, handle] : badPools) {
    SCOPED_TRACE(name);
    KOVL_HANDLE overlapped = Foreign<KOVL_HANDLE>(uintptr_t{0x5678});
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Acquire(&overlapped, handle)));
    EXPECT_EQ(overlapped, nullptr);
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Free(handle)));
  }

  const std::vector<NamedHandle<KOVL_HANDLE>> badOverlapped = {
      {"null", nullptr},
      {"freed with its pool", freedOverlapped},
      {"pool handle", Foreign<KOVL_HANDLE>(pool)},
      {"device handle", Foreign<KOVL_HANDLE>(device)},
      {"made up", Foreign<KOVL_HANDLE>(uintptr_t{0x1234})}};
  for (const auto& [name, handle] : badOverlapped) {
    SCOPED_TRACE(name);
    unsigned length = 99;
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Release(handle)));
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_ReUse(handle)));
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Wait(handle, 0, KOVL_WAIT_FLAG_NONE, &length)));
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_WaitOrCancel(handle, 0, &length)));
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_WaitAndRelease(handle, 0, &length)));
    std::vector<uint8_t> buffer(64);
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter,
                          UsbK_ReadPipe(device, kStatusPipe, buffer.data(), 64, nullptr, handle)));
  }

  // Null out-pointers and impossible pool sizes.
  KOVL_POOL_HANDLE newPool = nullptr;
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Init(nullptr, device, 1, 0)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Init(&newPool, device, 0, 0)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Init(&newPool, device, -1, 0)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Acquire(nullptr, pool)));

  // The live handle is still its pool's only one, and still acquired.
  KOVL_HANDLE another = nullptr;
  EXPECT_TRUE(FailsWith(kErrorNoMoreItems, OvlK_Acquire(&another, pool)));
  EXPECT_TRUE(OvlK_Release(live));
}

TEST_F(UsbLayerHandleTest, IsoAndHotplugCallsRejectBadHandles) {
  PKISO_CONTEXT freed = NewIsoContext();
  ASSERT_TRUE(IsoK_Free(freed));
  KISO_CONTEXT onStack{};

  const std::vector<NamedHandle<PKISO_CONTEXT>> bad = {{"null", nullptr},
                                                       {"freed", freed},
                                                       {"on the stack", &onStack},
                                                       {"made up", Foreign<PKISO_CONTEXT>(uintptr_t{0x1234})}};
  for (const auto& [name, context] : bad) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, IsoK_SetPackets(context, kIsoPacketSize)));
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, IsoK_Free(context)));
  }

  PKISO_CONTEXT context = Foreign<PKISO_CONTEXT>(uintptr_t{0x5678});
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, IsoK_Init(nullptr, kIsoPackets, 0)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, IsoK_Init(&context, 0, 0)));
  EXPECT_EQ(context, nullptr);
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, IsoK_Init(&context, -1, 0)));
  context = NewIsoContext();
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, IsoK_SetPackets(context, 0)));
  EXPECT_TRUE(IsoK_Free(context));

  KHOT_PARAMS params{};
  params.OnHotPlug = [](KHOT_HANDLE, KLST_DEVINFO_HANDLE, KLST_SYNC_FLAG) {};
  KHOT_HANDLE monitor = nullptr;
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, HotK_Init(nullptr, &params)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, HotK_Init(&monitor, nullptr)));
  KHOT_PARAMS noCallback{};
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, HotK_Init(&monitor, &noCallback)));
  ASSERT_TRUE(HotK_Init(&monitor, &params));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, HotK_Free(nullptr)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, HotK_Free(Foreign<KHOT_HANDLE>(uintptr_t{0x1234}))));
  KUSB_HANDLE device = OpenSensor();
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, HotK_Free(Foreign<KHOT_HANDLE>(device))));
  EXPECT_TRUE(HotK_Free(monitor));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, HotK_Free(monitor)));
}

TEST_F(UsbLayerHandleTest, TransfersOnTheWrongPipeAreRejectedAndLeaveTheHandleReusable) {
  KUSB_HANDLE device = OpenSensor();
  KOVL_POOL_HANDLE pool = NewPool(device, 1);
  KOVL_HANDLE overlapped = Acquire(pool);
  PKISO_CONTEXT context = NewIsoContext();
  std::vector<uint8_t> buffer(kIsoPackets * kIsoPacketSize);
  const unsigned length = static_cast<unsigned>(buffer.size());

  const std::vector<std::pair<const char*, std::function<bool()>>> wrong = {
      {"read on the OUT pipe", [&] { return UsbK_ReadPipe(device, kCommandPipe, buffer.data(), 64, nullptr, overlapped); }},
      {"write on an IN pipe", [&] { return UsbK_WritePipe(device, kStatusPipe, buffer.data(), 5, nullptr, overlapped); }},
      {"interrupt read on the isochronous pipe",
       [&] { return UsbK_ReadPipe(device, kDataPipe, buffer.data(), 64, nullptr, overlapped); }},
      {"read on a pipe the device lacks",
       [&] { return UsbK_ReadPipe(device, 0x83, buffer.data(), 64, nullptr, overlapped); }},
      {"read into no buffer", [&] { return UsbK_ReadPipe(device, kStatusPipe, nullptr, 64, nullptr, overlapped); }},
      {"isochronous read on the interrupt IN pipe",
       [&] { return UsbK_IsoReadPipe(device, kStatusPipe, buffer.data(), length, overlapped, context); }},
      {"isochronous read on the OUT pipe",
       [&] { return UsbK_IsoReadPipe(device, kCommandPipe, buffer.data(), length, overlapped, context); }},
  };
  for (const auto& [name, call] : wrong) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, call()));
    // Nothing was started on the handle.
    EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Wait(overlapped, 0, KOVL_WAIT_FLAG_NONE, nullptr)));
  }

  // The same handle then carries a transfer that completes.
  ASSERT_TRUE(UsbK_GetCurrentFrameNumber(device, &context->StartFrame));
  ExpectQueued(UsbK_IsoReadPipe(device, kDataPipe, buffer.data(), length, overlapped, context));
  bus->Advance(kIsoPackets);
  unsigned transferred = 0;
  EXPECT_TRUE(OvlK_Wait(overlapped, kLongWaitMs, KOVL_WAIT_FLAG_NONE, &transferred)) << GetLastError();
  EXPECT_GT(transferred, 0u);
  EXPECT_EQ(context->ErrorCount, 0);
}

TEST_F(UsbLayerHandleTest, IsoReadRejectsBuffersAndContextsThatDoNotFit) {
  KUSB_HANDLE device = OpenSensor();
  KOVL_POOL_HANDLE pool = NewPool(device, 2);
  KOVL_HANDLE overlapped = Acquire(pool);
  PKISO_CONTEXT context = NewIsoContext();
  std::vector<uint8_t> buffer(kIsoPackets * kIsoPacketSize);
  auto isoRead = [&](unsigned length, PKISO_CONTEXT c) {
    return UsbK_IsoReadPipe(device, kDataPipe, buffer.data(), length, overlapped, c);
  };

  // The last packet starts at or past the end of the buffer.
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, isoRead((kIsoPackets - 1) * kIsoPacketSize, context)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, isoRead(3 * kIsoPacketSize, context)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, isoRead(0, context)));

  // A context whose packets were never laid out, or lie out of order.
  PKISO_CONTEXT unlaid = nullptr;
  ASSERT_TRUE(IsoK_Init(&unlaid, kIsoPackets, 0));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, isoRead(static_cast<unsigned>(buffer.size()), unlaid)));
  ASSERT_TRUE(IsoK_SetPackets(unlaid, kIsoPacketSize));
  std::swap(unlaid->IsoPackets[2].Offset, unlaid->IsoPackets[3].Offset);
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, isoRead(static_cast<unsigned>(buffer.size()), unlaid)));

  // A context already carrying a transfer takes no second one, nor a new layout.
  StartIsoRead(device, overlapped, context, buffer);
  KOVL_HANDLE second = Acquire(pool);
  std::vector<uint8_t> other(buffer.size());
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter,
                        UsbK_IsoReadPipe(device, kDataPipe, other.data(), static_cast<unsigned>(other.size()), second,
                                         context)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, IsoK_SetPackets(context, 64)));
  ExpectPending(overlapped);
}

TEST_F(UsbLayerHandleTest, OverlappedMustBeAcquiredAndIdle) {
  KUSB_HANDLE device = OpenSensor();
  KOVL_POOL_HANDLE pool = NewPool(device, 2);
  std::vector<uint8_t> status(64);
  std::vector<uint8_t> command = {' ', 0, 0, 0, 7};

  // Released: neither usable nor releasable again.
  KOVL_HANDLE released = Acquire(pool);
  ASSERT_TRUE(OvlK_Release(released));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter,
                        UsbK_ReadPipe(device, kStatusPipe, status.data(), 64, nullptr, released)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_ReUse(released)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Release(released)));

  // Pending: takes no second transfer and cannot be reset.
  KOVL_HANDLE reading = Acquire(pool);
  StartStatusRead(device, reading, status);
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter,
                        UsbK_ReadPipe(device, kStatusPipe, status.data(), 64, nullptr, reading)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter,
                        UsbK_WritePipe(device, kCommandPipe, command.data(), 5, nullptr, reading)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_ReUse(reading)));
  ExpectPending(reading);

  // The first transfer is unharmed: the command's answer completes it.
  KOVL_HANDLE writing = Acquire(pool);
  ExpectQueued(UsbK_WritePipe(device, kCommandPipe, command.data(), 5, nullptr, writing));
  unsigned length = 0;
  EXPECT_TRUE(OvlK_Wait(writing, kLongWaitMs, KOVL_WAIT_FLAG_NONE, &length)) << GetLastError();
  EXPECT_TRUE(OvlK_Wait(reading, kLongWaitMs, KOVL_WAIT_FLAG_NONE, &length)) << GetLastError();
  EXPECT_EQ(length, sim::CVirtualSensor::kParameterBytes);
  EXPECT_TRUE(OvlK_ReUse(reading));
}

TEST_F(UsbLayerHandleTest, ExhaustedPoolReportsNoMoreItemsUntilAHandleComesBack) {
  KUSB_HANDLE device = OpenSensor();
  KOVL_POOL_HANDLE pool = NewPool(device, 2);
  KOVL_HANDLE first = Acquire(pool);
  KOVL_HANDLE second = Acquire(pool);
  EXPECT_NE(first, second);
  KOVL_HANDLE third = Foreign<KOVL_HANDLE>(uintptr_t{0x5678});
  EXPECT_TRUE(FailsWith(kErrorNoMoreItems, OvlK_Acquire(&third, pool)));
  EXPECT_EQ(third, nullptr);

  ASSERT_TRUE(OvlK_Release(second));
  EXPECT_EQ(Acquire(pool), second);

  // A handle given back while its transfer is in flight returns to the pool
  // only once the transfer has ended.
  std::vector<uint8_t> status(64);
  StartStatusRead(device, first, status);
  EXPECT_TRUE(FailsWith(kErrorSemTimeout, OvlK_WaitAndRelease(first, 0, nullptr)));
  EXPECT_TRUE(FailsWith(kErrorNoMoreItems, OvlK_Acquire(&third, pool)));
  ASSERT_TRUE(UsbK_AbortPipe(device, kStatusPipe));
  EXPECT_EQ(Acquire(pool), first);
}

TEST_F(UsbLayerHandleTest, UnpluggedDeviceFailsWithNotConnected) {
  KUSB_HANDLE device = OpenSensor();
  KLST_HANDLE before = nullptr;
  KLST_DEVINFO_HANDLE entry = nullptr;
  ASSERT_TRUE(LstK_Init(&before, 0));
  ASSERT_TRUE(LstK_FindByVidPid(before, 0xE785, 0x64F2, &entry));
  KOVL_POOL_HANDLE pool = NewPool(device, 3);
  KOVL_HANDLE statusRead = Acquire(pool);
  KOVL_HANDLE isoRead = Acquire(pool);
  KOVL_HANDLE spare = Acquire(pool);
  PKISO_CONTEXT context = NewIsoContext();
  std::vector<uint8_t> status(64);
  std::vector<uint8_t> data(kIsoPackets * kIsoPacketSize);
  StartStatusRead(device, statusRead, status);
  StartIsoRead(device, isoRead, context, data);

  ASSERT_TRUE(bus->Unplug(sensor));

  unsigned length = 99;
  EXPECT_TRUE(FailsWith(kErrorDeviceNotConnected, OvlK_Wait(statusRead, kLongWaitMs, KOVL_WAIT_FLAG_NONE, &length)));
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(FailsWith(kErrorDeviceNotConnected, OvlK_Wait(isoRead, kLongWaitMs, KOVL_WAIT_FLAG_NONE, &length)));

  std::vector<uint8_t> buffer(kIsoPackets * kIsoPacketSize);
  for (const auto& [name, call] : DeviceCalls(spare, context, buffer)) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(FailsWith(kErrorDeviceNotConnected, call(device)));
  }
  KUSB_HANDLE reopened = Foreign<KUSB_HANDLE>(uintptr_t{0x5678});
  EXPECT_TRUE(FailsWith(kErrorDeviceNotConnected, UsbK_Init(&reopened, entry)));
  EXPECT_EQ(reopened, nullptr);

  // The old handle stays dead once the sensor is back; a new list finds it.
  ASSERT_NE(bus->Plug(sensor), 0u);
  unsigned frame = 0;
  EXPECT_TRUE(FailsWith(kErrorDeviceNotConnected, UsbK_GetCurrentFrameNumber(device, &frame)));
  EXPECT_TRUE(UsbK_Free(device));
  KUSB_HANDLE fresh = OpenSensor();
  EXPECT_TRUE(UsbK_GetCurrentFrameNumber(fresh, &frame)) << GetLastError();
}

// Aborting a pipe is a device operation like any other.
TEST_F(UsbLayerHandleTest, AbortPipeOnUnpluggedDeviceFailsWithNotConnected) {
  KUSB_HANDLE device = OpenSensor();
  ASSERT_TRUE(bus->Unplug(sensor));
  EXPECT_TRUE(FailsWith(kErrorDeviceNotConnected, UsbK_AbortPipe(device, kStatusPipe)));
}

TEST_F(UsbLayerHandleTest, NoBackendMeansNoDevice) {
  UsbLib_SetBackend(nullptr);
  KLST_HANDLE noList = Foreign<KLST_HANDLE>(uintptr_t{0x5678});
  EXPECT_TRUE(FailsWith(kErrorDeviceNotConnected, LstK_Init(&noList, 0)));
  EXPECT_EQ(noList, nullptr);
  KHOT_PARAMS params{};
  params.OnHotPlug = [](KHOT_HANDLE, KLST_DEVINFO_HANDLE, KLST_SYNC_FLAG) {};
  KHOT_HANDLE monitor = nullptr;
  EXPECT_TRUE(FailsWith(kErrorDeviceNotConnected, HotK_Init(&monitor, &params)));
}

TEST_F(UsbLayerHandleTest, NewBackendInvalidatesEveryOldHandle) {
  KUSB_HANDLE device = OpenSensor();
  KOVL_POOL_HANDLE pool = NewPool(device, 2);
  KOVL_HANDLE overlapped = Acquire(pool);
  PKISO_CONTEXT context = NewIsoContext();
  std::vector<uint8_t> data(kIsoPackets * kIsoPacketSize, 0xAA);
  StartIsoRead(device, overlapped, context, data);
  KHOT_PARAMS params{};
  params.OnHotPlug = [](KHOT_HANDLE, KLST_DEVINFO_HANDLE, KLST_SYNC_FLAG) {};
  KHOT_HANDLE monitor = nullptr;
  ASSERT_TRUE(HotK_Init(&monitor, &params));
  KLST_DEVINFO_HANDLE entry = nullptr;
  ASSERT_TRUE(LstK_FindByVidPid(list, 0xE785, 0x64F2, &entry));

  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(bus));

  unsigned count = 0;
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, LstK_Count(list, &count)));
  KUSB_HANDLE reopened = nullptr;
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_Init(&reopened, entry)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_SelectInterface(device, 0, true)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, UsbK_Free(device)));
  KOVL_HANDLE another = nullptr;
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Acquire(&another, pool)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Wait(overlapped, 0, KOVL_WAIT_FLAG_NONE, nullptr)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, OvlK_Free(pool)));
  EXPECT_TRUE(FailsWith(kErrorInvalidParameter, HotK_Free(monitor)));

  // The transfer in flight was ended: the bus no longer writes into its buffer.
  bus->Advance(4 + kIsoPackets + 4);
  EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xAA; }));

  // The new backend serves the sensor.
  KUSB_HANDLE fresh = OpenSensor();
  unsigned frame = 0;
  EXPECT_TRUE(UsbK_GetCurrentFrameNumber(fresh, &frame)) << GetLastError();
}

TEST_F(UsbLayerHandleTest, FreeingAPoolWakesItsWaiterWithCancellation) {
  KUSB_HANDLE device = OpenSensor();
  std::vector<uint8_t> status(64, 0xAA);
  // The waiter must be inside OvlK_Wait when the pool goes; should it come
  // late, it finds its handle freed, and the round is repeated with more time.
  uint32_t waiterError = 0;
  for (int round = 1; round <= 10 && waiterError != kErrorOperationAborted; ++round) {
    KOVL_POOL_HANDLE pool = NewPool(device, 1);
    KOVL_HANDLE overlapped = Acquire(pool);
    StartStatusRead(device, overlapped, status);
    std::atomic<bool> started{false};
    bool waited = true;
    std::thread waiter([&] {
      started = true;
      waited = OvlK_Wait(overlapped, kLongWaitMs, KOVL_WAIT_FLAG_NONE, nullptr);
      waiterError = GetLastError();
    });
    while (!started) {
      std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
    EXPECT_TRUE(OvlK_Free(pool));
    waiter.join();
    EXPECT_FALSE(waited);
    EXPECT_TRUE(waiterError == kErrorOperationAborted || waiterError == kErrorInvalidParameter) << waiterError;
  }
  EXPECT_EQ(waiterError, kErrorOperationAborted);

  // The cancelled reads are off the bus: the next status frame goes to a new read.
  KOVL_POOL_HANDLE pool = NewPool(device, 2);
  KOVL_HANDLE reading = Acquire(pool);
  KOVL_HANDLE writing = Acquire(pool);
  std::vector<uint8_t> answer(64);
  std::vector<uint8_t> command = {' ', 0, 0, 0, 9};
  StartStatusRead(device, reading, answer);
  ExpectQueued(UsbK_WritePipe(device, kCommandPipe, command.data(), 5, nullptr, writing));
  unsigned length = 0;
  EXPECT_TRUE(OvlK_Wait(reading, kLongWaitMs, KOVL_WAIT_FLAG_NONE, &length)) << GetLastError();
  EXPECT_EQ(length, sim::CVirtualSensor::kParameterBytes);
  EXPECT_TRUE(std::all_of(status.begin(), status.end(), [](uint8_t b) { return b == 0xAA; }));
}

TEST_F(UsbLayerHandleTest, FreeingTheDeviceEndsItsTransfers) {
  KUSB_HANDLE device = OpenSensor();
  KOVL_POOL_HANDLE pool = NewPool(device, 2);
  KOVL_HANDLE statusRead = Acquire(pool);
  KOVL_HANDLE isoRead = Acquire(pool);
  PKISO_CONTEXT context = NewIsoContext();
  std::vector<uint8_t> status(64, 0xAA);
  std::vector<uint8_t> data(kIsoPackets * kIsoPacketSize, 0xAA);
  StartStatusRead(device, statusRead, status);
  StartIsoRead(device, isoRead, context, data);

  bool waited = true;
  uint32_t waiterError = 0;
  std::thread waiter([&] {
    waited = OvlK_Wait(isoRead, kLongWaitMs, KOVL_WAIT_FLAG_NONE, nullptr);
    waiterError = GetLastError();
  });
  ASSERT_TRUE(UsbK_Free(device));
  waiter.join();
  EXPECT_FALSE(waited);
  EXPECT_EQ(waiterError, kErrorOperationAborted);
  EXPECT_TRUE(FailsWith(kErrorOperationAborted, OvlK_Wait(statusRead, 0, KOVL_WAIT_FLAG_NONE, nullptr)));

  // Nothing reaches the buffers afterwards.
  bus->Advance(4 + kIsoPackets + 4);
  KOVL_POOL_HANDLE other = nullptr;
  KUSB_HANDLE fresh = OpenSensor();
  ASSERT_TRUE(OvlK_Init(&other, fresh, 1, 0));
  KOVL_HANDLE writing = Acquire(other);
  std::vector<uint8_t> command = {' ', 0, 0, 0, 3};
  ExpectQueued(UsbK_WritePipe(fresh, kCommandPipe, command.data(), 5, nullptr, writing));
  EXPECT_TRUE(OvlK_Wait(writing, kLongWaitMs, KOVL_WAIT_FLAG_NONE, nullptr)) << GetLastError();
  EXPECT_TRUE(std::all_of(status.begin(), status.end(), [](uint8_t b) { return b == 0xAA; }));
  EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xAA; }));
  EXPECT_TRUE(OvlK_ReUse(isoRead));  // the pool outlives the device and its handles are idle again
}

}  // namespace
