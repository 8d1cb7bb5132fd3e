// Current measurements, distance filters, range limits and the getters.

#include <gtest/gtest.h>

#include <memory>

#include "ControllerTestHelpers.h"

namespace {

using ControllerMeasurementTest = ControllerFixture;

TEST_F(ControllerMeasurementTest, FiltersStartFromZero) {
  Feed(MakeRecord(1000.0));
  EXPECT_DOUBLE_EQ(io->GetFilteredDist(), 1.0);
  EXPECT_DOUBLE_EQ(io->mDistVariance, 998.001);
  EXPECT_DOUBLE_EQ(io->GetStdDev(), 31.59115382508211);

  Feed(MakeRecord(1000.0));
  EXPECT_DOUBLE_EQ(io->GetFilteredDist(), 1.999);
  EXPECT_DOUBLE_EQ(io->mDistVariance, 1993.008995001);
  EXPECT_TRUE(io->LaserIsOn());
}

TEST_F(ControllerMeasurementTest, LaserOffRecordLeavesFiltersAndEntersScanAsZero) {
  Feed(MakeRecord(1000.0));
  Feed(MakeRecord(6000.0, 50));
  EXPECT_FALSE(io->LaserIsOn());
  EXPECT_DOUBLE_EQ(io->GetFilteredDist(), 1.0);
  EXPECT_DOUBLE_EQ(io->mDistVariance, 998.001);
  EXPECT_EQ(io->mCurScanDist[1], 0.0);
  EXPECT_EQ(io->mCurScanWidth[1], 0.0);
  EXPECT_EQ(io->GetCurDistance(), 0.0);
  EXPECT_EQ(io->GetCurWidth(), 0);

  Feed(MakeRecord(1000.0));
  EXPECT_TRUE(io->LaserIsOn());
}

TEST_F(ControllerMeasurementTest, RangeLimitsOfDistanceAndWidth) {
  // Exactly the limit stays in the scan but does not feed the filters.
  Feed(MakeRecord(2000.0, 40));
  EXPECT_EQ(io->GetFilteredDist(), 0.0);
  EXPECT_EQ(io->GetStdDev(), 0.0);
  EXPECT_EQ(io->mCurScanDist[0], 2000.0);
  EXPECT_EQ(io->mCurScanWidth[0], 40.0);
  EXPECT_EQ(io->GetCurDistance(), 2000.0);
  EXPECT_TRUE(io->LaserIsOn());

  Feed(MakeRecord(2000.1, 40));
  EXPECT_EQ(io->mCurScanDist[1], 0.0);
  EXPECT_EQ(io->mCurScanWidth[1], 0.0);
  EXPECT_EQ(io->GetFilteredDist(), 0.0);

  Feed(MakeRecord(500.0, 300));
  EXPECT_EQ(io->mCurScanDist[2], 500.0);
  EXPECT_EQ(io->mCurScanWidth[2], 300.0);
  EXPECT_EQ(io->GetCurWidth(), 300);

  // A width error zeroes an in-range distance, which has already fed the
  // filters.
  const double filtered = io->GetFilteredDist();
  Feed(MakeRecord(500.0, 301));
  EXPECT_EQ(io->mCurScanDist[3], 0.0);
  EXPECT_EQ(io->mCurScanWidth[3], 0.0);
  EXPECT_EQ(io->GetCurDistance(), 0.0);
  EXPECT_EQ(io->GetCurWidth(), 0);
  EXPECT_DOUBLE_EQ(io->GetFilteredDist(), 0.999 * filtered + 0.5);
  EXPECT_EQ(io->mScanDataSize, 4);
}

TEST_F(ControllerMeasurementTest, GettersConvertRawWords) {
  EXPECT_TRUE(io->LaserIsOn());
  EXPECT_EQ(io->GetFilteredDist(), 0.0);
  EXPECT_EQ(io->GetStdDev(), 0.0);
  EXPECT_EQ(io->GetTemperature(), 0.0);
  EXPECT_EQ(io->GetTemperatureIMU(), 95.0);
  EXPECT_EQ(io->GetCurrentFileName(), "");

  Record record = MakeRecord(100.0, 20, 0, 16383);
  record.rawAnaTemp = 4518;
  record.rawSupplyVoltage = 4817;
  record.laserPower = 0xFFFF;
  for (int i = 0; i < CUSBKivDataPipe::eNumIMUChannels; ++i) {
    record.imu[static_cast<size_t>(i)] = static_cast<uint16_t>(i + 1);
  }
  Feed(record);
  EXPECT_EQ(io->GetSampleDeltTime(), 16383);
  EXPECT_EQ(io->GetLaserPower(), 65535);
  EXPECT_EQ(io->GetTemperature(), 4518 * 0.01162 - 27.0);
  EXPECT_EQ(io->GetSupplyVoltage(), 4817 * 0.0022711 + 1.06);
  EXPECT_EQ(io->GetCurDistance(), 100.0);
  EXPECT_EQ(io->GetCurWidth(), 20);
  // Each channel lands in its own getter.
  EXPECT_EQ(io->GetAccelX(), 1);
  EXPECT_EQ(io->GetAccelY(), 2);
  EXPECT_EQ(io->GetAccelZ(), 3);
  EXPECT_DOUBLE_EQ(io->GetTemperatureIMU(), 4 * 0.005294086505373498 + 95.0);
  EXPECT_EQ(io->GetGyroX(), 5);
  EXPECT_EQ(io->GetGyroY(), 6);
  EXPECT_EQ(io->GetGyroZ(), 7);
  EXPECT_EQ(io->GetMagnX(), 8);
  EXPECT_EQ(io->GetMagnY(), 9);
  EXPECT_EQ(io->GetMagnZ(), 10);

  // The words are two's-complement values.
  record.imu[CUSBKivDataPipe::eAccelX] = 0xFFFF;
  record.imu[CUSBKivDataPipe::eIMUTemp] = 0xFFFF;
  record.imu[CUSBKivDataPipe::eGyroZ] = 0x8000;
  record.imu[CUSBKivDataPipe::eMagZ] = 0x7FFF;
  Feed(record);
  EXPECT_EQ(io->GetAccelX(), -1);
  EXPECT_DOUBLE_EQ(io->GetTemperatureIMU(), 95.0 - 0.005294086505373498);
  EXPECT_EQ(io->GetGyroZ(), -32768);
  EXPECT_EQ(io->GetMagnZ(), 32767);
}

void ExpectInitialState(CSkarvIO& io) {
  EXPECT_EQ(io.mParameters.CmdCount, 9);
  EXPECT_EQ(io.mStatusState, CSkarvIO::kStatusRequest);
  EXPECT_EQ(io.mCmdNumber, 10);
  EXPECT_EQ(io.mStatusRetries, 0);
  EXPECT_EQ(io.mPrevScanState, 0u);
  EXPECT_EQ(io.mFilteredDist, 0.0);
  EXPECT_EQ(io.mDistVariance, 0.0);
  EXPECT_EQ(io.mStdDev, 0.0);
  EXPECT_EQ(io.mTemperature, 0.0);
  EXPECT_TRUE(io.mLaserOn);
  EXPECT_EQ(io.mCurRotTime, 0);
  EXPECT_EQ(io.mRotTimeAccum, 0);
  EXPECT_EQ(io.mScanDataSize, 0);
  EXPECT_EQ(io.mFoundScanSize, 0);
  EXPECT_EQ(io.mCurScanDist, io.mScanDist[0]);
  EXPECT_EQ(io.mCurScanWidth, io.mScanWidth[0]);
  EXPECT_EQ(io.mLastScanDist, io.mScanDist[1]);
  EXPECT_EQ(io.mLastScanWidth, io.mScanWidth[1]);
  EXPECT_STREQ(io.mFileName, "");
}

TEST_F(ControllerMeasurementTest, InitializeIgnoresItsArgumentAndResetsTheState) {
  ExpectInitialState(*io);

  auto other = std::make_unique<CSkarvIO>();
  Quietly([&] { other->Initialize(0); });
  ExpectInitialState(*other);
  Quietly([&] { other.reset(); });

  // Measurements, a finished scan and handshake polls, then again.
  Quietly([&] {
    Feed(MakeRecord(1000.0, 50, 0, 300));
    Feed(MakeRecord(6000.0, 50, 1, 300));
    io->HandleStatusPipe();
    io->Initialize(0);
  });
  ExpectInitialState(*io);
}

}  // namespace
