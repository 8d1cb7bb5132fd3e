// Finding, opening, binding and cleaning up the sensor, and following its
// arrival and removal.

#include "GeneralException.h"
#include "PortFixture.h"

namespace {

using UsbPort = PortFixture;

// A device of another kind on the same bus.
class OtherDevice : public sim::CVirtualDevice {
 public:
  OtherDevice() {
    mDescription.vendorId = 0x1234;
    mDescription.productId = 0x0001;
    mDescription.instanceId = "OTHER1";
    mDescription.description = "Other device";
    mDescription.manufacturer = "Elsewhere";
    mDescription.endpoints = {{0x81, sim::EndpointType::eInterrupt, 8, 10}};
  }
  const sim::DeviceDescription& Description() const override { return mDescription; }
  void PowerUp() override {}
  size_t ProduceIsoPacket(uint8_t, uint32_t, uint8_t*, size_t) override { return 0; }
  bool ReceiveOut(uint8_t, const uint8_t*, size_t) override { return false; }
  bool SendIn(uint8_t, uint8_t*, size_t, size_t&) override { return false; }

 private:
  sim::DeviceDescription mDescription;
};

TEST_F(UsbPort, OpensTheSensorAtStartAndAttachesEveryPipe) {
  const std::string out = OpenPort();
  ASSERT_NE(port->mUSBHandle.load(), nullptr);
  EXPECT_EQ(cmdPipe.mUSBPort.load(), port.get());
  EXPECT_EQ(statusPipe.mUSBPort.load(), port.get());
  EXPECT_EQ(dataPipe.mUSBPort.load(), port.get());
  EXPECT_EQ(cmdPipe.mTransferLength, 64);
  EXPECT_EQ(dataPipe.mTransferLength, 16 * 1023);

  const std::string expected[] = {
      "Initialize a HotK device notification event monitor..\n",
      "Looking for 'DeviceInterfaceGUID's matching the pattern '*'..\n",
      "Adding device.\n",
      "Looking for device vid/pid E785/64F2..\n",
      "Using E785:64F2 (",
      "Working on pipe 1\n",
      "Getting 1 overlaping transfers\n",
      "Found pipe and attached Rate = 1.\n",
      "Working on pipe 81\n",
      "Working on pipe 82\n",
      "Getting 10 overlaping transfers\n",
      "Getting new Frame #\n",
      "OvlK_Acquire for transfer block = 0\n",
      "OvlK_Acquire for transfer block = 9\n",
      "checking pipes\n",
      "Device opened successfully!\n",
      "HotK monitor initialized successfully!\n",
  };
  size_t at = 0;
  for (const std::string& line : expected) {
    const size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nin:\n" << out;
    at = found + line.size();
  }
}

TEST_F(UsbPort, AbsentSensorIsOpenedAfterItArrives) {
  bus->Unplug(sensor);
  const std::string out = OpenPort();
  EXPECT_NE(out.find("Adding device.\nDevice list empty.\n"), std::string::npos) << out;
  EXPECT_EQ(port->mUSBHandle.load(), nullptr);
  Quietly([&] { port->AttachOrRemoveDevice(); });
  EXPECT_EQ(port->mUSBHandle.load(), nullptr) << "nothing happens before an arrival";

  const std::string arrival = Quietly([&] {
    bus->Plug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  EXPECT_NE(arrival.find("[ARRIVAL] Skarv laser range sensor"), std::string::npos) << arrival;
  Quietly([&] { port->AttachOrRemoveDevice(); });
  EXPECT_NE(port->mUSBHandle.load(), nullptr);
  EXPECT_EQ(dataPipe.mUSBPort.load(), port.get());
}

TEST_F(UsbPort, RemovalCleansUpAndReplugOpensWithFreshResources) {
  OpenPort();
  const std::string path = port->mDeviceInfo->DevicePath;
  Quietly([&] {
    dataPipe.StartAllReads();
    Stream(2000);
  });
  ASSERT_FALSE(dataPipe.counts.empty());

  std::string out;
  {
    const CDiagCapture errors(EDiagStream::eErr);
    out = Quietly([&] {
      bus->Unplug(sensor);
      ASSERT_TRUE(UsbLib_FlushHotplug());
      port->AttachOrRemoveDevice();
    });
    EXPECT_EQ(errors.Text(), "Clean Port.\n");
  }
  const std::string cleanup = "Deviced clean path = " + path +
                              "\nRemoved cleanup start \nDetach Abort Done\nDetach Abort Done\nDetach Abort Done\n"
                              "Cleanup interface done \n";
  EXPECT_NE(out.find(cleanup), std::string::npos) << out;
  EXPECT_EQ(port->mUSBHandle.load(), nullptr);
  for (CUSBPipe* pipe : port->mPipeList) {
    EXPECT_EQ(pipe->mUSBPort.load(), nullptr);
    EXPECT_FALSE(pipe->mActive.load());
    EXPECT_EQ(pipe->mStatus.load(), CUSBPipe::kStatusDetached);
  }
  EXPECT_FALSE(dataPipe.mTransferRing.HasStorage());

  dataPipe.counts.clear();
  Quietly([&] {
    bus->Plug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
    port->AttachOrRemoveDevice();
    dataPipe.StartAllReads();
    Stream(3000);
  });
  ASSERT_NE(port->mUSBHandle.load(), nullptr);
  EXPECT_GT(dataPipe.counts.size(), 40u * 1000);
  ExpectContinuous(dataPipe.counts);
}

TEST_F(UsbPort, MissingEndpointLeavesNoHandle) {
  CountingIsocPipe extra;
  extra.Initialize(0x83, 16, 2);
  port->AddPipe(&extra);
  std::string out;
  try {
    Quietly([&] { port->Initialize(0xE785, 0x64F2); }, &out);
    FAIL() << "expected an exception";
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.Message(), "All pipes not attached");
    EXPECT_EQ(e.ErrorCode(), 0);
  }
  EXPECT_NE(out.find("checking pipes\nException\nCleanup interface done \n"), std::string::npos) << out;
  EXPECT_EQ(port->mUSBHandle.load(), nullptr);
  Quietly([&] { port.reset(); });  // detaches `extra` while it still exists
}

TEST_F(UsbPort, RemovalOfAnotherDeviceIsReportedOnceAndDropped) {
  auto other = std::make_shared<OtherDevice>();
  bus->Plug(other);
  OpenPort();
  ASSERT_NE(port->mUSBHandle.load(), nullptr);

  std::string out = Quietly([&] {
    bus->Unplug(other);
    ASSERT_TRUE(UsbLib_FlushHotplug());
    for (int i = 0; i < 5; ++i) port->AttachOrRemoveDevice();
  });
  EXPECT_EQ(Occurrences(out, "Deviced clean path = virtual-usb:1-2\n"), 1u) << out;
  EXPECT_EQ(Occurrences(out, "Removed cleanup start"), 0u);
  EXPECT_NE(port->mUSBHandle.load(), nullptr);
  EXPECT_EQ(dataPipe.mUSBPort.load(), port.get());
}

TEST_F(UsbPort, QuickReplugBeforeTheNextUpdateIsCleanedUpAndReopened) {
  OpenPort();
  const KUSB_HANDLE first = port->mUSBHandle.load();
  ASSERT_NE(first, nullptr);
  // Removal and arrival both reported before the owner looks again: the
  // arrival empties the pending removal, yet the dead handle must go.
  Quietly([&] {
    bus->Unplug(sensor);
    bus->Plug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  std::string out;
  {
    const CDiagCapture errors(EDiagStream::eErr);
    out = Quietly([&] {
      port->AttachOrRemoveDevice();  // cleans up the old connection
      port->AttachOrRemoveDevice();  // opens the new one
    });
  }
  EXPECT_NE(out.find("Removed cleanup start"), std::string::npos) << out;
  EXPECT_NE(out.find("Device opened successfully!"), std::string::npos) << out;
  ASSERT_NE(port->mUSBHandle.load(), nullptr);
  unsigned frame = 0;
  EXPECT_TRUE(UsbK_GetCurrentFrameNumber(port->mUSBHandle.load(), &frame)) << "a live handle";
  Quietly([&] {
    dataPipe.StartAllReads();
    Stream(2000);
  });
  EXPECT_FALSE(dataPipe.counts.empty());
}

}  // namespace
