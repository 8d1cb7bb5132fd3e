// A replay steered as from its window (pause, steps, speed, seeks), through
// the whole client stack on the manual clock, of a recording made here with
// its scan starts at known records; and the index those seeks use.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "CsvColumns.h"
#include "CsvLine.h"
#include "CsvReader.h"
#include "DataPath.h"
#include "DiagCapture.h"
#include "McapRecordSource.h"
#include "McapRecording.h"
#include "PlaybackDriver.h"
#include "RecordingIndex.h"
#include "RecordingPlayback.h"
#include "ReplaySteering.h"
#include "SkarvIO.h"
#include "TestSupport.h"
#include "UsbLibrary.h"
#include "VirtualUsbBackend.h"

namespace {

namespace fs = std::filesystem;
using recording::CRecordingIndex;
using recording::CRecordSource;
using EResult = recording::CRecordSource::EResult;

// The recording: scans of 400 records, but for scan 20 of 9000 (so that the
// index has entries inside it too), each record 100 us after the one before
// (10 a millisecond), its count its number in the file.
constexpr uint64_t kScanRecords = 400;
constexpr uint64_t kLongScan = 20;
constexpr uint64_t kLongScanRecords = 9000;
constexpr uint64_t kDeltTime = 10;

constexpr uint64_t ScanStart(uint64_t scan) {
  return scan <= kLongScan ? scan * kScanRecords : kLongScan * kScanRecords + kLongScanRecords + (scan - kLongScan - 1) * kScanRecords;
}
uint64_t ScanOf(uint64_t record) {
  if (record < ScanStart(kLongScan)) return record / kScanRecords;
  if (record < ScanStart(kLongScan + 1)) return kLongScan;
  return kLongScan + 1 + (record - ScanStart(kLongScan + 1)) / kScanRecords;
}

kiv::T_RawRecord RecordAt(uint64_t n) {
  kiv::T_RawRecord record;
  record.count = static_cast<uint16_t>(n);
  record.rawDistance = static_cast<uint16_t>(100 + ScanOf(n));  // every point of scan k at 10 + k/10 m
  record.width = 12;
  record.flags = kiv::T_RawRecord::FlagsOf(static_cast<unsigned>(ScanOf(n) % 2), kDeltTime);
  record.rawSupplyVoltage = 4000;
  record.rawAnaTemp = 3000;
  record.laserPower = 77;
  return record;
}

std::string LineOf(uint64_t n) {
  char line[recording::kCsvLineCapacity];
  return std::string(line, recording::FormatCsvLine(RecordAt(n), line));
}

std::string CsvText(uint64_t records) {
  std::string text = std::string(recording::CsvHeader()) + "\n";
  for (uint64_t n = 0; n < records; ++n) text += LineOf(n);
  return text;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The client stack playing `file` steered, on a manual clock at 1 ms a
// frame; the data path's records and scans kept as they come.
class SteeredReplay : public ::testing::Test {
 protected:
  static constexpr uint64_t kRecords = ScanStart(kLongScan + 50);  // 49 short scans after the long one

  void SetUp() override {
    char pattern[] = "/tmp/skarv-steer-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    previous = fs::current_path();
    fs::current_path(dir);
    std::ofstream("steer.csv", std::ios::binary) << CsvText(kRecords);
  }
  void TearDown() override {
    driver.reset();
    path.reset();
    io.reset();
    UsbLib_SetBackend(nullptr);
    fs::current_path(previous);
    fs::remove_all(dir);
  }

  void Start(double speed = 1.0) {
    bus = std::make_shared<sim::CVirtualBus>(sim::CVirtualBus::Clock::eManual, 70000);
    bus->SetCatchUp(true);
    UsbLib_SetBackend(std::make_shared<CVirtualUsbBackend>(bus));
    const playback::T_ReplayOptions options{(dir / "steer.csv").string(), speed, false, true};
    std::string why;
    auto sensor = playback::MakePlaybackSensor(options, why);
    ASSERT_TRUE(sensor) << why;
    steering = playback::SteerPlayback(*sensor, options, playback::CsvIndexReader(options.file));
    ASSERT_TRUE(steering->Seekable());
    steering->Index()->AwaitComplete();
    io = std::make_unique<CSkarvIO>();
    driver = std::make_unique<playback::CPlaybackDriver>(
        bus, *io, [first = sensor]() mutable { return std::move(first); }, playback::CPlaybackDriver::EAfterSensor::eDone);
    driver->Begin();
    io->Initialize(10);
    io->RequestRecording(true);
    path = std::make_unique<CDataPath>(*io);
    path->SubscribeScans([this](std::shared_ptr<const T_Scan> scan) { scans.push_back(scan->distances); });
    path->SubscribeRecords([this](std::span<const kiv::T_RawRecord> taken) {
      for (const kiv::T_RawRecord& record : taken) counts.push_back(record.count);
    });
    // The controller opens the sensor first; the replay starts with the
    // first frame it reads.
    for (int i = 0; i < 1000 && counts.empty(); ++i) Run(10);
    ASSERT_FALSE(counts.empty());
  }

  // Lets `ms` of bus time pass in steps of 10 ms, the data path taking
  // what each step brought.
  void Run(int ms) {
    for (int t = 0; t < ms && !driver->Done(); t += 10) {
      driver->AwaitSource(1000);
      bus->Advance(10);
      path->Step();
      driver->Poll();
      UsbLib_FlushHotplug();
    }
  }
  void RunToEnd() {
    Run(60000);
    ASSERT_TRUE(driver->Done());
    ASSERT_EQ(driver->Error(), "");
  }
  // The recording the controller made of the replay, once it is closed.
  std::string Recorded() {
    path.reset();
    driver.reset();
    io.reset();
    return ReadText("SkarvData-1.csv");
  }
  // The scan (file's numbering) whose points the data path's scan `i` has,
  // or -1 when its points are not all of one scan.
  long ScanShown(size_t i) const {
    const std::vector<double>& points = scans.at(i);
    for (double d : points) {
      if (d != points.front()) return -1;
    }
    return std::lround(points.front() * 10) - 100;
  }

  fs::path dir, previous;
  CDiagCapture printed;  // the controller's lines, "Skiped records" among them
  std::shared_ptr<sim::CVirtualBus> bus;
  std::unique_ptr<CSkarvIO> io;
  std::unique_ptr<playback::CPlaybackDriver> driver;
  std::unique_ptr<CDataPath> path;
  std::shared_ptr<recording::CReplaySteering> steering;
  std::vector<uint16_t> counts;
  std::vector<std::vector<double>> scans;
};

// Each seek place of the index resumes a fresh reader at exactly its record.
void ExpectEveryEntryResumes(const CRecordingIndex& index, const std::function<std::unique_ptr<CRecordSource>()>& open,
                             uint64_t records) {
  ASSERT_TRUE(index.Complete()) << index.Error();
  EXPECT_EQ(index.Records(), records);
  EXPECT_EQ(index.Duration(), (records - 1) * kDeltTime);
  std::vector<uint64_t> expected;  // the scan starts, and every 4096 records within the long scan
  for (uint64_t scan = 0; ScanStart(scan) < records; ++scan) {
    expected.push_back(ScanStart(scan));
    if (scan == kLongScan) {
      for (uint64_t n = ScanStart(scan) + CRecordingIndex::kMaxSpacing; n < ScanStart(scan + 1); n += CRecordingIndex::kMaxSpacing) {
        expected.push_back(n);
      }
    }
  }
  const std::vector<CRecordingIndex::T_Entry> entries = index.Entries();
  ASSERT_EQ(entries.size(), expected.size());
  std::unique_ptr<CRecordSource> reader = open();
  for (size_t i = 0; i < entries.size(); ++i) {
    const CRecordingIndex::T_Entry& entry = entries[i];
    EXPECT_EQ(entry.record, expected[i]);
    EXPECT_EQ(entry.scanStart, entry.record == ScanStart(ScanOf(entry.record)));
    EXPECT_EQ(entry.time, entry.record * kDeltTime);
    // Back and forth: the last entry first, then each in turn.
    for (const CRecordingIndex::T_Entry& at : {entries.back(), entry}) {
      ASSERT_TRUE(reader->SeekTo(at.at)) << at.record;
      kiv::T_RawRecord record;
      ASSERT_EQ(reader->Next(record), EResult::eRecord);
      EXPECT_TRUE(record.SameWords(RecordAt(at.record))) << "entry at record " << at.record;
    }
  }
  EXPECT_EQ(index.ScanStart(ScanStart(5) + 17, 0), ScanStart(5));
  EXPECT_EQ(index.ScanStart(ScanStart(5) + 17, 2), ScanStart(3));
  EXPECT_EQ(index.ScanStart(ScanStart(kLongScan + 1) - 1, 0), ScanStart(kLongScan)) << "not an entry within the scan";
  EXPECT_EQ(index.ScanStart(10, 3), 0u);
  EXPECT_EQ(index.AtOrBefore(ScanStart(kLongScan) + 5000)->record, ScanStart(kLongScan) + 4096);
}

TEST_F(SteeredReplay, TheIndexHoldsEveryScanStartAndEachPlaceResumesExactlyInCsvAndMcap) {
  const std::string csv = (dir / "steer.csv").string();
  CRecordingIndex index(playback::CsvIndexReader(csv));
  index.AwaitComplete();
  ExpectEveryEntryResumes(index, [&] {
    std::string why;
    return playback::CsvIndexReader(csv)(why);
  }, kRecords);

  // After a seek a bad line is still named by its own line number.
  std::string text = CsvText(kRecords);
  const size_t at = text.find(LineOf(ScanStart(kLongScan) + 4500));
  text.insert(at, "1,2,3\n");  // line 2 + record number
  std::ofstream("bad.csv", std::ios::binary) << text;
  recording::CCsvReader reader("bad.csv");
  ASSERT_TRUE(reader.Open());
  ASSERT_TRUE(reader.SeekTo(index.AtOrBefore(ScanStart(kLongScan) + 4500)->at));
  kiv::T_RawRecord record;
  while (reader.Next(record) == EResult::eRecord) {
  }
  EXPECT_EQ(reader.Error(), "bad.csv:" + std::to_string(ScanStart(kLongScan) + 4500 + 2) + ": 3 fields, expected 18");

  // The same records as MCAP, in several chunks: a place is a chunk and the
  // records of it before.
  constexpr uint64_t kMcapRecords = ScanStart(kLongScan + 120);
  {
    skarvmcap::CMcapRecording mcap(skarvdds::T_DdsOptions{}, "test");
    ASSERT_EQ(mcap.Open("steer.mcap"), 0) << mcap.Error();
    std::vector<kiv::T_RawRecord> update;
    auto now = std::chrono::system_clock::now();
    for (uint64_t n = 0; n < kMcapRecords; ++n) {
      update.push_back(RecordAt(n));
      if (update.size() == 97 || n + 1 == kMcapRecords) {
        now += std::chrono::milliseconds(5);
        mcap.Add(update, now, "TEST");
        update.clear();
      }
    }
    ASSERT_TRUE(mcap.Close()) << mcap.Error();
  }
  const auto openMcap = [] {
    auto source = std::make_unique<skarvmcap::CMcapRecordSource>("steer.mcap");
    EXPECT_TRUE(source->Open()) << source->Error();
    return std::unique_ptr<CRecordSource>(std::move(source));
  };
  CRecordingIndex mcapIndex([&](std::string&) { return openMcap(); });
  mcapIndex.AwaitComplete();
  ExpectEveryEntryResumes(mcapIndex, [&] {
    auto source = openMcap();
    kiv::T_RawRecord first;
    EXPECT_EQ(source->Next(first), EResult::eRecord);  // its records channel is known once a record is read
    return source;
  }, kMcapRecords);
  const std::vector<CRecordingIndex::T_Entry> entries = mcapIndex.Entries();
  EXPECT_NE(entries.front().at.offset, entries.back().at.offset) << "more than one chunk";
  EXPECT_GT(entries.back().at.skip, 0u) << "a place inside a chunk";
}

TEST_F(SteeredReplay, PausedItSendsNothingAndPlaysOnWithoutLossAndItsPaceFollowsTheSpeed) {
  Start();
  Run(300);
  ASSERT_GT(counts.size(), 1000u);
  steering->Pause();
  Run(50);  // what was on its way arrives
  const size_t paused = counts.size();
  Run(2000);
  EXPECT_EQ(counts.size(), paused) << "nothing while paused";
  EXPECT_FALSE(driver->Done()) << "a paused replay is not over";
  EXPECT_EQ(steering->Place().record, counts.back());
  EXPECT_EQ(steering->Place().time, counts.back() * kDeltTime);

  // Records sent in 100 frames at each speed: 10 a millisecond at 1x.
  steering->Play();
  for (double speed : {1.0, 2.0, 0.5, 8.0}) {
    steering->SetSpeed(speed);
    Run(100);
    const uint64_t before = driver->RecordsPlayed();
    Run(100);
    EXPECT_NEAR(static_cast<double>(driver->RecordsPlayed() - before), 100 * 10 * speed, 1) << speed << "x";
  }
  RunToEnd();
  EXPECT_EQ(Occurrences(printed.Text(), "Skiped records"), 0u);
  EXPECT_TRUE(Recorded() == CsvText(kRecords)) << "every record once, in order";
}

TEST_F(SteeredReplay, AStepForwardShowsTheNextScanAndAStepBackTheOneBeforeTheScanShown) {
  Start();
  Run(500);  // into scan 10
  steering->Pause();
  Run(50);
  const size_t before = scans.size();
  const long shown = ScanShown(before - 1);
  ASSERT_GE(shown, 5);
  const auto step = [&](int scansToStep) {
    const size_t had = scans.size();
    steering->StepScans(scansToStep);
    Run(300);
    EXPECT_EQ(scans.size(), had + 1) << "one scan a step";
    EXPECT_EQ(scans.back().size(), kScanRecords);
    return ScanShown(scans.size() - 1);
  };
  EXPECT_EQ(step(1), shown + 1);
  // Stopped on the record that completes the scan: the next one's start.
  EXPECT_EQ(counts.back(), ScanStart(static_cast<uint64_t>(shown) + 2));
  EXPECT_EQ(steering->Place().record, counts.back());
  EXPECT_EQ(step(1), shown + 2);
  EXPECT_EQ(step(-1), shown + 1);
  EXPECT_EQ(counts.back(), ScanStart(static_cast<uint64_t>(shown) + 2));
  EXPECT_EQ(step(-1), shown);
  EXPECT_EQ(step(1), shown + 1);
  EXPECT_TRUE(steering->Paused());
  // Each step back is one seek, and so one gap.
  EXPECT_EQ(Occurrences(printed.Text(), "Skiped records"), 2u);
  // A stop while paused is not held up by the pause: what was read ahead
  // is played out, and the replay is over.
  driver->EndSources();
  RunToEnd();
}

TEST_F(SteeredReplay, ASeekIsOneGapInTheRecordingOfTheReplayWhichHoldsExactlyTheRecordsPlayed) {
  Start();
  Run(200);
  steering->SeekToRecord(ScanStart(kLongScan) + 5000);  // within the long scan, between two index entries
  Run(100);
  steering->SeekToRecord(1234);  // back
  Run(100);
  steering->Pause();
  steering->SeekToRecord(ScanStart(kLongScan + 2) + 7);  // while paused: it waits there
  Run(100);
  steering->Play();
  RunToEnd();

  // The played records: runs of consecutive record numbers, each starting
  // at the record a seek went to.
  std::vector<std::pair<uint64_t, uint64_t>> runs;  // first and last record of each
  for (size_t i = 0; i < counts.size(); ++i) {
    if (i == 0 || counts[i] != static_cast<uint16_t>(counts[i - 1] + 1)) runs.push_back({counts[i], counts[i]});
    runs.back().second = counts[i];
  }
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].first, 0u);
  EXPECT_EQ(runs[1].first, ScanStart(kLongScan) + 5000);
  EXPECT_EQ(runs[2].first, 1234u);
  EXPECT_EQ(runs[3].first, ScanStart(kLongScan + 2) + 7);
  EXPECT_EQ(runs[3].second, kRecords - 1);
  EXPECT_EQ(Occurrences(printed.Text(), "Skiped records"), 3u) << "one gap a seek";

  std::string expected = std::string(recording::CsvHeader()) + "\n";
  for (const auto& [first, last] : runs) {
    for (uint64_t n = first; n <= last; ++n) expected += LineOf(n);
  }
  EXPECT_TRUE(Recorded() == expected) << "the records played, in the order played";
}

}  // namespace
