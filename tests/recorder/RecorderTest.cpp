// The recorder on the virtual sensor, on the bus's manual clock: bus time
// drives --duration, --wait and the progress line, so every run is the same.
// The sensor's stream starts 1.32 s of bus time after it is opened (the data
// pipe queues its first transfers that far ahead), so durations here are
// longer than that.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "ClientProcess.h"
#include "CommandFrameCodec.h"
#include "DataPath.h"
#include "Recorder.h"
#include "RecorderClock.h"
#include "SkarvIO.h"
#include "StopRequest.h"
#include "TestSupport.h"
#include "backends/VirtualSensorFixture.h"

namespace {

namespace fs = std::filesystem;

class RecorderTest : public VirtualSensorFixture {
 protected:
  void SetUp() override {
    VirtualSensorFixture::SetUp();
    char pattern[] = "/tmp/skarv-recorder-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir = pattern;
    previousDir = fs::current_path();
    fs::current_path(workDir);
    bus->SetPacketObserver([this](uint32_t, uint8_t, const uint8_t* data, size_t length) {
      std::lock_guard<std::mutex> lock(sentMutex);
      for (size_t at = 28; at + 8 <= length; at += 8) sent.push_back(static_cast<uint16_t>(data[at] << 8 | data[at + 1]));
    });
    io = std::make_unique<CSkarvIO>();
  }

  void TearDown() override {
    Quietly([&] { io.reset(); });
    bus->SetPacketObserver(nullptr);
    VirtualSensorFixture::TearDown();
    fs::current_path(previousDir);
    if (mounted) ::umount2((workDir / "small").c_str(), MNT_DETACH);
    fs::remove_all(workDir);
  }

  // Runs the recorder on the manual clock, 10 ms of bus time per step;
  // `atFrame`, when given, runs before each step with the bus time in ms
  // since the start. Keeps what it printed on standard error in `errors`.
  int Record(const T_RecorderSettings& settings, std::function<void(uint32_t ms)> atFrame = {}) {
    CDataPath dataPath(*io);
    uint32_t elapsed = 0;
    CSteppedClock clock(dataPath, [&](uint32_t frames) {
      if (atFrame) atFrame(elapsed);
      bus->Advance(frames);
      elapsed += frames;
    });
    CRecorder recorder(*io, clock, stop, settings);
    CDiagCapture errorCapture(EDiagStream::eErr);
    int result = -1;
    output = Quietly([&] { result = recorder.Run(); });
    errors = errorCapture.Text();
    final = recorder.FinalStatus();
    recordedSeconds = recorder.RecordedSeconds();
    busMs = elapsed;
    return result;
  }

  std::vector<uint16_t> Sent() {
    std::lock_guard<std::mutex> lock(sentMutex);
    return sent;
  }

  // The recording holds every sample the sensor sent from its first line on,
  // in order, and ends on a complete line.
  void ExpectEverySampleFromTheFirst(const fs::path& file) {
    const std::vector<uint16_t> recorded = RecordedCounts(file.string());
    ASSERT_FALSE(recorded.empty());
    const std::vector<uint16_t> all = Sent();
    const auto first = std::find(all.begin(), all.end(), recorded.front());
    ASSERT_NE(first, all.end());
    const std::vector<uint16_t> expected(first, first + std::min<ptrdiff_t>(all.end() - first, recorded.size()));
    EXPECT_EQ(recorded, expected);
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(final.RecordsRecorded, recorded.size());
  }

  static std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::unique_ptr<CSkarvIO> io;
  CStopRequest stop;
  fs::path workDir;
  fs::path previousDir;
  std::mutex sentMutex;
  std::vector<uint16_t> sent;
  std::string output;
  std::string errors;
  T_DeviceStatus final;
  double recordedSeconds = 0.0;
  uint32_t busMs = 0;
  bool mounted = false;
};

TEST_F(RecorderTest, RecordsEverySampleForTheDurationIntoTheOutputFolder) {
  fs::create_directory("out");
  T_RecorderSettings settings;
  settings.durationSeconds = 2.0;
  settings.outputDir = "out";
  ASSERT_EQ(Record(settings), CRecorder::kRecorded) << errors;

  // The duration is bus time from the file's opening, at the first update.
  EXPECT_NEAR(recordedSeconds, 2.0, 0.0101);
  EXPECT_LE(busMs, 2020u);
  EXPECT_EQ(io->GetCurrentFileName(), "out/SkarvData-1.csv");
  EXPECT_FALSE(fs::exists("SkarvData-1.csv"));
  ExpectEverySampleFromTheFirst("out/SkarvData-1.csv");
  // The stream's 0.68 s of a sensor sending 40 samples a millisecond,
  // less the transfers still on their way.
  EXPECT_GT(final.RecordsRecorded, 20000u);
  EXPECT_EQ(final.FilesWritten, 1u);
  EXPECT_FALSE(final.Recording);
  EXPECT_NE(output.find("Device opened successfully!\n"), std::string::npos) << output;
  EXPECT_EQ(errors, "Summary: 1 file written, " + std::to_string(final.RecordsRecorded) +
                        " records, 0 gaps, 2.0 s, sensor SKV00001 (last file out/SkarvData-1.csv)\n");
}

TEST_F(RecorderTest, AStopRequestEndsWithEveryProcessedRecordInTheFile) {
  T_RecorderSettings settings;  // no duration: until stopped
  ASSERT_EQ(Record(settings, [&](uint32_t ms) {
              if (ms == 1800) stop.Request();
            }),
            CRecorder::kRecorded);
  EXPECT_EQ(busMs, 1810u);
  EXPECT_EQ(final.RecordsRecorded, final.RecordsProcessed);
  ExpectEverySampleFromTheFirst("SkarvData-1.csv");
}

TEST_F(RecorderTest, WaitsForALateSensorAndFailsWithoutOne) {
  bus->Unplug(sensor);
  T_RecorderSettings settings;
  settings.waitSeconds = 0.3;
  settings.durationSeconds = 2.0;
  // Plugged in within the wait: recorded as asked.
  ASSERT_EQ(Record(settings, [&](uint32_t ms) {
              if (ms == 200) {
                bus->Plug(sensor);
                ASSERT_TRUE(UsbLib_FlushHotplug());
              }
            }),
            CRecorder::kRecorded)
      << errors;
  EXPECT_GT(final.RecordsRecorded, 0u);

  // Never plugged in: a failure once the wait is over, and no file.
  Quietly([&] {
    ASSERT_TRUE(bus->Unplug(sensor));
    ASSERT_TRUE(UsbLib_FlushHotplug());
    io = std::make_unique<CSkarvIO>();
  });
  fs::remove("SkarvData-1.csv");
  EXPECT_EQ(Record(settings), CRecorder::kFailed);
  EXPECT_EQ(busMs, 300u);
  EXPECT_EQ(final.FilesWritten, 0u);
  EXPECT_FALSE(fs::exists("SkarvData-1.csv"));
  EXPECT_NE(errors.find("Summary: 0 files written, 0 records, 0 gaps, 0.0 s\n"), std::string::npos) << errors;
  EXPECT_NE(errors.find("skarv-record: no sensor within 0.3 s\n"), std::string::npos) << errors;
}

TEST_F(RecorderTest, AFolderThatCannotTakeRecordingsFailsAndSaysWhy) {
  T_RecorderSettings settings;
  settings.durationSeconds = 0.1;
  settings.outputDir = "missing";
  EXPECT_EQ(Record(settings), CRecorder::kFailed);
  EXPECT_EQ(errors, "skarv-record: cannot record to missing: No such file or directory\n");

  // A folder no one may create files in, not even root: refused before the
  // start, or by the controller at its first open, whoever finds it first.
  settings.outputDir = "/proc";
  EXPECT_EQ(Record(settings), CRecorder::kFailed);
  EXPECT_TRUE(errors.find("skarv-record: cannot record to /proc: ") != std::string::npos ||
              errors.find("skarv-record: recording failed: File /proc/SkarvData-1.csv could not be opened: ") !=
                  std::string::npos)
      << errors;
}

TEST_F(RecorderTest, AFullDiskEndsTheRecordingAndFails) {
  fs::create_directory("small");
  if (::mount("tmpfs", "small", "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << "); needs root";
  }
  mounted = true;
  T_RecorderSettings settings;
  settings.outputDir = "small";
  ASSERT_EQ(Record(settings), CRecorder::kFailed);
  // 256 kB take about a tenth of a second of the stream.
  EXPECT_LT(busMs, 2000u);
  EXPECT_NE(errors.find("skarv-record: recording failed: Recording to small/SkarvData-1.csv stopped: No space left "
                        "on device (disk full)\n"),
            std::string::npos)
      << errors;
  const std::string text = ReadAll("small/SkarvData-1.csv");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  // The summary counts the lines the file was left with, not those given to
  // its stream before the disk filled.
  const size_t records = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) - 1;
  EXPECT_GT(records, 1000u);
  EXPECT_EQ(final.RecordsRecorded, records);
  EXPECT_EQ(final.FileBytes, text.size());
  EXPECT_EQ(errors.find("Summary: 1 file written, " + std::to_string(records) + " records, "), 0u) << errors;

  // A second run on the disk filled to its last page: the new file cannot
  // take even its header, so it is removed rather than left empty.
  {
    std::ofstream filler("small/filler", std::ios::binary);
    const std::string page(4096, 'x');
    while (filler.write(page.data(), static_cast<std::streamsize>(page.size())) && filler.flush()) {
    }
  }
  Quietly([&] { io = std::make_unique<CSkarvIO>(); });
  ASSERT_EQ(Record(settings), CRecorder::kFailed);
  EXPECT_FALSE(fs::exists("small/SkarvData-2.csv"));
  EXPECT_EQ(Occurrences(output, "Recording to small/SkarvData-2.csv stopped: No space left on device\n"), 1u) << output;
  EXPECT_EQ(Occurrences(output, "Removed small/SkarvData-2.csv: the file could not take its header line\n"), 1u)
      << output;
  EXPECT_EQ(errors, "Summary: 0 files written, 0 records, 0 gaps, 0.0 s, sensor SKV00001\nskarv-record: recording failed: Recording to "
                    "small/SkarvData-2.csv stopped: No space left on device (disk full)\n");
  EXPECT_EQ(ReadAll("small/SkarvData-1.csv"), text) << "the first run's file is left as it was";
}

TEST_F(RecorderTest, TheProgressLineIsRefreshedEverySecondOfBusTimeAndGapsAreCounted) {
  T_RecorderSettings settings;
  settings.durationSeconds = 3.5;
  settings.progress = true;
  settings.outputOnTerminal = false;  // standard error alone shows the line
  ASSERT_EQ(Record(settings, [&](uint32_t ms) {
              if (ms == 2500 || ms == 3100) sensor->DropSamples(3);
            }),
            CRecorder::kRecorded);
  EXPECT_EQ(final.Gaps, 2u);
  EXPECT_EQ(Occurrences(output, "Skiped records = 3 at "), 2u) << output;
  // Each refresh goes back to the start of the line and erases it; at the
  // end the line is erased and the summary takes its place.
  EXPECT_EQ(Occurrences(errors, "\r\033[K"), 5u) << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
  EXPECT_NE(errors.find("\r\033[KSKV00001: sensor open, no data yet | 0 records | 0/s | 0 gaps | SkarvData-1.csv 135 B"),
            std::string::npos)
      << errors;
  // Three seconds in: about 40 samples a millisecond, one gap so far.
  const size_t third =
      errors.find("\r\033[KSKV00001: streaming", errors.find("\r\033[KSKV00001: streaming") + 1);
  ASSERT_NE(third, std::string::npos) << errors;
  unsigned long long records = 0, gaps = 0;
  double rate = 0.0, megabytes = 0.0;
  ASSERT_EQ(std::sscanf(errors.c_str() + third, "\r\033[KSKV00001: streaming | %llu records | %lf/s | %llu gaps | SkarvData-1.csv %lf MB",
                        &records, &rate, &gaps, &megabytes),
            4)
      << errors;
  EXPECT_NEAR(rate, 40000.0, 1000.0);
  EXPECT_EQ(gaps, 1u);
  EXPECT_GT(records, 60000u);
  EXPECT_NE(errors.find("\r\033[KSummary: 1 file written, " + std::to_string(final.RecordsRecorded) + " records, 2 gaps, 3.5 s"),
            std::string::npos)
      << errors;
}

}  // namespace

namespace {

// A recording of the virtual sensor with a gap, made here on the manual
// clock, played back by the built skarv-record as fast as it takes the
// records (stepping the replay's bus itself) is recorded again byte for
// byte; so is its beginning played at a tenth of the recorded pace on the
// wall clock, slow enough for a busy machine's data path never to fall
// behind. A file that is not a recording is refused, and a bad line ends the
// replay there, with every line before it; both with status 1.
TEST_F(RecorderTest, TheBuiltRecorderRecordsAReplayAgainByteForByte) {
  // At the top rate, 120 samples a frame: a replay at full speed must not
  // collect more at once than the data pipe keeps.
  uint8_t rate[5];
  ASSERT_TRUE(kiv::EncodeCommandFrame('R', 3600, 1, rate, sizeof rate));
  ASSERT_TRUE(sensor->ReceiveOut(0x01, rate, sizeof rate));
  T_RecorderSettings settings;
  settings.durationSeconds = 2.0;
  ASSERT_EQ(Record(settings, [&](uint32_t ms) {
              if (ms == 1500) sensor->DropSamples(5);
            }),
            CRecorder::kRecorded);
  const std::string original = ReadAll(workDir / "SkarvData-1.csv");
  ASSERT_GT(original.size(), 4000000u);

  const auto replay = [](const fs::path& file, const char* speed, std::string& errors) {
    CClientProcess::T_Setup setup;
    setup.program = SKARV_RECORD_PROGRAM;
    setup.arguments = {"--replay", file.string(), "--speed", speed, "--quiet"};
    CClientProcess process(setup);
    int status = -1;
    EXPECT_TRUE(process.WaitForExit(std::chrono::seconds(60), status));
    errors = process.Errors();
    const std::string recorded = ReadAll(process.WorkDir() / "SkarvData-1.csv");
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, recorded);
  };
  // The text up to and with line `n` (the header is line 1).
  const auto upToLine = [&](int n) {
    size_t end = 0;
    for (int line = 0; line < n; ++line) end = original.find('\n', end) + 1;
    return original.substr(0, end);
  };
  std::string errors;
  auto [status, recorded] = replay(workDir / "SkarvData-1.csv", "0", errors);
  EXPECT_EQ(status, 0) << errors;
  EXPECT_TRUE(recorded == original) << recorded.size() << " bytes, not " << original.size();
  EXPECT_NE(errors.find(" records, 1 gaps, "), std::string::npos) << errors;

  std::ofstream("start.csv", std::ios::binary) << upToLine(1001);
  std::tie(status, recorded) = replay(workDir / "start.csv", "0.1", errors);
  EXPECT_EQ(status, 0) << errors;
  EXPECT_EQ(recorded, upToLine(1001));

  // A file that is not a recording is refused before anything starts.
  std::ofstream("notes.csv") << "Count,Distance\n1,2\n";
  EXPECT_EQ(replay(workDir / "notes.csv", "0", errors).first, 1);
  EXPECT_NE(errors.find("skarv-record: cannot replay " + (workDir / "notes.csv").string() + ": "), std::string::npos)
      << errors;

  // Line 101 no longer starts with a number.
  std::ofstream("bad.csv", std::ios::binary) << upToLine(100) << "x" << original.substr(upToLine(100).size());
  std::tie(status, recorded) = replay(workDir / "bad.csv", "0", errors);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(recorded, upToLine(100));
  EXPECT_NE(errors.find("bad.csv:101: "), std::string::npos) << errors;
  EXPECT_NE(errors.find("skarv-record: the replay stopped: " + (workDir / "bad.csv").string() + ":101: "),
            std::string::npos)
      << errors;
}

}  // namespace
