// The emulated sensor as plain libusb sees it: what the client's backend
// relies on from usbdevfs, checked without the backend in between.

#include <gtest/gtest.h>
#include <libusb.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <vector>

#include "SensorTestbed.h"

namespace {

constexpr int kIsoPackets = 16;

class Testbed : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UnderUmockdev()) << "run this program under umockdev-wrapper";
    testbed = std::make_unique<CSensorTestbed>(clock);
    ASSERT_TRUE(testbed->Plug());
    ASSERT_EQ(libusb_init(&context), 0);
  }

  void TearDown() override {
    if (handle) libusb_close(handle);
    if (context) libusb_exit(context);
    testbed.reset();
  }

  // Handles libusb's events until `done` holds (false after `timeout`).
  bool Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return WaitFor(
        [&] {
          timeval tick{0, 1000};
          libusb_handle_events_timeout_completed(context, &tick, nullptr);
          return done();
        },
        timeout);
  }

  void Open() {
    handle = libusb_open_device_with_vid_pid(context, sim::CVirtualSensor::kVendorId, sim::CVirtualSensor::kProductId);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    ASSERT_EQ(libusb_set_interface_alt_setting(handle, 0, 0), 0);
  }

  struct Transfer {
    libusb_transfer* transfer = libusb_alloc_transfer(kIsoPackets);
    std::vector<uint8_t> buffer;
    std::atomic<bool> done{false};
    ~Transfer() { libusb_free_transfer(transfer); }
    static void Completed(libusb_transfer* t) { static_cast<Transfer*>(t->user_data)->done = true; }
  };

  void SubmitIso(Transfer& t) {
    t.buffer.assign(kIsoPackets * sim::CVirtualSensor::kIsoPacketSize, 0xEE);
    libusb_fill_iso_transfer(t.transfer, handle, sim::CVirtualSensor::kDataEndpoint, t.buffer.data(),
                             static_cast<int>(t.buffer.size()), kIsoPackets, &Transfer::Completed, &t, 0);
    libusb_set_iso_packet_lengths(t.transfer, sim::CVirtualSensor::kIsoPacketSize);
    ASSERT_EQ(libusb_submit_transfer(t.transfer), 0);
  }

  void SubmitInterrupt(Transfer& t, uint8_t endpoint, std::vector<uint8_t> data) {
    t.buffer = std::move(data);
    libusb_fill_interrupt_transfer(t.transfer, handle, endpoint, t.buffer.data(), static_cast<int>(t.buffer.size()),
                                   &Transfer::Completed, &t, 0);
    ASSERT_EQ(libusb_submit_transfer(t.transfer), 0);
  }

  // A command frame: command byte, data and command number, big-endian.
  static std::vector<uint8_t> Command(char command, uint16_t data, uint16_t number) {
    std::vector<uint8_t> frame(64, 0);
    frame[0] = static_cast<uint8_t>(command);
    frame[1] = static_cast<uint8_t>(data >> 8);
    frame[2] = static_cast<uint8_t>(data);
    frame[3] = static_cast<uint8_t>(number >> 8);
    frame[4] = static_cast<uint8_t>(number);
    return frame;
  }

  sim::CVirtualBus::Clock clock = sim::CVirtualBus::Clock::eRealTime;
  std::unique_ptr<CSensorTestbed> testbed;
  libusb_context* context = nullptr;
  libusb_device_handle* handle = nullptr;
};

TEST_F(Testbed, LibusbFindsTheSensorWithItsDescriptorsAndStrings) {
  libusb_device** devices = nullptr;
  const ssize_t count = libusb_get_device_list(context, &devices);
  ASSERT_EQ(count, 1);
  libusb_device* device = devices[0];
  libusb_device_descriptor descriptor{};
  ASSERT_EQ(libusb_get_device_descriptor(device, &descriptor), 0);
  EXPECT_EQ(descriptor.idVendor, 0xE785);
  EXPECT_EQ(descriptor.idProduct, 0x64F2);
  EXPECT_EQ(libusb_get_bus_number(device), CSensorTestbed::kBusNumber);
  EXPECT_EQ(libusb_get_device_address(device), testbed->DeviceNumber());
  EXPECT_EQ(libusb_get_device_speed(device), LIBUSB_SPEED_FULL);

  libusb_config_descriptor* config = nullptr;
  ASSERT_EQ(libusb_get_active_config_descriptor(device, &config), 0);
  ASSERT_EQ(config->bNumInterfaces, 1);
  const libusb_interface_descriptor& interface = config->interface[0].altsetting[0];
  EXPECT_EQ(interface.bInterfaceClass, 0xFF);
  ASSERT_EQ(interface.bNumEndpoints, 3);
  EXPECT_EQ(interface.endpoint[0].bEndpointAddress, 0x01);
  EXPECT_EQ(interface.endpoint[0].bmAttributes, LIBUSB_TRANSFER_TYPE_INTERRUPT);
  EXPECT_EQ(interface.endpoint[1].bEndpointAddress, 0x81);
  EXPECT_EQ(interface.endpoint[1].wMaxPacketSize, 64);
  EXPECT_EQ(interface.endpoint[2].bEndpointAddress, 0x82);
  EXPECT_EQ(interface.endpoint[2].bmAttributes, LIBUSB_TRANSFER_TYPE_ISOCHRONOUS);
  EXPECT_EQ(interface.endpoint[2].wMaxPacketSize, 1023);
  EXPECT_EQ(interface.endpoint[2].bInterval, 1);
  libusb_free_config_descriptor(config);
  libusb_free_device_list(devices, 1);

  Open();
  unsigned char text[64] = {};
  ASSERT_GT(libusb_get_string_descriptor_ascii(handle, descriptor.iManufacturer, text, sizeof text), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "Skarv Sensors");
  ASSERT_GT(libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "SKV00001");
  EXPECT_EQ(testbed->Device()->Count().claims, 1u);
  EXPECT_TRUE(testbed->Device()->Count().unknownRequests.empty());
}

// The real-time bus runs its frames in batches of up to 32 ms, which may pass
// between two submissions on a loaded machine; the frames of a test that
// needs URBs on consecutive frames pass only when it says so.
class TestbedOnManualClock : public Testbed {
 protected:
  TestbedOnManualClock() { clock = sim::CVirtualBus::Clock::eManual; }
};

TEST_F(TestbedOnManualClock, IsochronousUrbsCarryEachFramesOwnLengthBackToBack) {
  Open();
  // 'R' 1100: frames alternate between two sample counts.
  Transfer command;
  SubmitInterrupt(command, 0x01, Command('R', 1100, 1));
  ASSERT_TRUE(Pump([&] { return command.done.load(); }));
  ASSERT_EQ(command.transfer->status, LIBUSB_TRANSFER_COMPLETED);
  EXPECT_EQ(command.transfer->actual_length, 64);
  EXPECT_EQ(testbed->Sensor()->RotationRpm(), 1100u);

  std::vector<Transfer> transfers(3);
  for (Transfer& t : transfers) SubmitIso(t);
  // The first URB starts in the frame after the current one.
  testbed->Bus()->Advance(3 * kIsoPackets + 1);
  ASSERT_TRUE(Pump([&] { return transfers.back().done.load(); }));

  std::vector<uint16_t> counts;
  std::set<int> lengths;
  for (Transfer& t : transfers) {
    ASSERT_TRUE(t.done);
    ASSERT_EQ(t.transfer->status, LIBUSB_TRANSFER_COMPLETED);
    for (int i = 0; i < kIsoPackets; ++i) {
      const libusb_iso_packet_descriptor& packet = t.transfer->iso_packet_desc[i];
      ASSERT_EQ(packet.status, LIBUSB_TRANSFER_COMPLETED);
      ASSERT_EQ((packet.actual_length - 28) % 8, 0u);
      lengths.insert(static_cast<int>(packet.actual_length));
      const uint8_t* data = libusb_get_iso_packet_buffer_simple(t.transfer, static_cast<unsigned>(i));
      for (unsigned at = 28; at < packet.actual_length; at += 8) {
        counts.push_back(static_cast<uint16_t>(data[at] << 8 | data[at + 1]));
      }
      if (packet.actual_length < packet.length) {
        EXPECT_EQ(data[packet.actual_length], 0xEE) << "nothing written past the packet's length";
      }
    }
  }
  EXPECT_EQ(lengths.size(), 2u) << "two frame sizes at 1100 rpm";
  // Three URBs on consecutive frames: no sample lost between them.
  ASSERT_GT(counts.size(), 3u * kIsoPackets * 10);
  for (size_t i = 1; i < counts.size(); ++i) ASSERT_EQ(static_cast<uint16_t>(counts[i - 1] + 1), counts[i]) << i;
}

TEST_F(Testbed, StatusReadWaitsForACommandAndADiscardedOneReapsAsCancelled) {
  Open();
  Transfer status;
  SubmitInterrupt(status, 0x81, std::vector<uint8_t>(64));
  Transfer command;
  SubmitInterrupt(command, 0x01, Command(' ', 0, 7));
  ASSERT_TRUE(Pump([&] { return status.done && command.done; }));
  ASSERT_EQ(status.transfer->status, LIBUSB_TRANSFER_COMPLETED);
  ASSERT_EQ(status.transfer->actual_length, 18);
  EXPECT_EQ(status.buffer[16] << 8 | status.buffer[17], 7) << "the echo of command 7";

  // Nothing new to say: the read stays pending until it is cancelled.
  Transfer idle;
  SubmitInterrupt(idle, 0x81, std::vector<uint8_t>(64));
  EXPECT_FALSE(Pump([&] { return idle.done.load(); }, std::chrono::milliseconds(200)));
  ASSERT_EQ(libusb_cancel_transfer(idle.transfer), 0);
  ASSERT_TRUE(Pump([&] { return idle.done.load(); }));
  EXPECT_EQ(idle.transfer->status, LIBUSB_TRANSFER_CANCELLED);
  EXPECT_EQ(testbed->Device()->Count().discarded, 1u);
  EXPECT_EQ(testbed->Device()->UrbsOutstanding(), 0u);
}

int OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* seen) {
  static_cast<std::vector<std::pair<int, int>>*>(seen)->emplace_back(event, libusb_get_device_address(device));
  return 0;
}

TEST_F(Testbed, UnplugEndsTransfersAsNoDeviceAndAReplugComesBackAtANewAddress) {
  std::vector<std::pair<int, int>> seen;
  libusb_hotplug_callback_handle callback = 0;
  const auto events =
      static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
  ASSERT_EQ(libusb_hotplug_register_callback(context, events, LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY,
                                             LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, &OnHotplug, &seen,
                                             &callback),
            0);
  Open();
  const int first = testbed->DeviceNumber();
  // The bus runs its frames in batches and may already be behind the wall
  // clock, so an isochronous transfer could complete before the unplug: a
  // stalled stream keeps it queued until then.
  testbed->Bus()->SetStreamStalled(true);
  Transfer iso;
  SubmitIso(iso);
  Transfer status;
  SubmitInterrupt(status, 0x81, std::vector<uint8_t>(64));

  testbed->Unplug();
  testbed->Bus()->SetStreamStalled(false);
  ASSERT_TRUE(Pump([&] { return iso.done && status.done && !seen.empty(); }));
  EXPECT_EQ(iso.transfer->status, LIBUSB_TRANSFER_NO_DEVICE);
  EXPECT_EQ(status.transfer->status, LIBUSB_TRANSFER_NO_DEVICE);
  EXPECT_EQ(seen[0], std::make_pair(int{LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT}, first));
  // The open node is dead.
  Transfer late;
  late.buffer.assign(64, 0);
  libusb_fill_interrupt_transfer(late.transfer, handle, 0x81, late.buffer.data(), 64, &Transfer::Completed, &late, 0);
  EXPECT_EQ(libusb_submit_transfer(late.transfer), LIBUSB_ERROR_NO_DEVICE);
  libusb_close(handle);
  handle = nullptr;

  testbed->Plug();
  ASSERT_TRUE(Pump([&] { return seen.size() == 2; }));
  EXPECT_EQ(seen[1], std::make_pair(int{LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED}, first + 1));
  Open();
  Transfer again;
  SubmitIso(again);
  ASSERT_TRUE(Pump([&] { return again.done.load(); }));
  EXPECT_EQ(again.transfer->status, LIBUSB_TRANSFER_COMPLETED);
  EXPECT_GT(again.transfer->iso_packet_desc[kIsoPackets - 1].actual_length, 28u);
  libusb_hotplug_deregister_callback(context, callback);
}

}  // namespace
