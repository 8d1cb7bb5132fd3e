// The trend store: the panel's readings of every record, bucketed by the
// sensor's time with the gaps counted, and the columns and files made of it.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "TrendCsv.h"
#include "TrendHistory.h"
#include "TrendStore.h"
#include "device/ControllerTestHelpers.h"

namespace {

using trends::CTrendHistory;
using trends::CTrendStore;
using trends::T_Bucket;

// `count` records of `distance`, `deltTime` units apart, counts from `first`.
std::vector<Record> Steady(size_t count, double distance, int deltTime, uint16_t first = 0) {
  std::vector<Record> records(count, MakeRecord(distance, 40, 0, deltTime));
  for (size_t i = 0; i < count; ++i) records[i].count = static_cast<uint16_t>(first + i);
  return records;
}

using TrendStoreMatchesPanel = ControllerFixture;

// Each record alone in its bucket (10 ms apart): every bucket holds exactly
// what the controller's getters return after that record.
TEST_F(TrendStoreMatchesPanel, EveryReadingIsThePanels) {
  std::mt19937 random(7);
  CTrendStore store;
  std::vector<Record> records;
  for (int i = 0; i < 300; ++i) {
    Record record = MakeRecord(0.0, 0, 0, 1000);
    record.count = static_cast<uint16_t>(i);
    // Now and then out of range, laser off, or too wide.
    record.rawDistance = static_cast<uint16_t>(i % 37 == 0 ? 60000 : random() % 22000);
    record.width = static_cast<uint16_t>(i % 41 == 0 ? 301 : random() % 300);
    record.rawAnaTemp = static_cast<uint16_t>(random());
    record.rawSupplyVoltage = static_cast<uint16_t>(random());
    for (uint16_t& word : record.imu) word = static_cast<uint16_t>(random());
    records.push_back(record);
  }
  std::vector<T_Bucket> buckets;
  for (const Record& record : records) {
    Feed(record);
    store.Add({&record, 1});
    buckets.clear();
    ASSERT_EQ(store.CopyFrom(store.Newest(), buckets), 1u);
    const T_Bucket& b = buckets.front();
    ASSERT_EQ(b.records, 1u);
    auto expect = [&](int channel, double panel) {
      EXPECT_EQ(b.min[channel], static_cast<float>(panel)) << trends::ChannelName(channel) << " record " << record.count;
      EXPECT_EQ(b.max[channel], static_cast<float>(panel)) << trends::ChannelName(channel);
      EXPECT_DOUBLE_EQ(b.Mean(channel), panel) << trends::ChannelName(channel);
    };
    expect(trends::eDistance, io->GetCurDistance());
    expect(trends::eFiltered, io->GetFilteredDist());
    expect(trends::eStdDev, io->GetStdDev());
    expect(trends::eWidth, io->GetCurWidth());
    expect(trends::eLaserTemp, io->GetTemperature());
    expect(trends::eImuTemp, io->GetTemperatureIMU());
    expect(trends::eSupply, io->GetSupplyVoltage());
    expect(trends::eAccelX, io->GetAccelX());
    expect(trends::eAccelY, io->GetAccelY());
    expect(trends::eAccelZ, io->GetAccelZ());
    expect(trends::eGyroX, io->GetGyroX());
    expect(trends::eGyroY, io->GetGyroY());
    expect(trends::eGyroZ, io->GetGyroZ());
    expect(trends::eMagX, io->GetMagnX());
    expect(trends::eMagY, io->GetMagnY());
    expect(trends::eMagZ, io->GetMagnZ());
  }
}

// Time is the sum of DeltTime; records lost in a gap are counted, and each
// is taken to have lasted as long as the one before it.
TEST(TrendStore, BucketsBySensorTimeAndCountsGaps) {
  CTrendStore store;
  EXPECT_EQ(store.Newest(), -1);
  std::vector<Record> records = Steady(8, 100.0, 250);  // 4 a bucket: at 250, 500, ... 2000 units
  // Records 8 to 10 are lost; 11 follows 7, so the time runs on by 4 x 250.
  for (Record& record : Steady(4, 100.0, 250, 11)) records.push_back(record);
  // Two frames in one bucket: the header's readings of both are taken.
  records[1].rawAnaTemp = 1000;
  records[2].rawAnaTemp = 3000;
  store.Add(records);
  std::vector<T_Bucket> buckets;
  store.CopyFrom(0, buckets);
  // Times 250..1750 in buckets 0 and 1; 2000 in 2; after the gap 3000..3750 in 3.
  ASSERT_EQ(buckets.size(), 4u);
  EXPECT_EQ(buckets[0].index, 0);
  EXPECT_EQ(buckets[0].records, 3u);
  EXPECT_EQ(buckets[0].min[trends::eLaserTemp], static_cast<float>(-27.0));
  EXPECT_EQ(buckets[0].max[trends::eLaserTemp], static_cast<float>(3000 * 0.01162 - 27.0));
  EXPECT_DOUBLE_EQ(buckets[0].Mean(trends::eLaserTemp), (-27.0 + (1000 * 0.01162 - 27.0) + (3000 * 0.01162 - 27.0)) / 3);
  EXPECT_EQ(buckets[1].records, 4u);
  EXPECT_EQ(buckets[2].index, 2);
  EXPECT_EQ(buckets[2].records, 1u);
  EXPECT_EQ(buckets[3].index, 3);
  EXPECT_EQ(buckets[3].records, 4u);
  EXPECT_EQ(buckets[3].gaps, 1u);
  EXPECT_EQ(buckets[3].missing, 3u);
  EXPECT_EQ(buckets[2].gaps + buckets[1].gaps + buckets[0].gaps, 0u);

  // A sensor opened again starts its counts anew: a gap, but no second of
  // lost time (40,000 records) is made up.
  store.Add(Steady(4, 100.0, 250, 40000));
  buckets.clear();
  store.CopyFrom(4, buckets);
  ASSERT_EQ(buckets.size(), 1u);
  EXPECT_EQ(buckets[0].index, 4);
  EXPECT_EQ(buckets[0].gaps, 1u);
  EXPECT_EQ(buckets[0].missing, 40000u - 15u);
}

// A ring of 64 s: after more, the oldest are gone and a late reader gets
// what is left; a jump in time leaves the buckets between empty.
TEST(TrendStore, KeepsTheLastMinuteAndAMargin) {
  CTrendStore store;
  const std::vector<Record> records = Steady(7000, 500.0, 1000);
  store.Add(records);
  EXPECT_EQ(store.Newest(), 7000);
  std::vector<T_Bucket> buckets;
  EXPECT_EQ(store.CopyFrom(0, buckets), static_cast<size_t>(CTrendStore::kBuckets));
  EXPECT_EQ(buckets.front().index, 7000 - CTrendStore::kBuckets + 1);
  EXPECT_EQ(buckets.back().index, 7000);

  Record late = MakeRecord(500.0, 40, 0, 16000);  // 160 ms later: 15 empty buckets between
  late.count = static_cast<uint16_t>(7000);
  store.Add({&late, 1});
  buckets.clear();
  EXPECT_EQ(store.CopyFrom(6999, buckets), 3u);
  EXPECT_EQ(buckets.back().index, 7016);
}

// The columns: however many buckets a column covers, a single record's
// spike is in the extremes of the column holding its time, and nowhere else.
TEST(TrendHistory, ASpikeOfOneRecordShowsInItsColumnAtEverySpan) {
  CTrendStore store;
  std::vector<Record> records = Steady(24000, 500.0, 250);  // 60 s at 4 a bucket
  const size_t spike = 22000;                               // at 5,500,250 units: in bucket 5500
  records[spike].rawDistance = 15000;
  store.Add(records);
  CTrendHistory history;
  ASSERT_TRUE(history.Pull(store));
  EXPECT_FALSE(history.Pull(store));  // nothing new
  const int64_t newest = history.Newest();
  ASSERT_EQ(newest, 6000);
  for (const int64_t span : {1000, 3000, 6000}) {
    for (const int width : {333, 640, 1500}) {
      const std::vector<trends::T_Column> columns = history.Columns(span, width);
      ASSERT_EQ(columns.size(), static_cast<size_t>(width));
      int spikes = 0;
      for (const trends::T_Column& column : columns) {
        const bool holds = column.firstBucket <= 5500 && 5500 < column.endBucket;
        EXPECT_EQ(column.max[trends::eDistance], holds ? 1500.0f : 500.0f) << span << " " << width;
        EXPECT_EQ(column.min[trends::eDistance], 500.0f);
        spikes += holds;
      }
      // A bucket wider than a column is in each column it spans.
      EXPECT_GE(spikes, 1) << span << " " << width;
      EXPECT_LE(spikes, std::max<int64_t>(1, (width + span - 1) / span)) << span << " " << width;
      EXPECT_EQ(columns.back().endBucket, newest + 1);
      EXPECT_EQ(columns.front().firstBucket, newest + 1 - span);
      EXPECT_NEAR(columns[10].RecordsPerSecond(), 400.0, 1e-6);
    }
  }
}

// The data path adds while a window copies, on two threads: each copy is of
// whole buckets (the newest with every record added so far), in order.
TEST(TrendHistory, CopiesWhileTheDataPathAdds) {
  CTrendStore store;
  std::atomic<bool> done{false};
  std::atomic<int> pulls{0};
  std::thread dataPath([&] {
    uint16_t count = 0;
    for (int update = 0; update < 2000; ++update) {
      std::vector<Record> records = Steady(40, 500.0, 250, count);  // 10 ms of records
      count = static_cast<uint16_t>(count + 40);
      store.Add(records);
      // Every 50 updates, until the reader has copied again: the two
      // threads take turns however fast either runs.
      while (pulls.load() < update / 50) std::this_thread::yield();
    }
    done = true;
  });
  CTrendHistory history;
  while (!done || history.Newest() < store.Newest()) {
    if (!history.Pull(store)) continue;
    ++pulls;
    const std::vector<T_Bucket> held = history.Buckets(0, history.Newest() + 1);
    for (size_t i = 0; i + 1 < held.size(); ++i) {
      ASSERT_LT(held[i].index, held[i + 1].index);
      // A whole bucket (the first, from 250 units on, holds three).
      ASSERT_EQ(held[i].records, held[i].index == 0 ? 3u : 4u) << held[i].index;
      ASSERT_EQ(held[i].gaps, 0u);
    }
  }
  dataPath.join();
  history.Pull(store);
  EXPECT_GE(pulls.load(), 2000 / 50 - 1);
  EXPECT_EQ(history.Newest(), 2000 * 40 * 250 / 1000);
}

TEST(TrendCsv, HoldsOneLineABucketAndSaysWhyItCannotBeWritten) {
  CTrendStore store;
  store.Add(Steady(8, 123.4, 500));
  std::vector<T_Bucket> buckets;
  store.CopyFrom(0, buckets);
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "skarv-trends-test.csv";
  std::string error;
  ASSERT_TRUE(trends::WriteTrendCsv(path.string(), buckets, error)) << error;
  std::ifstream in(path);
  std::string header;
  std::getline(in, header);
  EXPECT_EQ(header.rfind("time_s,records,gaps,missing,distance_min,distance_max,distance_mean,", 0), 0u);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), buckets.size());
  EXPECT_EQ(lines[0].rfind("0.00,1,0,0,123.400002,123.400002,123.4,", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("0.01,2,0,0,", 0), 0u) << lines[1];
  std::filesystem::remove(path);

  EXPECT_FALSE(trends::WriteTrendCsv("/nonexistent-folder/trends.csv", buckets, error));
  EXPECT_EQ(error, "cannot create /nonexistent-folder/trends.csv: No such file or directory");
}

}  // namespace
