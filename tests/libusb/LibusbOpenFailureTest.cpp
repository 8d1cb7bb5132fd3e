// The sensor claimed by another program when the client starts, over the real
// libusb: the failure says so, and once the sensor is free and plugged in
// again it opens and streams.

#include "LibusbFixture.h"

namespace {

class LibusbSensorBusy : public LibusbFixture {
 protected:
  void BeforeStart() override { testbed->Device()->SetClaimedElsewhere(true); }
};

TEST_F(LibusbSensorBusy, IsNamedAtStartAndOpenedWhenPluggedInAgain) {
  EXPECT_NE(started.find("UsbK_Init failed. ErrorCode: 000000AAh\n"), std::string::npos) << started;
  EXPECT_NE(started.find("The sensor is busy: another program has claimed it."), std::string::npos) << started;
  EXPECT_NE(started.find("HotK monitor initialized successfully!\n"), std::string::npos) << started;
  EXPECT_EQ(controller->mPort.mUSBHandle.load(), nullptr);

  Quietly([&] {
    ASSERT_TRUE(testbed->Unplug());
    ASSERT_TRUE(testbed->Plug());
  });
  const std::string printed =
      RunUntil([&](const std::string&) { return controller->GetDeviceStatus().RecordsProcessed > 0; });
  EXPECT_NE(printed.find("Device opened successfully!\n"), std::string::npos) << printed.substr(0, 2000);
  EXPECT_GT(controller->GetDeviceStatus().RecordsProcessed, 0u);
}

}  // namespace
