#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "CommandFrameCodec.h"

namespace {

using kiv::T_Parameters;

TEST(CommandFrameCodecTest, CommandFrameIsCodeDataAndNumberBigEndianThenZeros) {
  std::vector<uint8_t> buffer(64, 0xEE);
  ASSERT_TRUE(kiv::EncodeCommandFrame('A', 300, 258, buffer.data(), buffer.size()));
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 5),
            (std::vector<uint8_t>{0x41, 0x01, 0x2C, 0x01, 0x02}));
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 5, buffer.end()), std::vector<uint8_t>(59, 0));

  std::vector<uint8_t> exact(5, 0xEE);
  ASSERT_TRUE(kiv::EncodeCommandFrame('F', 0, 0xFFFF, exact.data(), exact.size()));
  EXPECT_EQ(exact, (std::vector<uint8_t>{'F', 0, 0, 0xFF, 0xFF}));
}

TEST(CommandFrameCodecTest, BufferTooShortForAFrameIsLeftAlone) {
  std::vector<uint8_t> buffer(4, 0xEE);
  EXPECT_FALSE(kiv::EncodeCommandFrame('A', 1, 2, buffer.data(), buffer.size()));
  EXPECT_EQ(buffer, std::vector<uint8_t>(4, 0xEE));
  EXPECT_FALSE(kiv::EncodeCommandFrame('A', 1, 2, nullptr, 64));
}

TEST(CommandFrameCodecTest, ParameterFrameOfEighteenBytesOrMoreIsDecoded) {
  std::vector<uint8_t> frame(64);
  for (size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<uint8_t>(i + 1);
  }
  T_Parameters params{};
  // A negative length counts as a long one: the first 18 bytes are decoded.
  for (int length : {18, 64, -1, INT_MIN}) {
    params = T_Parameters{};
    ASSERT_TRUE(kiv::DecodeParameterFrame(frame.data(), length, &params)) << length;
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(params.Values[i], (2 * i + 1) * 256 + 2 * i + 2) << i;
    }
    EXPECT_EQ(params.CmdCount, 0x1112);
  }
}

TEST(CommandFrameCodecTest, ShortParameterFrameLeavesTheBlockAlone) {
  const std::vector<uint8_t> frame(18, 0x55);
  T_Parameters params{};
  params.Values[3] = 7;
  params.CmdCount = 9;
  for (int length : {0, 1, 17}) {
    EXPECT_FALSE(kiv::DecodeParameterFrame(frame.data(), length, &params)) << length;
  }
  EXPECT_FALSE(kiv::DecodeParameterFrame(nullptr, 18, &params));
  EXPECT_FALSE(kiv::DecodeParameterFrame(frame.data(), 18, nullptr));
  EXPECT_EQ(params.Values[3], 7);
  EXPECT_EQ(params.Values[0], 0);
  EXPECT_EQ(params.CmdCount, 9);
}

}  // namespace
