// A long run of the data path on the virtual sensor's manual clock: the
// sensor is unplugged and plugged back a thousand times while recording, with
// faults injected at random. Afterwards the recording must hold every sample
// that reached the client, in order, and the process must not have grown.
// SKARV_SOAK_CYCLES overrides the number of cycles.

#include <cstdlib>
#include <fstream>
#include <random>

#include "EndToEndFixture.h"

namespace {

// The sample counts of a cycle, kept compactly (the run's memory must not
// be what the test measures) as runs of consecutive counts.
struct CCountRuns {
  std::vector<std::pair<uint16_t, uint32_t>> runs;  // first count, length
  size_t total = 0;

  void Add(uint16_t count) {
    if (runs.empty() || static_cast<uint16_t>(runs.back().first + runs.back().second) != count) {
      runs.emplace_back(count, 0);
    }
    ++runs.back().second;
    ++total;
  }
  uint16_t Last() const { return static_cast<uint16_t>(runs.back().first + runs.back().second - 1); }
};

// The sample counts of one packet as the client keeps them: a count that
// does not follow the one before it ends what is kept of that packet.
void KeepDecodable(const uint8_t* data, size_t length, CCountRuns& kept) {
  for (size_t at = 28; at + 8 <= length; at += 8) {
    const uint16_t count = static_cast<uint16_t>(data[at] << 8 | data[at + 1]);
    if (at > 28 && count != static_cast<uint16_t>(kept.Last() + 1)) {
      return;
    }
    kept.Add(count);
  }
}

long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * 4;
}

class Soak : public EndToEndFixture {
 protected:
  void SetUp() override {
    EndToEndFixture::SetUp();
    // Replace the fixture's observer: here samples are kept cycle by cycle.
    bus->SetPacketObserver([this](uint32_t, uint8_t, const uint8_t* data, size_t length) {
      std::lock_guard<std::mutex> lock(sentMutex);
      KeepDecodable(data, length, perCycle.back());
    });
  }

  void NewCycle() {
    std::lock_guard<std::mutex> lock(sentMutex);
    perCycle.emplace_back();
  }

  std::vector<CCountRuns> perCycle{1};
};

TEST_F(Soak, ThousandReplugsWithFaultsLoseNothingThatArrived) {
  const char* configured = std::getenv("SKARV_SOAK_CYCLES");
  const int cycles = configured ? std::atoi(configured) : 1000;
  std::mt19937 random(12345);
  [[maybe_unused]] long residentAfterWarmUp = 0;
  controller->RequestRecording(true);

  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle > 0) {
      NewCycle();
      Quietly([&] {
        bus->Plug(sensor);
        ASSERT_TRUE(UsbLib_FlushHotplug());
      });
    }
    // The stream starts 1320 frames after the sensor is opened and its first
    // transfer ends 16 frames later. Once it flows, a fault at random, then
    // a varying part of a ring's worth more.
    Run(1340);
    const unsigned fault = random() % 6;
    switch (fault) {
      case 0: sensor->DropSamples(1 + random() % 50); break;
      case 1: sensor->BreakSequenceInNextFrame(); break;
      case 2: sensor->ShortenNextFrames(1 + random() % 3, 28 + 8 * (random() % 10)); break;
      case 3: bus->InjectTransferErrors(0x82, 1); break;
      default: break;
    }
    Run(10 * (1 + random() % 20));
    Quietly([&] {
      bus->Unplug(sensor);
      ASSERT_TRUE(UsbLib_FlushHotplug());
    });
    Run(10);  // the clean-up
    ASSERT_EQ(controller->mPort.mUSBHandle.load(), nullptr);
    ASSERT_NE(controller->mSaveFile.load(), nullptr) << "the recording spans every removal";
    if (cycle == std::min(cycles - 1, 50)) {
      residentAfterWarmUp = ResidentKilobytes();
    }
  }
  controller->RequestRecording(false);
  Quietly([&] {
    bus->Plug(sensor);
    ASSERT_TRUE(UsbLib_FlushHotplug());
  });
  NewCycle();
  Run(10);
  ASSERT_EQ(controller->mSaveFile.load(), nullptr);

  // Each cycle's samples are in the file, in order; only the tail of a cycle
  // may be missing: what was still in the transfers when the cable went.
  const std::vector<uint16_t> recorded = RecordedCounts("SkarvData-1.csv");
  const size_t ringSamples = 10 * 16 * 40;
  size_t at = 0;
  size_t expectedTotal = 0;
  std::lock_guard<std::mutex> lock(sentMutex);
  for (size_t c = 0; c + 1 < perCycle.size(); ++c) {
    const CCountRuns& sentCounts = perCycle[c];
    expectedTotal += sentCounts.total;
    size_t matched = 0;
    bool diverged = false;
    for (const auto& [first, length] : sentCounts.runs) {
      for (uint32_t i = 0; i < length && !diverged; ++i) {
        if (at < recorded.size() && recorded[at] == static_cast<uint16_t>(first + i)) {
          ++matched;
          ++at;
        } else {
          diverged = true;
        }
      }
    }
    ASSERT_GT(matched, 0u) << "cycle " << c << " recorded nothing; it sent " << sentCounts.total
                           << ", the file has " << (at < recorded.size() ? recorded[at] : -1) << " at line " << at + 2;
    ASSERT_GE(matched + ringSamples, sentCounts.total) << "cycle " << c << " lost samples before its end";
  }
  EXPECT_EQ(at, recorded.size()) << "lines that the sensor never sent";
  EXPECT_GT(recorded.size(), expectedTotal / 2);

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Sanitizers keep freed memory aside on purpose; measure the plain build only.
  const long growth = ResidentKilobytes() - residentAfterWarmUp;
  EXPECT_LT(growth, 16 * 1024) << "resident memory grew by " << growth << " kB";
#endif
}

}  // namespace
