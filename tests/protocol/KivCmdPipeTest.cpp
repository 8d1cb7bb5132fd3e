#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KivCmdPipe.h"
#include "TestSupport.h"

namespace {

using Params = CUSBKivCmdPipe::T_Parameters;

std::vector<uint8_t> ParameterFrame(size_t length) {
  std::vector<uint8_t> frame(length);
  for (size_t i = 0; i < length; ++i) {
    frame[i] = static_cast<uint8_t>(i + 1);
  }
  return frame;
}

bool SameBlock(const Params& a, const Params& b) {
  for (int i = 0; i < 8; ++i) {
    if (a.Values[i] != b.Values[i]) {
      return false;
    }
  }
  return a.CmdCount == b.CmdCount;
}

class KivCmdPipeTest : public ::testing::Test {
 protected:
  void SetUp() override { pipe.Initialize(0x81); }

  int Process(std::vector<uint8_t>& frame, std::string* printed = nullptr) {
    int result = 0;
    const std::string output =
        Quietly([&] { result = pipe.ProcessPipeData(frame.data(), static_cast<int>(frame.size())); });
    if (printed) {
      *printed = output;
    }
    return result;
  }

  CUSBKivCmdPipe pipe;
};

TEST_F(KivCmdPipeTest, ShortFrameLeavesBlockUnchanged) {
  std::vector<uint8_t> frame = ParameterFrame(18);
  ASSERT_EQ(Process(frame), 1);
  const Params before = pipe.mReceivedParams;

  std::vector<uint8_t> shortFrame(17, 0xAA);
  std::string printed;
  EXPECT_EQ(Process(shortFrame, &printed), 0);
  EXPECT_TRUE(SameBlock(pipe.mReceivedParams, before));
  EXPECT_EQ(printed, "");
}

TEST_F(KivCmdPipeTest, DecodesNineBigEndianWords) {
  std::vector<uint8_t> frame = ParameterFrame(18);
  frame[16] = 0x01;
  frame[17] = 0x02;
  std::string printed;
  EXPECT_EQ(Process(frame, &printed), 1);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(pipe.mReceivedParams.Values[i], (2 * i + 1) * 256 + 2 * i + 2) << i;
  }
  EXPECT_EQ(pipe.mReceivedParams.CmdCount, 258);
  EXPECT_EQ(printed, "Processing parameters count = 258\n");
}

TEST_F(KivCmdPipeTest, LongFrameDecodesOnlyItsFirstEighteenBytes) {
  std::vector<uint8_t> frame = ParameterFrame(64);
  EXPECT_EQ(Process(frame), 1);
  EXPECT_EQ(pipe.mReceivedParams.Values[0], 0x0102);
  EXPECT_EQ(pipe.mReceivedParams.Values[7], 0x0F10);
  EXPECT_EQ(pipe.mReceivedParams.CmdCount, 0x1112);
}

TEST_F(KivCmdPipeTest, ReadParamsWithoutPendingReadHandsOutLastBlock) {
  Params out;
  std::memset(&out, 0xFF, sizeof out);
  EXPECT_EQ(pipe.ReadParams(&out), 0);
  EXPECT_TRUE(SameBlock(out, Params{}));

  std::vector<uint8_t> frame = ParameterFrame(18);
  ASSERT_EQ(Process(frame), 1);
  EXPECT_EQ(pipe.ReadParams(&out), 0);
  EXPECT_TRUE(SameBlock(out, pipe.mReceivedParams));
  EXPECT_EQ(pipe.ReadParams(nullptr), 0);
}

TEST_F(KivCmdPipeTest, WriteOnDetachedPipeIsPrintedAndDropped) {
  const std::string printed = Quietly([&] { EXPECT_FALSE(pipe.WriteCommand('F', 1, 9)) << "nothing was started"; });
  EXPECT_EQ(printed, "------------------- Sending command = F, data = 1, num = 9\n");
  EXPECT_FALSE(pipe.mActive.load());
  EXPECT_EQ(pipe.mBuffer, nullptr);
}

}  // namespace
