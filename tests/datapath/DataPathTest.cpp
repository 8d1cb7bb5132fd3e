// The data path with no windows: stepped by hand and on its own worker,
// over the virtual sensor on the manual clock, handing its subscribers every
// record and each completed scan.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "DataPath.h"
#include "device/EndToEndFixture.h"

namespace {

using DataPath = EndToEndFixture;

// The sizes in the dataLength lines of `out`, in order.
std::vector<int> PrintedScanSizes(const std::string& out) {
  const std::string prefix = "+++++++++++++++ SkarvIO dataLength = ";
  std::vector<int> sizes;
  for (size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at + 1)) {
    int size = 0;
    char end = 0;
    if (std::sscanf(out.c_str() + at + prefix.size(), "%d%c", &size, &end) == 2 && end == '\n') {
      sizes.push_back(size);
    }
  }
  return sizes;
}

// `counts` are the samples of `sent` from the first of them on, none missing.
void ExpectSentInOrder(const std::vector<uint16_t>& counts, const std::vector<uint16_t>& sent) {
  ASSERT_FALSE(counts.empty());
  const auto start = std::find(sent.begin(), sent.end(), counts.front());
  ASSERT_NE(start, sent.end());
  const size_t offset = static_cast<size_t>(start - sent.begin());
  ASSERT_LE(offset + counts.size(), sent.size());
  for (size_t i = 0; i < counts.size(); ++i) {
    ASSERT_EQ(counts[i], sent[offset + i]) << "record " << i;
  }
}

TEST_F(DataPath, SteppedHandsEveryRecordAndEachCompletedScanToItsSubscribers) {
  CDataPath path(*controller);
  std::vector<uint16_t> counts;
  std::vector<std::shared_ptr<const T_Scan>> scans;
  std::vector<std::shared_ptr<const T_Scan>> secondSubscriber;
  path.SubscribeRecords([&](std::span<const kiv::T_RawRecord> records) {
    for (const kiv::T_RawRecord& record : records) counts.push_back(record.count);
  });
  path.SubscribeScans([&](std::shared_ptr<const T_Scan> scan) { scans.push_back(scan); });
  path.SubscribeScans([&](std::shared_ptr<const T_Scan> scan) { secondSubscriber.push_back(scan); });

  const std::string out = Quietly([&] {
    for (int t = 0; t < 3000; t += 10) {
      bus->Advance(10);
      path.Step();
    }
  });

  // Every sample the sensor sent, in order, from the first one collected on.
  ASSERT_GT(counts.size(), 1000u);
  ExpectSentInOrder(counts, Sent());

  // One dataLength line per scan handed on, with its size; both subscribers
  // get the same copy.
  ASSERT_GE(scans.size(), 2u);
  EXPECT_EQ(secondSubscriber, scans);
  const std::vector<int> printed = PrintedScanSizes(out);
  ASSERT_EQ(printed.size(), scans.size()) << out;
  for (size_t i = 0; i < scans.size(); ++i) {
    EXPECT_EQ(static_cast<int>(scans[i]->distances.size()), printed[i]);
    EXPECT_EQ(scans[i]->widths.size(), scans[i]->distances.size());
    EXPECT_GT(scans[i]->distances.size(), 2u);
  }
  // The last copy is the controller's last completed scan.
  const T_Scan& last = *scans.back();
  ASSERT_EQ(static_cast<int>(last.distances.size()), controller->mFoundScanSize);
  EXPECT_TRUE(std::equal(last.distances.begin(), last.distances.end(), controller->mLastScanDist));
  EXPECT_TRUE(std::equal(last.widths.begin(), last.widths.end(), controller->mLastScanWidth));
}

TEST_F(DataPath, SteppedLateAtTheTopRateLosesNoRecord) {
  // 3600 rpm: 120 samples a millisecond, so one step every 100 ms finds
  // 12000 records, more than the data pipe's storage holds at once.
  Quietly([&] {
    controller->HandleStatusPipe();
    controller->HandleStatusPipe();
    controller->HandleStatusPipe();
    WaitIdle(controller->mCmdPipe);
    controller->SetRotationRate(3600);
  });
  ASSERT_EQ(sensor->RotationRpm(), 3600u);
  CDataPath path(*controller);
  std::vector<uint16_t> counts;
  size_t largestUpdate = 0;
  path.SubscribeRecords([&](std::span<const kiv::T_RawRecord> records) {
    largestUpdate = std::max(largestUpdate, records.size());
    for (const kiv::T_RawRecord& record : records) counts.push_back(record.count);
  });

  const std::string out = Quietly([&] {
    for (int t = 0; t < 3000; t += 100) {
      bus->Advance(100);
      path.Step();
    }
  });

  EXPECT_EQ(out.find("Skiped records"), std::string::npos) << out;
  EXPECT_LE(largestUpdate, static_cast<size_t>(CUSBKivDataPipe::kRecordCapacity));
  // The stream starts 1320 frames after the sensor is opened; from there on
  // every sample sent was handed on, but for the transfers still in flight.
  EXPECT_GT(counts.size(), (3000u - 1320u - 160u) * 120u);
  ExpectSentInOrder(counts, Sent());
}

TEST_F(DataPath, OwnWorkerDeliversScansAndRecordsAndEndsWithItsDoneLine) {
  std::mutex lock;
  std::condition_variable arrived;
  int scans = 0;
  std::atomic<size_t> records{0};
  std::atomic<bool> onOtherThread{true};
  const std::thread::id testThread = std::this_thread::get_id();

  const std::string out = Quietly([&] {
    CDataPath path(*controller);
    path.SubscribeRecords([&](std::span<const kiv::T_RawRecord> batch) {
      if (std::this_thread::get_id() == testThread) onOtherThread = false;
      records += batch.size();
    });
    path.SubscribeScans([&](std::shared_ptr<const T_Scan>) {
      std::lock_guard<std::mutex> guard(lock);
      ++scans;
      arrived.notify_all();
    });
    path.Start();
    EXPECT_TRUE(path.Running());
    // The bus moves only as the test advances it; the worker collects what
    // it sent at its own pace.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::unique_lock<std::mutex> guard(lock);
    while (scans < 3 && std::chrono::steady_clock::now() < deadline) {
      guard.unlock();
      bus->Advance(10);
      guard.lock();
      arrived.wait_for(guard, std::chrono::milliseconds(2));
    }
    guard.unlock();
    path.Stop();
    EXPECT_FALSE(path.Running());
  });

  EXPECT_GE(scans, 3);
  EXPECT_GT(records.load(), 1000u);
  EXPECT_TRUE(onOtherThread.load());
  EXPECT_GE(PrintedScanSizes(out).size(), 3u);
  const std::string done = "View Thread Done....\n";
  ASSERT_GE(out.size(), done.size());
  EXPECT_EQ(out.substr(out.size() - done.size()), done) << out;
  EXPECT_EQ(out.find(done), out.size() - done.size()) << "printed once";
}

}  // namespace
