// The built skarv-record writing MCAP, each file read back by the MCAP
// project's own TypeScript reader (tests/mcap-reader), which checks the
// summary against the chunks, the CRCs, and decodes every message by its
// channel's schema; the records it finds are compared word for word with
// the CSV of the same recording.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "ClientProcess.h"
#include "DataPath.h"
#include "McapRecorder.h"
#include "SkarvIO.h"
#include "TestSupport.h"
#include "UsbLibrary.h"
#include "VirtualSensor.h"
#include "VirtualUsbBackend.h"
#include "CsvLine.h"
#include "RecordSamples.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

CClientProcess::T_Setup Program(std::string program, std::vector<std::string> arguments) {
  CClientProcess::T_Setup setup;
  setup.program = std::move(program);
  setup.arguments = std::move(arguments);
  setup.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  return setup;
}

int ExitStatus(CClientProcess& process) {
  int status = -1;
  EXPECT_TRUE(process.WaitForExit(seconds(120), status)) << "still running";
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// What the independent reader said of `file` (its JSON line), with the
// records' words in `words` when asked; fails the test when it found a fault.
std::string CheckMcap(const fs::path& file, bool cut = false, std::vector<uint16_t>* words = nullptr) {
  std::vector<std::string> arguments = {"node", SKARV_MCAP_CHECKER, file.string()};
  const fs::path dump = file.string() + ".words";
  if (cut) arguments.push_back("--cut");
  if (words) {
    arguments.push_back("--dump-records");
    arguments.push_back(dump.string());
  }
  CClientProcess checker(Program("/usr/bin/env", arguments));
  EXPECT_EQ(ExitStatus(checker), 0) << checker.Errors();
  if (words) {
    const std::string bytes = ReadAll(dump);
    words->resize(bytes.size() / 2);
    std::memcpy(words->data(), bytes.data(), words->size() * 2);
  }
  return checker.Output();
}

// The CSV lines of the records a record batch's words carry.
std::string CsvLines(const std::vector<uint16_t>& words) {
  std::vector<kiv::T_RawRecord> records;
  skarvdds::AppendRecords(words, records);
  std::string text;
  char line[recording::kCsvLineCapacity];
  for (const kiv::T_RawRecord& record : records) text.append(line, recording::FormatCsvLine(record, line));
  return text;
}

uint64_t Field(const std::string& json, const std::string& name) {
  const size_t at = json.find("\"" + name + "\":");
  return at == std::string::npos ? 0 : std::stoull(json.substr(at + name.size() + 3));
}

// Both files of one recording: the MCAP holds every record of the CSV, word
// for word, and every message reads back as a ROS 2 tool reads it.
TEST(McapRecording, BothFilesOfARecordingCarryTheSameRecordsAndEveryMessageReadsBack) {
  CClientProcess recorder(Program(SKARV_RECORD_PROGRAM, {"--simulate", "--quiet", "--format", "csv,mcap", "--duration", "3"}));
  ASSERT_EQ(ExitStatus(recorder), 0) << recorder.Errors();
  const fs::path folder = recorder.WorkDir();
  EXPECT_NE(recorder.Errors().find("(last file SkarvData-1.csv)\nThe same records went to SkarvData-1.mcap.\n"),
            std::string::npos)
      << recorder.Errors();
  std::vector<uint16_t> words;
  const std::string found = CheckMcap(folder / "SkarvData-1.mcap", false, &words);
  const std::string csv = ReadAll(folder / "SkarvData-1.csv");
  const std::string lines = csv.substr(csv.find('\n') + 1);
  ASSERT_GT(lines.size(), 1000000u);
  EXPECT_EQ(Field(found, "records"), static_cast<uint64_t>(std::count(lines.begin(), lines.end(), '\n'))) << found;
  EXPECT_TRUE(CsvLines(words) == lines) << "the MCAP's records differ from the CSV's";
  // A scan a rotation (about 20 a second) and the IMU at 100 a second of sensor time.
  EXPECT_GT(Field(found, "/scan"), 20u) << found;
  EXPECT_GT(Field(found, "/imu"), 100u) << found;
  EXPECT_EQ(Field(found, "/imu"), Field(found, "/mag")) << found;
  EXPECT_NE(found.find("\"serial\":\"SKV00001\""), std::string::npos) << found;
  // Far smaller than the CSV of the same records.
  EXPECT_LT(fs::file_size(folder / "SkarvData-1.mcap") * 5, fs::file_size(folder / "SkarvData-1.csv"));
}

// MCAP alone: no CSV file, and a number whose file exists is passed over,
// the file left as it was; under a namespace, the channels are under it.
TEST(McapRecording, OnItsOwnTheFileTakesTheNextFreeNumberAndNoCsvIsWritten) {
  char pattern[] = "/tmp/skarv-mcap-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path folder = pattern;
  std::ofstream(folder / "SkarvData-1.mcap") << "an earlier file";
  CClientProcess recorder(Program(SKARV_RECORD_PROGRAM, {"--simulate", "--quiet", "--format", "mcap", "--duration",
                                                         "1", "--output-dir", folder.string(), "--namespace",
                                                         "front"}));
  ASSERT_EQ(ExitStatus(recorder), 0) << recorder.Errors();
  EXPECT_EQ(ReadAll(folder / "SkarvData-1.mcap"), "an earlier file");
  EXPECT_FALSE(fs::exists(folder / "SkarvData-1.csv"));
  EXPECT_FALSE(fs::exists(folder / "SkarvData-2.csv"));
  const std::string found = CheckMcap(folder / "SkarvData-2.mcap");
  // Named as ROS 2 names the DDS topics under the namespace.
  EXPECT_NE(found.find("\"/front/scan\":"), std::string::npos) << found;
  EXPECT_NE(found.find("\"/front/records\":"), std::string::npos) << found;
  const std::string summary = "Summary: 1 file written, " + std::to_string(Field(found, "records")) + " records, ";
  EXPECT_EQ(recorder.Errors().find(summary), 0u) << recorder.Errors() << found;
  EXPECT_NE(recorder.Errors().find("(last file " + (folder / "SkarvData-2.mcap").string() + ")"), std::string::npos)
      << recorder.Errors();
  fs::remove_all(folder);
}

// A disk that fills: the recording fails, says why, and the file is cut
// back to its last complete chunk, which a reader takes as a cut file.
TEST(McapRecording, AFullDiskCutsTheFileBackToItsLastCompleteChunk) {
  char pattern[] = "/tmp/skarv-mcap-full-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path folder = pattern;
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") != 0) {
    fs::remove_all(folder);
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << "); needs root";
  }
  CClientProcess recorder(Program(SKARV_RECORD_PROGRAM, {"--simulate", "--quiet", "--format", "mcap", "--duration",
                                                         "30", "--output-dir", folder.string()}));
  EXPECT_EQ(ExitStatus(recorder), 1) << recorder.Errors();
  const fs::path file = folder / "SkarvData-1.mcap";
  EXPECT_NE(recorder.Errors().find("recording failed: Recording to " + file.string() +
                                   " stopped: No space left on device (disk full)\n"),
            std::string::npos)
      << recorder.Errors();
  const std::string found = CheckMcap(file, true);
  EXPECT_GT(Field(found, "records"), 10000u) << found;
  ::umount(folder.c_str());
  fs::remove_all(folder);
}

// Beside the panel's recording: each CSV file the button starts gets its
// MCAP file, of the same number and the same records; a number whose MCAP
// file exists already is passed over for both.
TEST(McapRecording, BesideThePanelsRecordingEachCsvFileGetsItsMcapFileOfTheSameRecords) {
  char pattern[] = "/tmp/skarv-mcap-panel-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path folder = pattern;
  auto bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eManual, 5000);
  auto sensor = std::make_shared<sim::CVirtualSensor>();
  UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(bus));
  bus->Plug(sensor);
  // An earlier MCAP file: its number is passed over, for both files.
  std::ofstream(folder / "SkarvData-1.mcap") << "an earlier file";
  auto io = std::make_unique<CSkarvIO>();
  io->SetRecordingDirectory(folder.string());
  io->SetRecordingCompanions({".mcap"});
  skarvmcap::CMcapRecorder mcap(skarvdds::T_DdsOptions{}, "test", "", [&io] {
    const T_DeviceStatus status = io->GetDeviceStatus();
    return status.Recording ? status.FileName : std::string();
  });
  Quietly([&] {
    io->Initialize(10);
    ASSERT_TRUE(UsbLib_FlushHotplug());
    CDataPath path(*io);
    mcap.Attach(path);
    const auto run = [&](int ms) {
      for (int t = 0; t < ms; t += 10) {
        bus->Advance(10);
        path.Step();
      }
    };
    run(1500);  // the stream starts about 1.3 s after the sensor is opened
    for (int file = 0; file < 2; ++file) {
      io->RequestRecording(true);
      run(500);
      io->RequestRecording(false);
      run(200);
    }
    EXPECT_EQ(mcap.Close(), "");
    io.reset();
  });
  UsbLib_SetBackend(nullptr);
  EXPECT_EQ(ReadAll(folder / "SkarvData-1.mcap"), "an earlier file");
  EXPECT_FALSE(fs::exists(folder / "SkarvData-1.csv"));
  for (const char* number : {"2", "3"}) {
    SCOPED_TRACE(number);
    const fs::path file = folder / (std::string("SkarvData-") + number);
    std::vector<uint16_t> words;
    const std::string found = CheckMcap(file.string() + ".mcap", false, &words);
    const std::string csv = ReadAll(file.string() + ".csv");
    const std::string lines = csv.substr(csv.find('\n') + 1);
    EXPECT_GT(lines.size(), 100000u);
    EXPECT_TRUE(CsvLines(words) == lines) << "the MCAP's records differ from the CSV's";
  }
  EXPECT_FALSE(fs::exists(folder / "SkarvData-4.mcap"));
  fs::remove_all(folder);
}

// The numbered files of `prefix` ("DIR/SkarvData-") with `extension`, in
// order of their numbers.
std::vector<fs::path> Numbered(const std::string& prefix, const std::string& extension) {
  std::vector<fs::path> files;
  for (int n = 1; n < 1000; ++n) {
    const fs::path file = prefix + std::to_string(n) + extension;
    if (fs::exists(file)) files.push_back(file);
  }
  return files;
}

std::string LinesOf(const fs::path& csv) {
  const std::string text = ReadAll(csv);
  return text.substr(text.find('\n') + 1);
}

// A recording replayed as fast as it is taken, split by size (both formats)
// and by the sensor's time (MCAP alone, a rolling log of three): the files
// together are the recording, none lost or written twice.
TEST(McapRecording, SplitFilesTogetherAreTheUnsplitRecording) {
  CClientProcess live(Program(SKARV_RECORD_PROGRAM, {"--simulate", "--quiet", "--duration", "3"}));
  ASSERT_EQ(ExitStatus(live), 0) << live.Errors();
  const fs::path source = live.WorkDir() / "SkarvData-1.csv";
  const std::string sourceLines = LinesOf(source);

  CClientProcess bySize(Program(SKARV_RECORD_PROGRAM, {"--replay", source.string(), "--speed", "0", "--quiet",
                                                       "--format", "csv,mcap", "--split-size", "1"}));
  ASSERT_EQ(ExitStatus(bySize), 0) << bySize.Errors();
  const std::string prefix = (bySize.WorkDir() / "SkarvData-").string();
  const std::vector<fs::path> csvFiles = Numbered(prefix, ".csv");
  ASSERT_GE(csvFiles.size(), 4u) << bySize.Errors();
  std::string joined;
  for (const fs::path& csv : csvFiles) {
    SCOPED_TRACE(csv.string());
    // Split at the first update past 1 MB: one update's lines (at most the
    // 5120 records a collection holds) past it at most.
    EXPECT_LE(fs::file_size(csv), 1000000u + 5120u * recording::kCsvLineCapacity);
    if (csv != csvFiles.back()) {
      EXPECT_GE(fs::file_size(csv), 1000000u);
    }
    const std::string lines = LinesOf(csv);
    joined += lines;
    std::vector<uint16_t> words;
    CheckMcap(fs::path(csv).replace_extension(".mcap"), false, &words);
    EXPECT_TRUE(CsvLines(words) == lines) << "the MCAP file differs from its CSV file";
  }
  EXPECT_TRUE(joined == sourceLines) << "the split files differ from the recording";
  EXPECT_NE(bySize.Errors().find("Summary: " + std::to_string(csvFiles.size()) + " files written, "), std::string::npos)
      << bySize.Errors();

  CClientProcess rolling(Program(SKARV_RECORD_PROGRAM, {"--replay", source.string(), "--speed", "0", "--quiet",
                                                        "--format", "mcap", "--split-duration", "0.25", "--max-files",
                                                        "3"}));
  ASSERT_EQ(ExitStatus(rolling), 0) << rolling.Errors();
  const std::vector<fs::path> kept = Numbered((rolling.WorkDir() / "SkarvData-").string(), ".mcap");
  ASSERT_EQ(kept.size(), 3u) << rolling.Errors();
  EXPECT_EQ(kept.back().filename().string().rfind("SkarvData-", 0), 0u);
  const int last = std::stoi(kept.back().stem().string().substr(10));
  // About 1.7 s of the sensor's time recorded, a quarter of a second a file.
  EXPECT_GE(last, 5);
  std::string tail;
  for (const fs::path& mcap : kept) {
    std::vector<uint16_t> words;
    CheckMcap(mcap, false, &words);
    tail += CsvLines(words);
  }
  ASSERT_LT(tail.size(), sourceLines.size());
  EXPECT_TRUE(sourceLines.compare(sourceLines.size() - tail.size(), tail.size(), tail) == 0)
      << "the files kept are not the recording's last ones";
  EXPECT_NE(rolling.Output().find("Removed SkarvData-1.mcap: the last 3 files are kept\n"),
            std::string::npos)
      << rolling.Output();
  EXPECT_NE(rolling.Errors().find("Summary: " + std::to_string(last) + " files written, "), std::string::npos)
      << rolling.Errors();
}

}  // namespace
