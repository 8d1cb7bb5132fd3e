// The subscription's side of DDS in this process, over the loopback
// interface: a feed that checks what a hostile publisher sends and follows
// one publisher at a time; one that falls behind a publisher at full speed
// keeps its memory bounded by making the writer wait, and loses nothing; and
// a subscriber that stood still catches up within 2 s of running again.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "DataPath.h"
#include "DiagCapture.h"
#include "DdsTestSupport.h"
#include "RecordFeed.h"
#include "SkarvIO.h"
#include "SubscribeSetup.h"
#include "TestSupport.h"
#include "UsbLibrary.h"

namespace {

using std::chrono::seconds;
using Result = sim::CRecordSource::EResult;

// The counts of the records `session` holds now, until it has `expected`
// (or ends, or 30 s pass).
std::vector<uint16_t> Counts(sim::CRecordSource& session, size_t expected, Result* end = nullptr) {
  std::vector<uint16_t> counts;
  const auto deadline = std::chrono::steady_clock::now() + seconds(30);
  while (counts.size() < expected && std::chrono::steady_clock::now() < deadline) {
    sim::T_PlaybackRecord record;
    const Result result = session.Next(record);
    if (result == Result::eRecord) {
      counts.push_back(record.count);
    } else if (result == Result::eEnd) {
      if (end) *end = result;
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return counts;
}

std::vector<uint16_t> Range(uint32_t first, uint32_t n) {
  std::vector<uint16_t> counts;
  for (uint32_t i = 0; i < n; ++i) counts.push_back(static_cast<uint16_t>(first + i));
  return counts;
}

std::shared_ptr<skarvdds::CFeedSession> NextSession(skarvdds::CRecordFeed& feed) {
  const auto deadline = std::chrono::steady_clock::now() + seconds(30);
  std::shared_ptr<skarvdds::CFeedSession> session;
  while (!(session = feed.TakeSession()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return session;
}

TEST(DdsFeed, AHostilePublisherIsCheckedAndASecondOneIgnoredUntilTheFirstIsGone) {
  ddstest::UseLoopback(50);
  const std::string ns = ddstest::UniqueNamespace("hostile");
  std::string error;
  skarvdds::CDdsParticipant participant;
  ASSERT_TRUE(participant.Open(error)) << error;
  std::string printed;
  {
    const CDiagCapture capture;
    skarvdds::CRecordFeed feed(ns);
    ASSERT_TRUE(feed.Active()) << feed.Error();
    auto first = std::make_unique<ddstest::CBatchWriter>(ns, "publisher A", participant);
    ddstest::CBatchWriter second(ns, "publisher B", participant);
    ASSERT_TRUE(ddstest::WaitUntil([&] { return feed.MatchedPublishers() == 2; }, seconds(30)));

    const auto written = [&](auto counter, uint64_t value) {
      EXPECT_TRUE(ddstest::WaitUntil([&] { return (feed.*counter)() >= value; }, seconds(30)));
    };
    first->Write(0, 0, 10);
    first->Write(1, 10, 10);
    first->Write(1, 10, 10);  // the same batch twice more
    first->Write(1, 10, 10);
    written(&skarvdds::CRecordFeed::RepeatedBatches, 2);
    second.Write(0, 500, 10);  // another sensor in the namespace
    second.Write(1, 510, 10);
    first->Write(4, 40, 10);  // batches 2 and 3 never come
    first->Write(3, 30, 10);  // and 3 comes after 4: backwards
    first->Write(5, 50, 10, [](auto& r) {
      if (r.count == 52) r.scan_state = 2;
      if (r.count == 55) r.delt_time = 16384;
    });
    written(&skarvdds::CRecordFeed::RefusedRecords, 2);
    first->Write(0, 1000, 10);  // restarted: its numbers from 0 again
    written(&skarvdds::CRecordFeed::Restarts, 1);

    auto session = NextSession(feed);
    ASSERT_TRUE(session);
    std::vector<uint16_t> expected = Range(0, 20);
    for (uint16_t count : Range(40, 20)) {
      if (count != 52 && count != 55) expected.push_back(count);
    }
    Result end = Result::eRecord;
    EXPECT_EQ(Counts(*session, expected.size() + 1, &end), expected) << "no repeat, nothing backwards, no bad word";
    EXPECT_EQ(end, Result::eEnd) << "the restart ends the stream";
    auto restarted = NextSession(feed);
    ASSERT_TRUE(restarted);
    EXPECT_EQ(Counts(*restarted, 10), Range(1000, 10));

    // The first publisher goes; the second is followed from its next batch.
    first.reset();
    EXPECT_EQ(Counts(*restarted, 1, &end), std::vector<uint16_t>{});
    EXPECT_EQ(end, Result::eEnd) << "its publisher is gone";
    second.Write(2, 520, 10);
    auto third = NextSession(feed);
    ASSERT_TRUE(third);
    EXPECT_EQ(Counts(*third, 10), Range(520, 10));

    EXPECT_EQ(feed.LostBatches(), 2u);
    EXPECT_EQ(feed.RepeatedBatches(), 3u);
    EXPECT_EQ(feed.RefusedRecords(), 2u);
    EXPECT_EQ(feed.Restarts(), 1u);
    EXPECT_EQ(feed.PublishersFollowed(), 3u);
    EXPECT_EQ(feed.Summary(), "From rt/" + ns +
                                  "/records: 2 batches lost, 3 repeated batches dropped, 2 records refused, "
                                  "1 restart of the publisher");
    printed = capture.Text();
  }
  // One line for each kind of fault, naming the publishers.
  EXPECT_EQ(Occurrences(printed, "Another publisher of rt/" + ns +
                                     "/records, publisher B, is ignored while publisher A is followed.\n"),
            1u)
      << printed;
  EXPECT_EQ(Occurrences(printed, "A batch from publisher A came again and is dropped: batch 1 after batch 1.\n"), 1u);
  EXPECT_EQ(Occurrences(printed, "Batches from publisher A were lost: batch 4 came after batch 1.\n"), 1u);
  EXPECT_EQ(Occurrences(printed, "Records from publisher A with scan_state out of range (0 to 1) are refused"), 1u);
  EXPECT_EQ(Occurrences(printed, "Records from publisher A with delt_time out of range (0 to 16383) are refused"), 1u);
  EXPECT_EQ(Occurrences(printed, "publisher A has restarted (its batches are numbered from 0 again).\n"), 1u);
  EXPECT_EQ(Occurrences(printed, "publisher A has stopped publishing rt/" + ns + "/records.\n"), 1u);
  EXPECT_EQ(Occurrences(printed, "Following the records of "), 3u);
}

TEST(DdsFeed, AFeedThatFallsBehindKeepsItsMemoryBoundedByMakingTheWriterWait) {
  ddstest::UseLoopback(50);
  const std::string ns = ddstest::UniqueNamespace("bounded");
  std::string error;
  skarvdds::CDdsParticipant participant;
  ASSERT_TRUE(participant.Open(error)) << error;
  skarvdds::CRecordFeed feed(ns);
  ASSERT_TRUE(feed.Active()) << feed.Error();
  ddstest::CBatchWriter writer(ns, "a fast publisher", participant);
  ASSERT_TRUE(ddstest::WaitUntil([&] { return feed.MatchedPublishers() == 1; }, seconds(30)));

  // Three times what the feed and its reader may hold, written as fast as
  // DDS takes it; a write held up past its blocking time is tried again.
  constexpr uint32_t kBatch = 4096;
  const uint32_t batches = static_cast<uint32_t>(3 * (skarvdds::CRecordFeed::kMaxQueuedRecords / kBatch +
                                                      skarvdds::CRecordFeed::kReaderBatches));
  std::atomic<uint32_t> timeouts{0};
  std::atomic<uint32_t> sent{0};
  std::thread publisher([&] {
    for (uint32_t b = 0; b < batches; ++b) {
      dds_return_t result;
      int tries = 0;
      while ((result = writer.Write(b, b * kBatch, kBatch)) == DDS_RETCODE_TIMEOUT && ++tries < 120) ++timeouts;
      if (result != DDS_RETCODE_OK) return;
      ++sent;
    }
  });
  // Nobody plays the records yet: the writer is made to wait.
  ASSERT_TRUE(ddstest::WaitUntil([&] { return timeouts.load() > 0 || sent.load() == batches; }, seconds(60)));
  EXPECT_GT(timeouts.load(), 0u) << "the writer never waited";
  EXPECT_LE(feed.PeakQueuedRecords(), skarvdds::CRecordFeed::kMaxQueuedRecords + kBatch);

  // Once played, every record comes, in order.
  auto session = NextSession(feed);
  ASSERT_TRUE(session);
  const std::vector<uint16_t> counts = Counts(*session, size_t{batches} * kBatch);
  publisher.join();
  ASSERT_EQ(sent.load(), batches);
  ASSERT_EQ(counts.size(), size_t{batches} * kBatch);
  for (size_t i = 0; i < counts.size(); ++i) ASSERT_EQ(counts[i], static_cast<uint16_t>(i)) << i;
  EXPECT_LE(feed.PeakQueuedRecords(), skarvdds::CRecordFeed::kMaxQueuedRecords + kBatch);
  EXPECT_EQ(feed.LostBatches(), 0u);
}

// On the manual clock: the subscriber's data path stands still while 5 s of
// the sensor's records arrive, as a stopped or starved process would; once
// it runs again, 2 s of its steps take them all.
TEST(DdsSubscription, AStoppedSubscriberCatchesUpWithin2sOfRunningAgain) {
  ddstest::UseLoopback(50);
  const std::string ns = ddstest::UniqueNamespace("catchup");
  char pattern[] = "/tmp/skarv-dds-catchup-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  std::string error;
  skarvdds::CDdsParticipant participant;
  ASSERT_TRUE(participant.Open(error)) << error;
  {
    T_SubscribeSetup remote;
    auto io = std::make_unique<CSkarvIO>();
    ASSERT_TRUE(UseSubscription(ns, *io, remote, error, sim::CVirtualBus::Clock::eManual)) << error;
    auto path = std::make_unique<CDataPath>(*io);
    ddstest::CBatchWriter writer(ns, "a live publisher", participant);
    ASSERT_TRUE(ddstest::WaitUntil([&] { return remote.feed->MatchedPublishers() == 1; }, seconds(30)));
    const auto step = [&](int steps) {
      for (int i = 0; i < steps; ++i) {
        remote.bus->Advance(CDataPath::kTickMs);
        path->Step();
        remote.driver->Poll();
        UsbLib_FlushHotplug();
      }
    };
    // 400 records an update, as the sensor sends them at its power-up rate.
    uint32_t written = 0;
    const auto publish = [&](int updates) {
      for (int u = 0; u < updates; ++u, written += 400) {
        ASSERT_EQ(writer.Write(written / 400, written, 400), DDS_RETCODE_OK);
      }
      ASSERT_TRUE(ddstest::WaitUntil([&] { return remote.feed->RecordsReceived() == written; }, seconds(60)));
    };
    const auto processed = [&] { return io->GetDeviceStatus().RecordsProcessed; };
    Quietly([&] {
      io->Initialize(10);
      UsbLib_FlushHotplug();
      io->RequestRecording(true);
      publish(50);
      for (int i = 0; i < 300 && processed() < written; ++i) step(1);  // the stream starts 1.3 s after the open
      ASSERT_EQ(processed(), written) << "streaming";
      publish(500);  // 5 s of records while the subscriber stands still
      step(200);     // 2 s
      EXPECT_EQ(processed(), written) << "caught up";
      io->RequestRecording(false);
      step(1);
    });
    path.reset();
    Quietly([&] { io.reset(); });
    UsbLib_SetBackend(nullptr);
    EXPECT_EQ(ddstest::RecordsCountedFromZero("SkarvData-1.csv"), written) << "the file holds every record sent";
  }
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
}

}  // namespace
