// Assembling records into rotation scans: scan ends, buffer exchange and
// rotation time.

#include <gtest/gtest.h>

#include <string>

#include "ControllerTestHelpers.h"

namespace {

using ControllerScanTest = ControllerFixture;

TEST_F(ControllerScanTest, ScanStateChangesEndScansAndExchangeBuffers) {
  const int bits[] = {0, 0, 0, 1, 1, 0};
  int results[6] = {};
  std::string printed;
  for (int i = 0; i < 6; ++i) {
    // Distances 10..60 and widths 1..6 tell the points apart.
    printed += FeedCaptured(MakeRecord(10.0 * (i + 1), i + 1, bits[i]), &results[i]);
    if (i == 3) {
      // The first three records form the completed scan; the fourth starts
      // the next one.
      EXPECT_EQ(io->mFoundScanSize, 3);
      EXPECT_EQ(io->mLastScanDist, io->mScanDist[0]);
      EXPECT_EQ(io->mLastScanDist[0], 10.0);
      EXPECT_EQ(io->mLastScanDist[2], 30.0);
      EXPECT_EQ(io->mLastScanWidth[2], 3.0);
      EXPECT_EQ(io->mCurScanDist, io->mScanDist[1]);
      EXPECT_EQ(io->mCurScanDist[0], 40.0);
      EXPECT_EQ(io->mCurScanWidth[0], 4.0);
    }
  }
  EXPECT_EQ(results[0] + results[1] + results[2] + results[4], 0);
  EXPECT_EQ(results[3], 3);
  EXPECT_EQ(results[5], 2);
  EXPECT_EQ(printed,
            "Edge Found IndexTime = 1 Data size = 3\nfoundScanSize = 3\n"
            "Edge Found IndexTime = 0 Data size = 2\nfoundScanSize = 2\n");

  EXPECT_EQ(io->mFoundScanSize, 2);
  EXPECT_EQ(io->mLastScanDist, io->mScanDist[1]);
  EXPECT_EQ(io->mLastScanWidth, io->mScanWidth[1]);
  EXPECT_EQ(io->mLastScanDist[0], 40.0);
  EXPECT_EQ(io->mLastScanDist[1], 50.0);
  EXPECT_EQ(io->mLastScanWidth[1], 5.0);
  EXPECT_EQ(io->mCurScanDist[0], 60.0);
  EXPECT_EQ(io->mScanDataSize, 1);
}

TEST_F(ControllerScanTest, FirstRecordWithBitSetEndsAnEmptyScan) {
  int result = -1;
  EXPECT_EQ(FeedCaptured(MakeRecord(100.0, 50, 1), &result),
            "Edge Found IndexTime = 1 Data size = 0\nfoundScanSize = 0\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(io->mFoundScanSize, 0);
  EXPECT_EQ(io->mScanDataSize, 1);
}

TEST_F(ControllerScanTest, FullBufferEndsTheScanAt1999Points) {
  const std::string printed = Quietly([&] {
    for (int i = 1; i <= 2500; ++i) {
      const int result = Feed(MakeRecord(static_cast<double>(i % 1000), 50, 0, 0));
      EXPECT_EQ(result, i == 2000 ? 1999 : 0) << "record " << i;
    }
  });
  EXPECT_EQ(printed, "Edge Found IndexTime = 0 Data size = 1999\nfoundScanSize = 1999\n");
  EXPECT_EQ(io->mFoundScanSize, 1999);
  EXPECT_EQ(io->mLastScanDist[1998], 999.0);
  EXPECT_EQ(io->mScanDataSize, 501);
  EXPECT_EQ(io->mCurScanDist[0], 0.0);  // record 2000
  EXPECT_EQ(io->mCurScanDist[500], 500.0);
}

TEST_F(ControllerScanTest, RotationTimeSumsDeltaTimesUpToTheEndingRecord) {
  struct Case {
    int deltTime;      // of the first two records
    int lastDeltTime;  // of the record that ends the scan
    int expected;
  };
  const Case cases[] = {{3000, 3000, 9000}, {4000, 4000, 0}, {3333, 3334, 0}, {3333, 3333, 9999}, {1000, 1000, 3000}};
  CDiagCapture printed;
  int bit = 0;
  for (const Case& c : cases) {
    const int previous = io->GetCurRotTime();
    Feed(MakeRecord(100.0, 50, bit, c.deltTime));
    Feed(MakeRecord(100.0, 50, bit, c.deltTime));
    EXPECT_EQ(io->GetCurRotTime(), previous);
    bit ^= 1;
    Feed(MakeRecord(100.0, 50, bit, c.lastDeltTime));
    EXPECT_EQ(io->GetCurRotTime(), c.expected) << "delta times " << c.deltTime << ", " << c.lastDeltTime;
  }
}

}  // namespace
