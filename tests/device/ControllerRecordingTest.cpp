// CSV lines and the numbered recording files.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ControllerTestHelpers.h"
#include "GeneralException.h"

namespace {

const char kHeader[] =
    "Count,DeltTime,Distance,Width,AnaTemp,ScanState,LaserPower,SupplyVoltage,AccelX,AccelY,AccelZ,IMUTemp,GyroX,"
    "GyroY,GyroZ,MagX,MagY,MagZ\n";

class ControllerCsvLineTest : public ControllerFixture {
 protected:
  // Records into an anonymous file and returns everything written to it.
  std::string Written() {
    FILE* file = io->mSaveFile.exchange(nullptr);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) {
      text += static_cast<char>(c);
    }
    std::fclose(file);
    return text;
  }

  void SetUp() override {
    ControllerFixture::SetUp();
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    io->mSaveFile = file;
  }

  void TearDown() override {
    if (FILE* file = io->mSaveFile.exchange(nullptr)) {
      std::fclose(file);
    }
    ControllerFixture::TearDown();
  }
};

TEST_F(ControllerCsvLineTest, LineCarriesEveryField) {
  Record record = MakeRecord(123.4, 50, 1, 100);
  record.count = 5;
  record.rawAnaTemp = 4518;
  record.laserPower = 200;
  record.rawSupplyVoltage = 4817;
  for (int i = 0; i < CUSBKivDataPipe::eNumIMUChannels; ++i) {
    record.imu[static_cast<size_t>(i)] = static_cast<uint16_t>(i + 1);
  }
  FeedCaptured(record);
  EXPECT_EQ(Written(), "5,100,123.400000,50,25.499160,1,200,11.999889,1,2,3,4,5,6,7,8,9,10\n");
}

TEST_F(ControllerCsvLineTest, LineHoldsSignedImuAndUnlimitedValues) {
  Record record = MakeRecord(6000.0, 50, 0, 7);
  record.count = 65535;
  record.laserPower = 0xFFFF;
  record.imu[CUSBKivDataPipe::eAccelX] = 0xFFFF;
  record.imu[CUSBKivDataPipe::eMagZ] = 0x8000;
  Feed(record);
  EXPECT_EQ(io->mCurScanDist[0], 0.0);

  Record wide = MakeRecord(2500.0, 301, 0, 7);
  wide.count = 0;
  Feed(wide);
  EXPECT_EQ(io->mCurScanWidth[1], 0.0);

  EXPECT_EQ(Written(),
            "65535,7,6000.000000,50,-27.000000,0,65535,1.060000,-1,0,0,0,0,0,0,0,0,-32768\n"
            "0,7,2500.000000,301,-27.000000,0,0,1.060000,0,0,0,0,0,0,0,0,0,0\n");
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs each test in a fresh working directory.
class ControllerRecordingFileTest : public ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    mPreviousDir = std::filesystem::current_path();
    char pattern[] = "/tmp/controller-recording-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mDir = pattern;
    std::filesystem::current_path(mDir);
  }

  void TearDown() override {
    if (FILE* file = io->mSaveFile.exchange(nullptr)) {
      std::fclose(file);
    }
    std::filesystem::current_path(mPreviousDir);
    std::filesystem::remove_all(mDir);
    ControllerFixture::TearDown();
  }

  void Request(bool record) {
    io->RequestRecording(record);
    io->UpdateFileState();
  }

  std::filesystem::path mPreviousDir;
  std::filesystem::path mDir;
};

TEST_F(ControllerRecordingFileTest, FilesAreNumberedFromOneAndKeepTheirName) {
  {
    std::ofstream stale("SkarvData-1.csv");
    stale << "left over from an earlier run\n";
  }
  // An earlier run's file is never replaced: the next number is taken.
  Request(true);
  ASSERT_NE(io->mSaveFile.load(), nullptr);
  EXPECT_EQ(io->GetCurrentFileName(), "SkarvData-2.csv");
  EXPECT_EQ(ReadFile("SkarvData-1.csv"), "left over from an earlier run\n");
  // While recording, further updates keep the same file.
  io->UpdateFileState();
  EXPECT_EQ(io->mFileCount, 2);

  Record record = MakeRecord(10.0, 5, 0, 3);
  record.count = 1;
  FeedCaptured(record);
  Request(false);
  EXPECT_EQ(io->mSaveFile.load(), nullptr);
  EXPECT_EQ(io->GetCurrentFileName(), "SkarvData-2.csv");
  EXPECT_EQ(io->GetDeviceStatus().FileBytes, sizeof kHeader - 1 + 60);
  const std::string first = ReadFile("SkarvData-2.csv");
  EXPECT_EQ(first, std::string(kHeader) + "1,3,10.000000,5,-27.000000,0,0,1.060000,0,0,0,0,0,0,0,0,0,0\n");

  // Not recording: records write nothing, a repeated stop changes nothing.
  FeedCaptured(record);
  io->UpdateFileState();

  Request(true);
  EXPECT_EQ(io->GetCurrentFileName(), "SkarvData-3.csv");
  Request(false);
  EXPECT_EQ(ReadFile("SkarvData-3.csv"), kHeader);
  EXPECT_EQ(ReadFile("SkarvData-2.csv"), first);
}

TEST_F(ControllerRecordingFileTest, OpenFailureThrowsAndTheNextNumberIsTried) {
  // Nothing can be created in a folder that has been removed, even by root.
  ASSERT_EQ(mkdir("gone", 0700), 0);
  std::filesystem::current_path("gone");
  std::filesystem::remove(mDir / "gone");
  io->RequestRecording(true);
  try {
    io->UpdateFileState();
    ADD_FAILURE() << "no exception";
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.Message(), "Error opening save data file.  errno = %x");
    EXPECT_EQ(e.ErrorCode(), ENOENT);
  }
  EXPECT_EQ(io->mSaveFile.load(), nullptr);
  EXPECT_TRUE(io->mWriteFile.load());
  std::filesystem::current_path(mDir);

  io->UpdateFileState();
  ASSERT_NE(io->mSaveFile.load(), nullptr);
  EXPECT_EQ(io->GetCurrentFileName(), "SkarvData-2.csv");
}

}  // namespace
