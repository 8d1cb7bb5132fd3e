// CSV lines and the numbered recording files.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

// A disk that stands still while the recording's lines go out (a stalled
// network share): the windows' getters and status still answer, because the
// record loop only fills the stream's buffer and the write waits outside the
// controller's lock.
class StalledDisk {
 public:
  FILE* Open() {
    cookie_io_functions_t calls{};
    calls.write = [](void* self, const char*, size_t size) -> ssize_t {
      auto* disk = static_cast<StalledDisk*>(self);
      std::unique_lock lock(disk->mMutex);
      disk->mWriting = true;
      disk->mChanged.notify_all();
      disk->mChanged.wait_for(lock, std::chrono::seconds(30), [disk] { return disk->mReleased; });
      return static_cast<ssize_t>(size);
    };
    FILE* file = fopencookie(this, "w", calls);
    // Buffered as the controller buffers its recordings: a whole update.
    if (file) std::setvbuf(file, mBuffer.data(), _IOFBF, mBuffer.size());
    return file;
  }
  bool WaitForWrite() {
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, std::chrono::seconds(30), [this] { return mWriting; });
  }
  void Release() {
    std::lock_guard lock(mMutex);
    mReleased = true;
    mChanged.notify_all();
  }

 private:
  std::vector<char> mBuffer = std::vector<char>(CSkarvIO::kRecordingBufferBytes);
  std::mutex mMutex;
  std::condition_variable mChanged;
  bool mWriting = false;
  bool mReleased = false;
};

TEST_F(ControllerFixture, AStalledDiskHoldsUpNeitherGettersNorStatus) {
  StalledDisk disk;
  FILE* file = disk.Open();
  ASSERT_NE(file, nullptr);
  io->mSaveFile = file;
  for (int i = 0; i < 1000; ++i) {
    Record record = MakeRecord(100.0 + i % 7);
    record.count = static_cast<uint16_t>(i);
    FeedCaptured(record);
  }
  io->RequestRecording(false);
  std::thread dataPath([&] { Quietly([&] { io->UpdateFileState(); }); });
  ASSERT_TRUE(disk.WaitForWrite());
  // The close waits for the disk; the getters and the status line do not.
  auto status = std::async(std::launch::async, [&] {
    return std::make_pair(io->GetCurDistance(), io->GetDeviceStatus().Recording);
  });
  const bool answered = status.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  disk.Release();
  ASSERT_TRUE(answered) << "a getter waited for the disk";
  EXPECT_DOUBLE_EQ(status.get().first, 100.0 + 999 % 7);
  dataPath.join();
  EXPECT_EQ(io->mSaveFile.load(), nullptr);
  EXPECT_FALSE(io->GetDeviceStatus().Recording);
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
