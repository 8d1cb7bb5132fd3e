// A recording of the live virtual sensor, with its faults, played back
// through the whole client stack (playback sensor, virtual bus, USB layer,
// pipes, controller, data path) on the manual clock.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CsvColumns.h"
#include "CsvLine.h"
#include "CsvReader.h"
#include "DataPath.h"
#include "DiagCapture.h"
#include "McapRecordSource.h"
#include "McapRecorder.h"
#include "RecordSamples.h"
#include "ReplaySetup.h"
#include "SampleFrameCodec.h"
#include "SkarvIO.h"
#include "TestSupport.h"
#include "UsbLibrary.h"
#include "VirtualSensor.h"
#include "VirtualUsbBackend.h"
#include "protocol/FrameBuilder.h"

namespace {

namespace fs = std::filesystem;
using Scans = std::vector<std::vector<double>>;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first `lines` lines of `text`, each with its line end.
std::string FirstLines(const std::string& text, size_t lines) {
  size_t at = 0;
  for (size_t i = 0; i < lines; ++i) at = text.find('\n', at) + 1;
  return text.substr(0, at);
}

// What one replay through the stack gave.
struct T_Replayed {
  std::string recording;  // the controller's recording of it
  std::vector<kiv::T_RawRecord> records;  // the raw records the data path handed on
  Scans scans;            // the data path's scans, distances only
  std::string errors;     // standard error
  std::string error;      // the driver's
  uint64_t played = 0;
  bool done = false;
};

class Replay : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/skarv-replay-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    sDir = pattern;
    RecordLiveRun();
  }
  static void TearDownTestSuite() { fs::remove_all(sDir); }

  void SetUp() override {
    previous = fs::current_path();
    work = sDir / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directory(work);
    fs::current_path(work);
  }
  void TearDown() override {
    UsbLib_SetBackend(nullptr);
    fs::current_path(previous);
  }

  // The live virtual sensor recorded through the client with drops, a
  // sequence break inside a frame, the counts' wrap, and an unplug and
  // replug; its scans while recording.
  static void RecordLiveRun() {
    const fs::path before = fs::current_path();
    fs::current_path(sDir);
    auto bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eManual, 5000);
    auto sensor = std::make_shared<sim::CVirtualSensor>();
    UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(bus));
    bus->Plug(sensor);
    auto io = std::make_unique<CSkarvIO>();
    bool recording = false;
    // The same run as MCAP too, beside the CSV file and of its records.
    skarvmcap::CMcapRecorder mcap(skarvdds::T_DdsOptions{}, "test", "", [&io] {
      const T_DeviceStatus status = io->GetDeviceStatus();
      return status.Recording ? status.FileName : std::string();
    });
    Quietly([&] {
      io->Initialize(10);
      ASSERT_TRUE(UsbLib_FlushHotplug());
      CDataPath path(*io);
      mcap.Attach(path);
      path.SubscribeScans([&](std::shared_ptr<const T_Scan> scan) {
        if (recording) sLiveScans.push_back(scan->distances);
      });
      const auto run = [&](int ms) {
        for (int t = 0; t < ms; t += 10) {
          bus->Advance(10);
          path.Step();
        }
      };
      run(1500);  // the stream starts about 1.3 s after the sensor is opened
      io->RequestRecording(true);
      recording = true;
      run(300);  // 40 samples a millisecond: the counts wrap at about 1.64 s
      ASSERT_GT(sensor->SamplesTaken(), 65536u);
      sensor->DropSamples(5);
      run(200);
      sensor->BreakSequenceInNextFrame();
      run(100);
      bus->Unplug(sensor);
      ASSERT_TRUE(UsbLib_FlushHotplug());
      run(50);
      bus->Plug(sensor);
      ASSERT_TRUE(UsbLib_FlushHotplug());
      run(1600);
      EXPECT_EQ(mcap.Close(), "");
      io.reset();  // closes the recording
    });
    UsbLib_SetBackend(nullptr);
    fs::rename("SkarvData-1.csv", "live.csv");
    fs::rename("SkarvData-1.mcap", "live.mcap");
    sLive = sDir / "live.csv";
    sLiveMcap = sDir / "live.mcap";
    sLiveText = ReadText(sLive);
    fs::current_path(before);
  }

  // Plays `file` through a fresh client stack at `speed` until the replay is
  // over (or `maxSteps` steps of the data path, each `stepMs` of bus time,
  // have run), recording all of it. `step` runs after every step with its
  // number.
  static T_Replayed Play(const fs::path& file, double speed, bool loop = false, int maxSteps = 3000,
                         const std::function<bool(CSkarvIO&, int, const playback::CPlaybackDriver&)>& step = {},
                         uint32_t stepMs = 10) {
    T_Replayed result;
    auto bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eManual, 70000);
    bus->SetCatchUp(true);
    UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(bus));
    std::string why;
    const T_ReplayOptions options{file.string(), speed, loop};
    std::shared_ptr<playback::CPlaybackSensor> sensor;
    if (file.extension() == ".mcap") {
      auto source = std::make_shared<skarvmcap::CMcapRecordSource>(file.string());
      EXPECT_TRUE(source->Open()) << source->Error();
      sensor = MakePlaybackSensor(options, source);
    } else {
      sensor = MakePlaybackSensor(options, why);
    }
    EXPECT_TRUE(sensor) << why;
    if (!sensor) return result;
    auto io = std::make_unique<CSkarvIO>();
    playback::CPlaybackDriver driver(bus, *io, [first = sensor]() mutable { return std::move(first); },
                           playback::CPlaybackDriver::EAfterSensor::eDone);
    CDiagCapture errors(EDiagStream::eErr);
    Quietly([&] {
      driver.Begin();
      io->Initialize(10);
      io->RequestRecording(true);
      CDataPath path(*io);
      path.SubscribeScans([&](std::shared_ptr<const T_Scan> scan) { result.scans.push_back(scan->distances); });
      path.SubscribeRecords([&](std::span<const kiv::T_RawRecord> records) {
        result.records.insert(result.records.end(), records.begin(), records.end());
      });
      for (int i = 0; i < maxSteps && !driver.Done(); ++i) {
        driver.AwaitSource(1000);
        bus->Advance(stepMs);
        path.Step();
        driver.Poll();
        // A sensor the driver plugged or unplugged is seen by the next update.
        UsbLib_FlushHotplug();
        if (step && !step(*io, i, driver)) break;
      }
      result.done = driver.Done();
      // The controller notices the removal; the file stays open until it goes.
      UsbLib_FlushHotplug();
      path.Step();
      result.played = driver.RecordsPlayed();
      result.error = driver.Error();
      io.reset();
    });
    result.errors = errors.Text();
    result.recording = ReadText("SkarvData-1.csv");
    return result;
  }

  // Waits until a pipe's write is over (its completion is awaited on a
  // thread of its own).
  static void WaitIdle(const CUSBPipe& pipe) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pipe.mActive.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  static size_t IndexOf(const Scans& scans, const std::vector<double>& scan) {
    return static_cast<size_t>(std::find(scans.begin(), scans.end(), scan) - scans.begin());
  }

  static fs::path sDir;
  static fs::path sLive;
  static fs::path sLiveMcap;
  static std::string sLiveText;
  static Scans sLiveScans;
  fs::path previous;
  fs::path work;
};

fs::path Replay::sDir;
fs::path Replay::sLive;
fs::path Replay::sLiveMcap;
std::string Replay::sLiveText;
Scans Replay::sLiveScans;

// Frames with every extreme word in every position a recording keeps, the
// counts' wrap and a gap: each frame's header words differ from the last's.
std::vector<std::vector<uint8_t>> ExtremeFrames() {
  const uint16_t extremes[] = {0, 1, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF};
  constexpr int kAuxWord = 3;  // no column of the recording holds it
  std::vector<std::vector<uint8_t>> frames;
  uint16_t count = 65500;
  for (int position = 0; position < FrameBuilder::kHeaderWords + 3; ++position) {
    for (uint16_t value : extremes) {
      FrameBuilder frame;
      for (int h = 0; h < FrameBuilder::kHeaderWords; ++h) {
        if (h != kAuxWord) frame.Header(h, h == position ? value : static_cast<uint16_t>(1000 + h));
      }
      for (int e = 0; e < 3; ++e) {
        TestEntry entry{count++, 1234, 56, kiv::T_RawRecord::FlagsOf(static_cast<unsigned>(e % 2), 3)};
        if (position == FrameBuilder::kHeaderWords) entry.distance = value;
        if (position == FrameBuilder::kHeaderWords + 1) entry.width = value;
        if (position == FrameBuilder::kHeaderWords + 2) entry.flags = static_cast<uint16_t>(value & ~1u);
        frame.Entry(entry);
      }
      frames.push_back(frame.Bytes());
    }
    count = static_cast<uint16_t>(count + (position == 8 ? 40 : 0));  // a gap
  }
  return frames;
}

TEST_F(Replay, RecordsDecodedFromFramesComeBackWordForWordFromADdsBatchFromTheRecordingAndFromItsReplay) {
  std::vector<kiv::T_RawRecord> decoded;
  for (const std::vector<uint8_t>& frame : ExtremeFrames()) {
    kiv::T_RawRecord records[8];
    const int n = kiv::DecodeSampleFrame(frame.data(), static_cast<int>(frame.size()), records, 8);
    ASSERT_EQ(n, 3);
    decoded.insert(decoded.end(), records, records + n);
  }
  ASSERT_EQ(decoded.size(), 306u);
  ASSERT_LT(decoded.back().count, decoded.front().count) << "the counts wrap";

  // A DDS batch carries every word, the aux word and the flags' unused bit too.
  std::vector<kiv::T_RawRecord> everyWord = decoded;
  for (size_t i = 0; i < everyWord.size(); ++i) {
    everyWord[i].auxWord = static_cast<uint16_t>(i % 2 == 0 ? 0xFFFF : i);
    everyWord[i].flags = static_cast<uint16_t>(everyWord[i].flags | (i % 3 == 0 ? 1 : 0));
  }
  std::vector<uint16_t> words(everyWord.size() * skarvdds::kWordsPerRecord);
  skarvdds::PackRecords(everyWord, words);
  std::vector<kiv::T_RawRecord> unpacked;
  skarvdds::AppendRecords(words, unpacked);
  ASSERT_EQ(unpacked.size(), everyWord.size());
  for (size_t i = 0; i < everyWord.size(); ++i) {
    ASSERT_TRUE(unpacked[i].SameWords(everyWord[i])) << "record " << i;
  }

  std::string text = std::string(recording::CsvHeader()) + "\n";
  for (const kiv::T_RawRecord& record : decoded) {
    char line[recording::kCsvLineCapacity];
    text.append(line, recording::FormatCsvLine(record, line));
  }
  std::ofstream("extremes.csv", std::ios::binary) << text;
  recording::CCsvReader reader("extremes.csv");
  ASSERT_TRUE(reader.Open()) << reader.Error();
  kiv::T_RawRecord read;
  for (const kiv::T_RawRecord& record : decoded) {
    ASSERT_EQ(reader.Next(read), recording::CRecordSource::EResult::eRecord) << reader.Error();
    ASSERT_TRUE(read.SameWords(record)) << "count " << record.count;
  }
  EXPECT_EQ(reader.Next(read), recording::CRecordSource::EResult::eEnd);

  // Through the whole client: framed again by the playback sensor, decoded,
  // handed to the data path's subscribers and recorded again.
  const T_Replayed replayed = Play(work / "extremes.csv", 0.0);
  EXPECT_TRUE(replayed.done);
  EXPECT_EQ(replayed.error, "");
  EXPECT_EQ(replayed.recording, text);
  ASSERT_EQ(replayed.records.size(), decoded.size());
  for (size_t i = 0; i < decoded.size(); ++i) {
    ASSERT_TRUE(replayed.records[i].SameWords(decoded[i])) << "record " << i;
    ASSERT_NE(replayed.records[i].hostTimeNs, 0) << "taken in from the bus at a host time";
  }
}

TEST_F(Replay, TheLiveRecordingHasItsFaultsAndEveryLineReadsBackToItsOwnText) {
  recording::CCsvReader reader(sLive.string());
  ASSERT_TRUE(reader.Open()) << reader.Error();
  std::istringstream lines(sLiveText);
  std::string line;
  std::getline(lines, line);
  kiv::T_RawRecord r;
  size_t jumps = 0;
  size_t wraps = 0;
  uint16_t previousCount = 0;
  size_t n = 0;
  while (reader.Next(r) == recording::CRecordSource::EResult::eRecord) {
    ASSERT_TRUE(std::getline(lines, line));
    char text[recording::kCsvLineCapacity];
    ASSERT_EQ(std::string(text, recording::FormatCsvLine(r, text)), line + "\n") << "line " << n + 2;
    if (n > 0 && r.count != static_cast<uint16_t>(previousCount + 1)) ++jumps;
    if (n > 0 && r.count < previousCount) ++wraps;
    previousCount = r.count;
    ++n;
  }
  EXPECT_EQ(reader.Error(), "");
  EXPECT_GT(n, 30000u);
  EXPECT_EQ(jumps, 3u) << "the drop, the break inside a frame, the replug";
  EXPECT_EQ(wraps, 1u) << "65535 to 0";
  EXPECT_GT(sLiveScans.size(), 10u);
}

TEST_F(Replay, AtTheRecordedPaceGivesBackTheFileByteForByteAndTheSameScansAndAnswersCommands) {
  int commandStep = -1;
  bool acknowledged = false;
  const T_Replayed replayed = Play(sLive, 1.0, false, 3000, [&](CSkarvIO& io, int i, const playback::CPlaybackDriver&) {
    if (i == 200) {  // in the middle of the records
      io.HandleStatusPipe();
      io.HandleStatusPipe();
      io.HandleStatusPipe();
      WaitIdle(io.mCmdPipe);
      io.SetFarGain(321);
      WaitIdle(io.mCmdPipe);
      io.SetRotationRate(3600);
      WaitIdle(io.mCmdPipe);
      io.WriteCommand('F', 0);  // laser off
      WaitIdle(io.mCmdPipe);
      commandStep = i;
    } else if (commandStep >= 0 && !acknowledged) {
      acknowledged = io.HandleStatusPipe();
      if (acknowledged) {
        EXPECT_EQ(io.mParameters.Values[1], 321);
        EXPECT_EQ(io.mParameters.CmdCount, io.mCmdNumber);
      }
    }
    return true;
  });
  EXPECT_TRUE(replayed.done);
  EXPECT_TRUE(acknowledged) << "the commands were answered";
  EXPECT_EQ(replayed.error, "");
  EXPECT_EQ(replayed.errors.find(".csv"), std::string::npos) << replayed.errors;
  EXPECT_EQ(replayed.played, static_cast<uint64_t>(std::count(sLiveText.begin(), sLiveText.end(), '\n') - 1));
  EXPECT_TRUE(replayed.recording == sLiveText) << "the replay's recording differs from its source";

  // The replay's first scan began before its recording did; every later one
  // is the live run's, in the same order, and none is missing.
  ASSERT_GT(replayed.scans.size(), 10u);
  const size_t first = IndexOf(sLiveScans, replayed.scans[1]);
  ASSERT_LT(first, sLiveScans.size()) << "the replay's second scan is one of the live run's";
  const size_t n = std::min(replayed.scans.size() - 1, sLiveScans.size() - first);
  EXPECT_GE(n + 3, sLiveScans.size()) << "scans are missing";
  for (size_t i = 0; i < n; ++i) {
    ASSERT_EQ(replayed.scans[1 + i], sLiveScans[first + i]) << "scan " << i;
  }
}

TEST_F(Replay, AtFullSpeedGivesBackTheFileByteForByte) {
  const T_Replayed replayed = Play(sLive, 0.0);
  EXPECT_TRUE(replayed.done) << replayed.errors << replayed.error << " played " << replayed.played;
  EXPECT_EQ(replayed.error, "");
  EXPECT_TRUE(replayed.recording == sLiveText) << "the replay's recording differs from its source";
  // Several scans complete in one update, of which the data path hands out
  // the last: each one handed out is one of the live run's, in order.
  size_t at = 0;
  for (size_t i = 1; i < replayed.scans.size(); ++i) {
    const auto found = std::find(sLiveScans.begin() + static_cast<long>(at), sLiveScans.end(), replayed.scans[i]);
    ASSERT_NE(found, sLiveScans.end()) << "scan " << i;
    at = static_cast<size_t>(found - sLiveScans.begin()) + 1;
  }
}

// The MCAP file recorded beside the live CSV file, played back: recorded
// as CSV again it is the live file byte for byte, with its drops, its wrap
// and its unplug.
TEST_F(Replay, TheMcapRecordingOfTheLiveRunGivesBackItsCsvFileByteForByte) {
  const T_Replayed replayed = Play(sLiveMcap, 0.0);
  EXPECT_TRUE(replayed.done) << replayed.errors << replayed.error << " played " << replayed.played;
  EXPECT_EQ(replayed.error, "");
  EXPECT_TRUE(replayed.recording == sLiveText) << "the replay's recording differs from the live one";

  // Cut in the middle (a power cut): played up to its last complete chunk,
  // and said once.
  const std::string bytes = ReadText(sLiveMcap);
  std::ofstream(work / "cut.mcap", std::ios::binary) << bytes.substr(0, bytes.size() * 3 / 4);
  fs::remove("SkarvData-1.csv");
  const T_Replayed cut = Play(work / "cut.mcap", 0.0);
  EXPECT_TRUE(cut.done) << cut.errors << cut.error;
  EXPECT_EQ(cut.error, "");
  const std::string said = (work / "cut.mcap").string() + ": the file was cut short; played up to its last complete chunk\n";
  EXPECT_EQ(cut.errors.find(said), 0u) << cut.errors;
  EXPECT_EQ(cut.errors.find(said, 1), std::string::npos) << cut.errors;
  ASSERT_GT(cut.recording.size(), FirstLines(sLiveText, 1000).size());
  EXPECT_LT(cut.recording.size(), sLiveText.size());
  EXPECT_EQ(sLiveText.compare(0, cut.recording.size(), cut.recording), 0) << "not the live file's first lines";
  EXPECT_EQ(cut.recording.back(), '\n');
}

TEST_F(Replay, AtFullSpeedInStepsOfTheWholeRingGivesBackTheFileByteForByte) {
  // Every transfer of the ring completes between two steps: 160 frames of
  // 124 records, far more than the data pipe's storage holds at once.
  const T_Replayed replayed = Play(sLive, 0.0, false, 3000, {}, 160);
  EXPECT_TRUE(replayed.done);
  EXPECT_EQ(replayed.error, "");
  EXPECT_GT(replayed.played, 19840u);
  EXPECT_TRUE(replayed.recording == sLiveText) << "the replay's recording differs from its source";
}

TEST_F(Replay, ABadLineStopsTheReplayThereAfterEverythingBeforeItWasPlayed) {
  const std::string good = FirstLines(sLiveText, 1001);  // the header and 1000 records
  const std::string next = FirstLines(sLiveText, 1003).substr(good.size());
  const std::string line = next.substr(0, next.find('\n'));  // line 1002, without its line end
  ASSERT_GE(line.size() - line.rfind(','), 3u) << "its last field has two characters or more";
  const struct {
    std::string name;
    std::string bad;
    std::string what;
  } cases[] = {
      {"fields.csv", "1,2,3\n", "3 fields, expected 18"},
      {"number.csv", "1,2,3.0,4,5.001480,1,7,8.000482,1,2,3,4,5,6,7,8,9,ten\n", "MagZ \"ten\" is not a whole number"},
      {"range.csv", "1,2,3.0,4,5.001480,1,7,8.000482,1,2,3,4,5,6,7,8,9,40000\n", "MagZ 40000 is out of range (-32768 to 32767)"},
      // Cut off, as after a power cut: inside the line, and inside its last
      // field, where what is left still reads as a number.
      {"cut.csv", next.substr(0, 40), "the file ends inside this line"},
      {"lastfield.csv", line.substr(0, line.size() - 1), "the file ends inside this line"},
  };
  for (const auto& c : cases) {
    const fs::path file = work / c.name;
    std::ofstream(file, std::ios::binary) << good << c.bad << (c.bad.back() == '\n' ? next : "");
    const T_Replayed replayed = Play(file, 0.0);
    const std::string error = file.string() + ":1002: " + c.what;
    EXPECT_TRUE(replayed.done) << c.name;
    EXPECT_EQ(replayed.error, error);
    EXPECT_EQ(replayed.errors.find(error + "\n"), 0u) << replayed.errors;
    EXPECT_EQ(Occurrences(replayed.errors, error), 1u) << "said once, on standard error";
    EXPECT_EQ(replayed.played, 1000u);
    EXPECT_TRUE(replayed.recording == good) << c.name << ": every line before it was played";
    fs::remove("SkarvData-1.csv");
  }

  std::ofstream(work / "other.csv") << "Count,Distance\n1,2\n";
  std::string why;
  EXPECT_EQ(MakePlaybackSensor(T_ReplayOptions{(work / "other.csv").string(), 1.0, false}, why), nullptr);
  EXPECT_EQ(why, (work / "other.csv").string() + ": not a recording (its first line is not the recording header)");
}

// A loop is one stream: the file again and again, its counts following on
// from the last record's, with no removal of the sensor and no gap between.
TEST_F(Replay, WithLoopPlaysTheFileAgainAndAgainItsCountsFollowingOn) {
  const std::string part = FirstLines(sLiveText, 501);
  const fs::path file = work / "part.csv";
  std::ofstream(file, std::ios::binary) << part;
  const std::string body = part.substr(part.find('\n') + 1);
  T_Replayed replayed;
  const std::string out = Quietly([&] {
    replayed = Play(file, 0.0, true, 3000, [&](CSkarvIO& io, int, const playback::CPlaybackDriver&) {
      return io.GetDeviceStatus().RecordsProcessed < 1200;
    });
  });
  EXPECT_FALSE(replayed.done);
  EXPECT_EQ(replayed.error, "");
  EXPECT_GE(replayed.played, 1200u);
  // The second pass: each count moved on by as much as the first record's
  // count is from the one after the last.
  const auto countOf = [](const std::string& line) { return std::stoi(line.substr(0, line.find(','))); };
  const int first = countOf(body);
  const int last = countOf(body.substr(body.rfind('\n', body.size() - 2) + 1));
  std::string again;
  std::istringstream lines(body);
  for (std::string line; std::getline(lines, line);) {
    const int count = (countOf(line) + last + 1 - first) & 0xFFFF;
    again += std::to_string(count) + line.substr(line.find(',')) + "\n";
  }
  ASSERT_GE(replayed.recording.size(), part.size() + again.size());
  EXPECT_TRUE(replayed.recording.compare(0, part.size() + again.size(), part + again) == 0)
      << "the file, then the file again";
  EXPECT_EQ(Occurrences(out, "[REMOVAL]"), 0u);
  EXPECT_EQ(Occurrences(out, "Skiped records"), 0u);
  EXPECT_EQ(Occurrences(replayed.errors, "Clean Port."), 1u) << "once, when the client ends";
}

}  // namespace
