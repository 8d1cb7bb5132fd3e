// Gaps in the record numbers, as the record loop reports them.

#include <gtest/gtest.h>

#include "ControllerTestHelpers.h"
#include "TestSupport.h"

namespace {

using ControllerGapTest = ControllerFixture;

TEST_F(ControllerGapTest, NumbersWrapWithoutAGapAndAJumpIsReportedOnce) {
  io->mLastRecordCount = 65533;
  std::string out = Quietly([&] {
    for (int count : {65534, 65535, 0, 1}) {
      io->mRecordCount = count;
      io->ReportGap();
    }
  });
  EXPECT_EQ(out.find("Skiped"), std::string::npos) << out;
  out = Quietly([&] {
    for (int count : {10, 13, 14}) {
      io->mRecordCount = count;
      io->ReportGap();
    }
  });
  // 1 to 10 is itself a jump of 8; 10 to 13 misses two.
  EXPECT_EQ(out, "Skiped records = 8 at 10\nSkiped records = 2 at 13\n");
  EXPECT_EQ(io->mLastRecordCount, 14);
}

}  // namespace
