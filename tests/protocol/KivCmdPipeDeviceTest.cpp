// The command and status pipes attached through the port to the virtual
// sensor.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "GeneralException.h"
#include "KivCmdPipe.h"
#include "UsbPort.h"
#include "backends/VirtualSensorFixture.h"
#include "TestSupport.h"

namespace {

using ::testing::HasSubstr;
using Params = CUSBKivCmdPipe::T_Parameters;

class KivCmdPipeDeviceTest : public VirtualSensorFixture {
 protected:
  void SetUp() override {
    VirtualSensorFixture::SetUp();
    commandPipe.Initialize(0x01);
    statusPipe.Initialize(0x81);
    port = std::make_unique<CUSBPort>();
    port->AddPipe(&commandPipe);
    port->AddPipe(&statusPipe);
    Quietly([&] {
      port->Initialize(0xE785, 0x64F2);
      UsbLib_FlushHotplug();  // the arrival notice is printed before any test output
    });
    ASSERT_NE(commandPipe.mUSBPort.load(), nullptr);
    ASSERT_NE(statusPipe.mUSBPort.load(), nullptr);
    ASSERT_GE(commandPipe.mTransferLength, 5);
  }

  void TearDown() override {
    Quietly([&] { port.reset(); });
    VirtualSensorFixture::TearDown();
  }

  // The write's completion is awaited on the pipe's own thread.
  static bool WaitIdle(const CUSBKivCmdPipe& pipe) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (pipe.mActive.load()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  std::string Write(uint8_t command, uint16_t data, uint16_t number) {
    const std::string printed = Quietly([&] { commandPipe.WriteCommand(command, data, number); });
    EXPECT_TRUE(WaitIdle(commandPipe));
    return printed;
  }

  int ReadStatus(Params* out) {
    int result = 0;
    Quietly([&] {
      statusPipe.StartNextRead();
      result = statusPipe.ReadParams(out);
    });
    return result;
  }

  void FillBuffer(uint8_t value) {
    std::fill_n(commandPipe.mBuffer.get(), commandPipe.mTransferLength, value);
  }

  bool RestIsZero() const {
    for (int i = 5; i < commandPipe.mTransferLength; ++i) {
      if (commandPipe.mBuffer[i] != 0) {
        return false;
      }
    }
    return true;
  }

  CUSBKivCmdPipe commandPipe;
  CUSBKivCmdPipe statusPipe;
  std::unique_ptr<CUSBPort> port;
};

TEST_F(KivCmdPipeDeviceTest, CommandFrameIsLaidOutBigEndianAndRestZeroed) {
  FillBuffer(0xFF);
  const std::string printed = Write('A', 300, 258);
  EXPECT_THAT(printed, HasSubstr("------------------- Sending command = A, data = 300, num = 258\n"));
  const uint8_t* frame = commandPipe.mBuffer.get();
  EXPECT_EQ(frame[0], 0x41);
  EXPECT_EQ(frame[1], 0x01);
  EXPECT_EQ(frame[2], 0x2C);
  EXPECT_EQ(frame[3], 0x01);
  EXPECT_EQ(frame[4], 0x02);
  EXPECT_TRUE(RestIsZero());
  EXPECT_EQ(commandPipe.mStatus.load(), 0);

  FillBuffer(0xFF);
  Write('F', 0, 0x0A0B);
  EXPECT_EQ(frame[0], 'F');
  EXPECT_EQ(frame[1], 0);
  EXPECT_EQ(frame[2], 0);
  EXPECT_EQ(frame[3], 0x0A);
  EXPECT_EQ(frame[4], 0x0B);
  EXPECT_TRUE(RestIsZero());
}

TEST_F(KivCmdPipeDeviceTest, CommandWhileWritePendingLeavesBufferAlone) {
  FillBuffer(0x5A);
  commandPipe.mActive = true;  // as while a previous write is in flight and never ends
  std::string message;
  int32_t code = 0;
  const std::string printed = Quietly([&] {
    try {
      commandPipe.WriteCommand('B', 1, 2);
    } catch (const GeneralException& e) {
      message = e.Message();
      code = e.ErrorCode();
    }
  });
  commandPipe.mActive = false;
  EXPECT_EQ(printed, "------------------- Sending command = B, data = 1, num = 2\n");
  EXPECT_EQ(message, "Previous command still being written.") << "refused aloud, not dropped";
  EXPECT_EQ(code, static_cast<int32_t>(kErrorSemTimeout));
  for (int i = 0; i < commandPipe.mTransferLength; ++i) {
    ASSERT_EQ(commandPipe.mBuffer[i], 0x5A) << i;
  }
}

TEST_F(KivCmdPipeDeviceTest, ParameterBlockEchoesEachCommand) {
  Params params{};
  Write('A', 300, 7);
  ASSERT_EQ(ReadStatus(&params), 1);
  EXPECT_EQ(params.CmdCount, 7);
  EXPECT_EQ(params.Values[1], 300);

  Write('B', 12, 8);
  ASSERT_EQ(ReadStatus(&params), 1);
  EXPECT_EQ(params.CmdCount, 8);
  EXPECT_EQ(params.Values[1], 300);
  EXPECT_EQ(params.Values[2], 12);
}

TEST_F(KivCmdPipeDeviceTest, SilentDeviceKeepsPreviousBlock) {
  Params params{};
  Write('C', 42, 3);
  ASSERT_EQ(ReadStatus(&params), 1);

  sensor->SetStatusSilent(true);
  Write('C', 43, 4);
  Params later{};
  EXPECT_EQ(ReadStatus(&later), 0);
  EXPECT_EQ(later.CmdCount, 3);
  EXPECT_EQ(later.Values[3], 42);
}

}  // namespace
