// Commands made in quick succession, and commands that cannot be sent,
// against the virtual sensor.

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

#include "CommandTable.h"
#include "EndToEndFixture.h"

namespace {

using Received = sim::CVirtualSensor::ReceivedCommand;

class CommandDeliveryTest : public EndToEndFixture {
 protected:
  // Lets the first status request be sent and answered.
  void SettleHandshake() {
    Quietly([&] {
      controller->HandleStatusPipe();
      controller->HandleStatusPipe();
    });
    ASSERT_EQ(controller->mStatusState, CSkarvIO::kStatusFresh);
  }

  std::vector<Received> ReceivedSince(size_t from) const {
    const std::vector<Received> all = sensor->ReceivedCommands();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
  }
};

TEST_F(CommandDeliveryTest, CommandsMadeOneMillisecondApartBothReachTheSensorInOrder) {
  SettleHandshake();
  const uint16_t before = controller->mCmdNumber;
  const size_t already = sensor->ReceivedCommands().size();

  // The second is written while the first write's completion is still being
  // awaited on its own thread.
  const std::string out = Quietly([&] {
    controller->SetFarGain(300);
    bus->Advance(1);
    controller->SetCloseGain(12);
  });
  EXPECT_EQ(out.find("not sent"), std::string::npos) << out;

  const std::vector<Received> received = ReceivedSince(already);
  ASSERT_EQ(received.size(), 2u) << out;
  EXPECT_EQ(received[0].command, 'A');
  EXPECT_EQ(received[0].data, 300);
  EXPECT_EQ(received[0].number, static_cast<uint16_t>(before + 1));
  EXPECT_EQ(received[1].command, 'B');
  EXPECT_EQ(received[1].data, 12);
  EXPECT_EQ(received[1].number, static_cast<uint16_t>(before + 2));
  EXPECT_EQ(controller->mCmdNumber, static_cast<uint16_t>(before + 2));

  // The echo of the second arrives and the panel is told once.
  int fresh = 0;
  Quietly([&] {
    for (int poll = 0; poll < 4; ++poll) {
      fresh += controller->HandleStatusPipe() ? 1 : 0;
    }
  });
  EXPECT_EQ(fresh, 1);
  EXPECT_EQ(controller->mParameters.CmdCount, controller->mCmdNumber);
  EXPECT_EQ(controller->mParameters.Values[1], 300);
  EXPECT_EQ(controller->mParameters.Values[2], 12);
}

TEST_F(CommandDeliveryTest, CommandThatCannotBeStartedIsReportedAndTakesNoNumber) {
  SettleHandshake();
  const uint16_t before = controller->mCmdNumber;
  const int32_t stateBefore = controller->mStatusState;

  // The sensor is gone, but the data path has not cleaned up yet: the pipes
  // are still attached and the write is refused.
  Quietly([&] {
    bus->Unplug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  ASSERT_NE(controller->mCmdPipe.mUSBPort.load(), nullptr);
  const std::string out = Quietly([&] { controller->SetFarGain(5); });
  const std::string expected = "Command A not sent: Start Next Bulk Write Error (sensor not connected)";
  EXPECT_NE(out.find("------------------- Sending command = A, data = 5, num = " + std::to_string(before + 1) + "\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(expected + "\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Error Code"), std::string::npos) << "reported once, in one line: " << out;
  EXPECT_EQ(controller->mCmdNumber, before);
  EXPECT_EQ(controller->mStatusState, stateBefore);
  EXPECT_EQ(controller->GetDeviceStatus().LastError, expected);
  EXPECT_FALSE(controller->mCmdPipe.mActive.load()) << "the pipe is free for the next command";
}

TEST_F(CommandDeliveryTest, EveryCommandOfTheTableReachesTheSensorAndItsEchoLandsInItsValue) {
  SettleHandshake();
  const size_t already = sensor->ReceivedCommands().size();
  // Each setting is asked for above 65535, so only its low 16 bits go out.
  const auto asked = [](size_t i) { return 0x10000 + 300 + static_cast<int>(i); };
  const std::string out = Quietly([&] {
    for (size_t i = 0; i < std::size(kCommands); ++i) {
      const T_Command& command = kCommands[i];
      if (command.Setter) {
        (controller.get()->*command.Setter)(asked(i));
      } else {
        (controller.get()->*command.Operation)();
      }
      bus->Advance(1);
    }
  });
  EXPECT_EQ(out.find("not sent"), std::string::npos) << out;

  const std::vector<Received> received = ReceivedSince(already);
  ASSERT_EQ(received.size(), std::size(kCommands)) << out;
  for (size_t i = 0; i < received.size(); ++i) {
    const T_Command& command = kCommands[i];
    EXPECT_EQ(received[i].command, command.Letter) << command.Name;
    EXPECT_EQ(received[i].data, command.Setter ? static_cast<uint16_t>(asked(i)) : command.Value) << command.Name;
  }

  // The answer to the last command carries every setting where the panel
  // looks for it.
  Quietly([&] {
    for (int poll = 0; poll < 4; ++poll) {
      controller->HandleStatusPipe();
    }
  });
  ASSERT_EQ(controller->mParameters.CmdCount, controller->mCmdNumber);
  for (size_t i = 0; i < std::size(kCommands); ++i) {
    if (kCommands[i].ValueIndex > 0) {
      EXPECT_EQ(controller->mParameters.Values[kCommands[i].ValueIndex], 300 + i) << kCommands[i].Name;
    }
  }
}

}  // namespace
