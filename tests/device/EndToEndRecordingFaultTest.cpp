// Recordings that must never be lost: taken names, a full disk, a folder
// that has gone, and the gap reference at the start of each stream.

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "EndToEndFixture.h"

namespace {

using EndToEndRecording = EndToEndFixture;

std::string ReadAll(const std::string& name) {
  std::ifstream in(name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every line of a recording ends with "\n" and holds the header's 18 fields.
void ExpectValidCsv(const std::string& name) {
  const std::string text = ReadAll(name);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << name << " ends on a cut line";
  std::istringstream lines(text);
  std::string line;
  size_t number = 0;
  while (std::getline(lines, line)) {
    ++number;
    ASSERT_EQ(std::count(line.begin(), line.end(), ','), 17) << name << " line " << number << ": " << line;
  }
}

TEST_F(EndToEndRecording, NoRunEverReplacesAnEarlierRecording) {
  {
    std::ofstream earlier("SkarvData-1.csv");
    earlier << "an earlier run's recording\n";
  }
  // A second controller in the same folder, as a second client would be.
  auto other = std::make_unique<CSkarvIO>();
  controller->RequestRecording(true);
  other->RequestRecording(true);
  Quietly([&] {
    other->UpdateFileState();
    controller->UpdateFileState();
  });
  Run(2000);
  EXPECT_EQ(ReadAll("SkarvData-1.csv"), "an earlier run's recording\n");
  EXPECT_EQ(other->GetCurrentFileName(), "SkarvData-2.csv");
  EXPECT_EQ(controller->GetCurrentFileName(), "SkarvData-3.csv");
  controller->RequestRecording(false);
  other->RequestRecording(false);
  Run(10);
  Quietly([&] { other.reset(); });
  EXPECT_EQ(RecordedCounts("SkarvData-2.csv").size(), 0u) << "the other controller had no sensor";
  EXPECT_GT(RecordedCounts("SkarvData-3.csv").size(), 1000u);
}

TEST_F(EndToEndRecording, UnopenableFileIsReportedWithItsNameAndReason) {
  // The working folder has been removed: nothing can be created in it.
  std::filesystem::create_directory("gone");
  std::filesystem::current_path("gone");
  std::filesystem::remove(workDir / "gone");
  Run(1000);
  const int countBefore = controller->mRecordCount;
  controller->RequestRecording(true);
  const std::string out = Run(500);
  EXPECT_EQ(Occurrences(out, "Error opening save data file.  errno = %x Error Code = 0x2\n"), 1u) << out.substr(0, 500);
  EXPECT_FALSE(controller->mWriteFile.load()) << "the request is withdrawn";
  EXPECT_EQ(controller->mSaveFile.load(), nullptr);
  EXPECT_NE(controller->mRecordCount, countBefore) << "records are still processed";
  EXPECT_EQ(controller->GetDeviceStatus().LastError,
            "File SkarvData-1.csv could not be opened: " + std::string(std::strerror(ENOENT)));
  // Back in a folder that exists, the operator asks again: the next number works.
  std::filesystem::current_path(workDir);
  controller->RequestRecording(true);
  Run(100);
  EXPECT_NE(controller->mSaveFile.load(), nullptr);
  EXPECT_EQ(controller->GetCurrentFileName(), "SkarvData-2.csv");
}

// A small file system of its own, so the disk can really fill.
class EndToEndFullDisk : public EndToEndFixture {
 protected:
  void SetUp() override {
    EndToEndFixture::SetUp();
    std::filesystem::create_directory("small");
    if (::mount("tmpfs", "small", "tmpfs", 0, "size=1m") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << "); needs root";
    }
    mounted = true;
    std::filesystem::current_path("small");
  }

  void TearDown() override {
    Quietly([&] { controller.reset(); });
    std::filesystem::current_path(workDir);
    if (mounted) {
      ::umount2((workDir / "small").c_str(), MNT_DETACH);
    }
    EndToEndFixture::TearDown();
  }

  bool mounted = false;
};

TEST_F(EndToEndFullDisk, AFullDiskEndsTheRecordingOnceOnACompleteLine) {
  {
    // Leaves the recording a few pages of room.
    std::ofstream filler("filler");
    filler << std::string(1008 * 1024, 'x');
  }
  controller->RequestRecording(true);
  const std::string out = Run(3000);
  const std::string line = "Recording to SkarvData-1.csv stopped: " + std::string(std::strerror(ENOSPC)) + "\n";
  EXPECT_EQ(Occurrences(out, "Recording to "), 1u) << out.substr(0, 1000);
  EXPECT_EQ(Occurrences(out, line), 1u);
  EXPECT_FALSE(controller->mWriteFile.load()) << "the request is withdrawn";
  EXPECT_EQ(controller->mSaveFile.load(), nullptr);
  const T_DeviceStatus status = controller->GetDeviceStatus();
  EXPECT_NE(status.LastError.find("SkarvData-1.csv"), std::string::npos) << status.LastError;
  EXPECT_NE(status.LastError.find("disk full"), std::string::npos) << status.LastError;
  ExpectValidCsv("SkarvData-1.csv");
  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv");
  ASSERT_GT(recorded.size(), 100u);
  for (size_t i = 1; i < recorded.size(); ++i) {
    ASSERT_EQ(static_cast<uint16_t>(recorded[i - 1] + 1), recorded[i]) << "line " << i + 2;
  }
  // The counts are those of the file as it was left, not of the lines given
  // to the stream.
  EXPECT_EQ(status.RecordsRecorded, recorded.size());
  EXPECT_EQ(status.FileBytes, std::filesystem::file_size("SkarvData-1.csv"));

  // The data path goes on.
  const uint64_t processed = status.RecordsProcessed;
  Run(200);
  EXPECT_GT(controller->GetDeviceStatus().RecordsProcessed, processed + 1000);

  // Space is freed; a new start writes a new file, header first.
  std::filesystem::remove("filler");
  controller->RequestRecording(true);
  Run(100);
  controller->RequestRecording(false);
  EXPECT_EQ(Run(10).find("Recording to "), std::string::npos);
  EXPECT_EQ(controller->GetCurrentFileName(), "SkarvData-2.csv");
  std::string header;
  const size_t second = RecordedCounts("SkarvData-2.csv", &header).size();
  EXPECT_GT(second, 1000u);
  EXPECT_EQ(header.rfind("Count,DeltTime,", 0), 0u) << header;
  ExpectValidCsv("SkarvData-2.csv");
  const T_DeviceStatus after = controller->GetDeviceStatus();
  EXPECT_EQ(after.RecordsRecorded, recorded.size() + second);
  EXPECT_EQ(after.FileBytes, std::filesystem::file_size("SkarvData-2.csv"));
  EXPECT_EQ(after.FilesWritten, 2u);
}

// A recording whose folder is removed under it is found out at the first
// update's flush a second after the last look, on the bus's clock here: it
// ends like a failed write, and its records no longer count.
TEST_F(EndToEndRecording, AFileWhoseFolderIsRemovedEndsTheRecordingWithinASecond) {
  controller->SetRecordingClock(
      [&] { return std::chrono::steady_clock::time_point(std::chrono::milliseconds(bus->CurrentFrame())); });
  controller->RequestRecording(true);
  Run(1500);
  controller->RequestRecording(false);
  Run(10);
  const size_t kept = RecordedCounts("SkarvData-1.csv").size();
  ASSERT_GT(kept, 1000u);

  std::filesystem::create_directory("out");
  controller->SetRecordingDirectory("out");
  controller->RequestRecording(true);
  // The file's first update looked at it, and so did the last of these: the
  // next look is a second of updates away.
  Run(1010);
  ASSERT_GT(controller->GetDeviceStatus().RecordsRecorded, kept + 1000);
  const uint32_t failures = controller->GetDeviceStatus().RecordingFailures;
  std::filesystem::remove_all("out");
  std::string out;
  uint32_t ms = 0;
  while (controller->mSaveFile.load() && ms < 3000) {
    out += Run(10);
    ms += 10;
  }
  EXPECT_EQ(ms, 1000u) << "looked at once a second of the clock, neither more nor less often";
  EXPECT_EQ(Occurrences(out, "Recording to "), 1u) << out.substr(0, 1000);
  EXPECT_EQ(Occurrences(out, "Recording to out/SkarvData-2.csv stopped: the file was deleted\n"), 1u);
  EXPECT_FALSE(controller->mWriteFile.load()) << "the request is withdrawn";
  const T_DeviceStatus status = controller->GetDeviceStatus();
  EXPECT_EQ(status.LastError, "Recording to out/SkarvData-2.csv stopped: the file was deleted");
  EXPECT_EQ(status.RecordingFailures, failures + 1);
  EXPECT_EQ(status.RecordsRecorded, kept) << "the first file's records alone";
  EXPECT_EQ(status.FilesWritten, 1u);
  EXPECT_EQ(status.FileBytes, 0u);

  // A stop before the next look still finds the file gone.
  std::filesystem::create_directory("out");
  controller->RequestRecording(true);
  Run(100);
  std::filesystem::remove_all("out");
  controller->RequestRecording(false);
  out = Run(10);
  EXPECT_EQ(Occurrences(out, "Recording to out/SkarvData-3.csv stopped: the file was deleted\n"), 1u) << out;
  EXPECT_EQ(controller->GetDeviceStatus().RecordsRecorded, kept);
  EXPECT_EQ(controller->GetDeviceStatus().FilesWritten, 1u);
}

TEST_F(EndToEndRecording, NoGapIsReportedWhenAStreamStartsOrRestarts) {
  std::string out = Run(1500);
  ASSERT_GT(controller->mRecordCount, 0);
  EXPECT_EQ(out.find("Skiped"), std::string::npos) << out.substr(0, 1000);
  Quietly([&] {
    bus->Unplug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  Run(300);
  Quietly([&] {
    bus->Plug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  out = Run(2000);
  EXPECT_NE(out.find("Device opened successfully!"), std::string::npos);
  EXPECT_EQ(out.find("Skiped"), std::string::npos) << "the sensor counts afresh after its power-up";
  // A real gap is still reported.
  sensor->DropSamples(3);
  out = Run(200);
  EXPECT_EQ(Occurrences(out, "Skiped records = 3 at "), 1u) << out.substr(0, 500);
}

}  // namespace
