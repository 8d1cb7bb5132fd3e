// Commands and status polls while no device is attached.

#include <gtest/gtest.h>

#include "CommandTable.h"
#include "ControllerTestHelpers.h"

namespace {

using ControllerCommandTest = ControllerFixture;

TEST_F(ControllerCommandTest, CommandsWithoutDeviceSendAndPrintNothing) {
  io->mStatusRetries = 5;
  const std::string printed = Quietly([&] {
    for (const T_Command& command : kCommands) {
      if (command.Setter) {
        (io.get()->*command.Setter)(70000);
        (io.get()->*command.Setter)(-1);
      } else {
        (io.get()->*command.Operation)();
      }
    }
  });
  EXPECT_EQ(printed, "");
  EXPECT_EQ(io->mCmdNumber, 10);
  EXPECT_EQ(io->mStatusState, CSkarvIO::kStatusRequest);
  EXPECT_EQ(io->mStatusRetries, 0);
}

TEST_F(ControllerCommandTest, PollsWithoutDeviceMoveTheNumberOn) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(io->HandleStatusPipe());
  }
  EXPECT_EQ(io->mCmdNumber, 13);
  EXPECT_EQ(io->mParameters.CmdCount, 11);
  EXPECT_EQ(io->mStatusState, CSkarvIO::kStatusRequest);

  // A fresh state is left for the request state, and the number wraps.
  io->mStatusState = CSkarvIO::kStatusFresh;
  io->mCmdNumber = 65535;
  EXPECT_FALSE(io->HandleStatusPipe());
  EXPECT_EQ(io->mCmdNumber, 0);
  EXPECT_EQ(io->mParameters.CmdCount, 65534);
  EXPECT_EQ(io->mStatusState, CSkarvIO::kStatusRequest);
}

}  // namespace
