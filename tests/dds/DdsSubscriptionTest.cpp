// The subscription's side of DDS in this process, over the loopback
// interface: a feed that checks what a hostile publisher sends and follows
// one publisher at a time; one asked for a sensor's serial number that
// follows only that sensor's publisher; one that falls behind a publisher at
// full speed keeps its memory bounded by making the writer wait, and loses
// nothing; and a subscriber that stood still catches up within 2 s of
// running again.

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
using Result = recording::CRecordSource::EResult;

// The counts of the records `session` holds now, until it has `expected`
// (or ends, or 30 s pass).
std::vector<uint16_t> Counts(recording::CRecordSource& session, size_t expected, Result* end = nullptr) {
  std::vector<uint16_t> counts;
  const auto deadline = std::chrono::steady_clock::now() + seconds(30);
  while (counts.size() < expected && std::chrono::steady_clock::now() < deadline) {
    kiv::T_RawRecord record;
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
    // A batch that ends inside a record, and one of more records than a
    // batch may hold: both refused whole; the next batch is taken.
    std::vector<uint16_t> words(10 * skarvdds::kWordsPerRecord - 1, 7);
    first->WriteWords(5, words);
    words.assign((skarvdds::CRecordFeed::kMaxBatchRecords + 1) * skarvdds::kWordsPerRecord, 7);
    first->WriteWords(6, words);
    first->Write(7, 70, 10);
    written(&skarvdds::CRecordFeed::RefusedBatches, 2);
    first->Write(0, 1000, 10);  // restarted: its numbers from 0 again
    written(&skarvdds::CRecordFeed::Restarts, 1);

    auto session = NextSession(feed);
    ASSERT_TRUE(session);
    std::vector<uint16_t> expected = Range(0, 20);
    for (uint16_t count : Range(40, 10)) expected.push_back(count);
    for (uint16_t count : Range(70, 10)) expected.push_back(count);
    Result end = Result::eRecord;
    EXPECT_EQ(Counts(*session, expected.size() + 1, &end), expected) << "no repeat, nothing backwards, no bad batch";
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
    EXPECT_EQ(feed.RefusedBatches(), 2u);
    EXPECT_EQ(feed.Restarts(), 1u);
    EXPECT_EQ(feed.PublishersFollowed(), 3u);
    EXPECT_EQ(feed.Summary(), "From rt/" + ns +
                                  "/records: 2 batches lost, 3 repeated batches dropped, 2 batches refused, "
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
  EXPECT_EQ(Occurrences(printed, "A batch of 179 words from publisher A is refused: a batch holds whole records of "
                                 "18 words, 65536 records at most.\n"),
            1u);
  EXPECT_EQ(Occurrences(printed, " words from publisher A is refused"), 1u) << "once for a publisher";
  EXPECT_EQ(Occurrences(printed, "publisher A has restarted (its batches are numbered from 0 again).\n"), 1u);
  EXPECT_EQ(Occurrences(printed, "publisher A has stopped publishing rt/" + ns + "/records.\n"), 1u);
  EXPECT_EQ(Occurrences(printed, "Following the records of "), 3u);
}

TEST(DdsFeed, AFeedAskedForOneSensorFollowsOnlyThePublisherOfThatSensor) {
  ddstest::UseLoopback(50);
  const std::string ns = ddstest::UniqueNamespace("serials");
  std::string error;
  skarvdds::CDdsParticipant participant;
  ASSERT_TRUE(participant.Open(error)) << error;
  std::string printed;
  {
    const CDiagCapture capture;
    skarvdds::CRecordFeed wanted(ns, "SKV00002");
    skarvdds::CRecordFeed any(ns);
    ASSERT_TRUE(wanted.Active() && any.Active());
    ddstest::CBatchWriter first(ns, "publisher A", participant, "SKV00001");
    ddstest::CBatchWriter second(ns, "publisher B", participant, "SKV00002");
    ddstest::CBatchWriter unnamed(ns, "publisher C", participant);  // its batches name no sensor
    ASSERT_TRUE(ddstest::WaitUntil([&] { return wanted.MatchedPublishers() == 3 && any.MatchedPublishers() == 3; },
                                   seconds(30)));

    first.Write(0, 0, 10);
    ASSERT_TRUE(ddstest::WaitUntil([&] { return any.RecordsReceived() == 10; }, seconds(30)));
    second.Write(0, 100, 10);
    unnamed.Write(0, 200, 10);
    first.Write(1, 10, 10);
    second.Write(1, 110, 10);
    ASSERT_TRUE(ddstest::WaitUntil([&] { return wanted.RecordsReceived() == 20 && any.RecordsReceived() == 20; },
                                   seconds(30)));

    // The feed asked for SKV00002 follows B alone, whichever sent first.
    auto session = NextSession(wanted);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->Serial(), "SKV00002");
    EXPECT_EQ(Counts(*session, 20), Range(100, 20));
    EXPECT_EQ(wanted.TakeSession(), nullptr);
    EXPECT_EQ(wanted.PublishersFollowed(), 1u);
    EXPECT_TRUE(ddstest::WaitUntil([&] { return wanted.OtherSensorPublishers() == 2; }, seconds(30)));
    EXPECT_EQ(wanted.Summary(), "From rt/" + ns + "/records: 2 publishers not sending sensor SKV00002 ignored");

    // The feed asked for none follows the first publisher, as ever.
    auto followed = NextSession(any);
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->Serial(), "SKV00001");
    EXPECT_EQ(Counts(*followed, 20), Range(0, 20));
    EXPECT_EQ(any.TakeSession(), nullptr);
    EXPECT_EQ(any.Summary(), "");

    // Another sensor behind A: a new session for it; A stays ignored by the
    // feed that wants SKV00002, without a second word.
    first.SetSerial("SKV00003");
    first.Write(2, 20, 10);
    Result end = Result::eRecord;
    EXPECT_EQ(Counts(*followed, 1, &end), std::vector<uint16_t>{});
    EXPECT_EQ(end, Result::eEnd);
    auto next = NextSession(any);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->Serial(), "SKV00003");
    EXPECT_EQ(Counts(*next, 10), Range(20, 10));
    EXPECT_EQ(wanted.PublishersFollowed(), 1u);
    printed = capture.Text();
  }
  const std::string topic = "rt/" + ns + "/records";
  EXPECT_EQ(Occurrences(printed, "publisher A sends sensor SKV00001, not SKV00002: ignored.\n"), 1u) << printed;
  EXPECT_EQ(Occurrences(printed, "publisher C sends no sensor's serial number, not SKV00002: ignored.\n"), 1u);
  EXPECT_EQ(Occurrences(printed, "publisher A sends"), 1u) << "once for a publisher";
  EXPECT_EQ(Occurrences(printed, "Following the records of publisher B on " + topic + " (sensor SKV00002).\n"), 1u);
  EXPECT_EQ(Occurrences(printed, "Another publisher of " + topic + ", publisher B, is ignored while publisher A"), 1u);
  EXPECT_EQ(Occurrences(printed, "Another publisher of " + topic + ", publisher C, is ignored while publisher A"), 1u);
  EXPECT_EQ(Occurrences(printed,
                        "publisher A now sends sensor SKV00003 instead of sensor SKV00001: a new session begins.\n"),
            1u);
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

// A subscriber on the manual clock, with a test's own publishers.
class DdsSubscriptionOnManualClock : public ::testing::Test {
 protected:
  void SetUp() override {
    ddstest::UseLoopback(50);
    char pattern[] = "/tmp/skarv-dds-manual-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    ASSERT_TRUE(participant.Open(error)) << error;
    io = std::make_unique<CSkarvIO>();
    ASSERT_TRUE(UseSubscription(ns, "", *io, remote, error, sim::CVirtualBus::Clock::eManual)) << error;
    path = std::make_unique<CDataPath>(*io);
    Quietly([&] {
      io->Initialize(10);
      UsbLib_FlushHotplug();
      io->RequestRecording(true);
    });
  }
  void TearDown() override {
    path.reset();
    Quietly([&] { io.reset(); });
    remote = T_SubscribeSetup{};
    UsbLib_SetBackend(nullptr);
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
  }
  void Step(int steps) {
    for (int i = 0; i < steps; ++i) {
      remote.bus->Advance(CDataPath::kTickMs);
      path->Step();
      remote.driver->Poll();
      UsbLib_FlushHotplug();
    }
  }
  // `updates` of 400 records (the sensor's at its power-up rate), counted
  // on from those written before, until the feed has them all.
  void Publish(ddstest::CBatchWriter& writer, int updates) {
    const uint32_t from = written;
    for (int u = 0; u < updates; ++u, written += 400) {
      ASSERT_EQ(writer.Write((written - from) / 400, written, 400), DDS_RETCODE_OK);
    }
    ASSERT_TRUE(ddstest::WaitUntil([&] { return remote.feed->RecordsReceived() == written; }, seconds(60)));
  }
  uint64_t Processed() { return io->GetDeviceStatus().RecordsProcessed; }

  const std::string ns = ddstest::UniqueNamespace("manual");
  std::filesystem::path dir, previous;
  std::string error;
  skarvdds::CDdsParticipant participant;
  std::unique_ptr<CSkarvIO> io;
  T_SubscribeSetup remote;
  std::unique_ptr<CDataPath> path;
  uint32_t written = 0;
};

// A stop while the subscriber still plays one publisher's records, the next
// publisher's waiting behind them: both are played out before it ends.
TEST_F(DdsSubscriptionOnManualClock, AStopPlaysOutEverySessionThatHadReachedIt) {
  auto first = std::make_unique<ddstest::CBatchWriter>(ns, "publisher A", participant);
  ASSERT_TRUE(ddstest::WaitUntil([&] { return remote.feed->MatchedPublishers() == 1; }, seconds(30)));
  const CDiagCapture printed;
  {
    Publish(*first, 100);
    for (int i = 0; i < 300 && Processed() == 0; ++i) Step(1);  // the stream starts 1.3 s after the open
    first.reset();  // gone, with most of its records not played yet
    ASSERT_TRUE(ddstest::WaitUntil([&] { return printed.Text().find("publisher A has stopped publishing") !=
                                                std::string::npos; },
                                   seconds(30)));
    ddstest::CBatchWriter second(ns, "publisher B", participant);
    Publish(second, 50);  // B followed, now that A is gone
    ASSERT_EQ(remote.feed->PublishersFollowed(), 2u);
    ASSERT_LT(Processed(), written);
    remote.driver->EndSources();
    for (int i = 0; i < 1000 && !remote.driver->Done(); ++i) Step(1);
    EXPECT_TRUE(remote.driver->Done());
    EXPECT_EQ(Processed(), written) << "every record received before the stop";
  }
}

// The subscriber's data path stands still while 5 s of the sensor's records
// arrive, as a stopped or starved process would; once it runs again, 2 s of
// its steps take them all.
TEST_F(DdsSubscriptionOnManualClock, AStoppedSubscriberCatchesUpWithin2sOfRunningAgain) {
  ddstest::CBatchWriter writer(ns, "a live publisher", participant);
  ASSERT_TRUE(ddstest::WaitUntil([&] { return remote.feed->MatchedPublishers() == 1; }, seconds(30)));
  Quietly([&] {
    Publish(writer, 50);
    for (int i = 0; i < 300 && Processed() < written; ++i) Step(1);  // the stream starts 1.3 s after the open
    ASSERT_EQ(Processed(), written) << "streaming";
    Publish(writer, 500);  // 5 s of records while the subscriber stands still
    Step(200);             // 2 s
    EXPECT_EQ(Processed(), written) << "caught up";
    io->RequestRecording(false);
    Step(1);
  });
  EXPECT_EQ(ddstest::RecordsCountedFromZero("SkarvData-1.csv"), written) << "the file holds every record sent";
}

}  // namespace
