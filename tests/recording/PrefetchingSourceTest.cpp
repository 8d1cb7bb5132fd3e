// A source read ahead on its own thread gives the same records, in the same
// order, and ends the same way, reading no further ahead than its queue
// holds; it never makes its reader wait, and ending its intake stops a
// reading thread that waits on its source.

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <memory>
#include <string>

#include "PrefetchingSource.h"

using recording::CPrefetchingSource;
using recording::CRecordSource;
using kiv::T_RawRecord;

namespace {

// Records numbered 0 to `count` - 1 (in count and width), then `end`; every
// `waitEvery`-th answer before that is eWait.
class CountingSource : public CRecordSource {
 public:
  CountingSource(uint32_t count, EResult end, unsigned waitEvery = 0) : mCount(count), mEnd(end), mWaitEvery(waitEvery) {}
  EResult Next(kiv::T_RawRecord& out) override {
    if (mWaitEvery != 0 && ++mAnswers % mWaitEvery == 0 && mTaken < mCount) {
      return EResult::eWait;
    }
    if (mTaken == mCount) {
      return mEnd;
    }
    out = kiv::T_RawRecord{};
    out.count = static_cast<uint16_t>(mTaken);
    out.width = static_cast<uint16_t>(mTaken >> 16);
    ++mTaken;
    return EResult::eRecord;
  }
  std::string Error() const override { return mEnd == EResult::eError && mTaken == mCount ? "r.csv:9: bad" : ""; }
  std::atomic<uint32_t> mTaken{0};

 private:
  const uint32_t mCount;
  const EResult mEnd;
  const unsigned mWaitEvery;
  unsigned mAnswers = 0;
};

// Takes every record, waiting whenever none is read ahead yet; true when
// they are `first`, `first` + 1 ... `count` - 1.
bool TakesAllInOrder(CPrefetchingSource& source, uint32_t first, uint32_t count, CRecordSource::EResult& end) {
  kiv::T_RawRecord record;
  uint32_t taken = first;
  while ((end = source.Next(record)) == CRecordSource::EResult::eRecord || end == CRecordSource::EResult::eWait) {
    if (end == CRecordSource::EResult::eWait) {
      source.AwaitRecords(1000);
      continue;
    }
    if ((uint32_t{record.width} << 16 | record.count) != taken) return false;
    ++taken;
  }
  return taken == count;
}

// The next record, waiting for it if need be.
CRecordSource::EResult NextAwaited(CPrefetchingSource& source, kiv::T_RawRecord& record) {
  CRecordSource::EResult result;
  while ((result = source.Next(record)) == CRecordSource::EResult::eWait) source.AwaitRecords(1000);
  return result;
}

// Gives a few records, then has none for a long time: its reading thread
// waits in poll() on the interrupt descriptor alone, as a reader of a pipe
// whose writer pauses does, and the source ends once interrupted.
class StallingSource : public CRecordSource {
 public:
  EResult Next(kiv::T_RawRecord& out) override {
    if (mGiven < 3) {
      out = kiv::T_RawRecord{};
      out.count = static_cast<uint16_t>(mGiven++);
      return EResult::eRecord;
    }
    return AwaitRecords(0) ? EResult::eEnd : EResult::eWait;
  }
  bool AwaitRecords(int ms) override {
    pollfd ready{mInterrupt, POLLIN, 0};
    return ::poll(&ready, 1, ms) > 0;
  }
  void SetInterruptFd(int fd) override { mInterrupt = fd; }

 private:
  int mInterrupt = -1;
  int mGiven = 0;
};

TEST(PrefetchingSource, GivesEveryRecordInOrderAndTheErrorOnlyAfterThem) {
  const uint32_t count = CPrefetchingSource::kBatchRecords * 5 + 7;
  auto inner = std::make_shared<CountingSource>(count, CRecordSource::EResult::eError, 1000);
  CPrefetchingSource source(inner);
  kiv::T_RawRecord record;
  ASSERT_EQ(NextAwaited(source, record), CRecordSource::EResult::eRecord);
  EXPECT_EQ(record.count, 0);
  EXPECT_LE(inner->mTaken.load(), (CPrefetchingSource::kMaxBatches + 2) * CPrefetchingSource::kBatchRecords)
      << "reads ahead no more than its queue holds";
  EXPECT_EQ(source.Error(), "") << "not before the records ahead of it are taken";
  CRecordSource::EResult end = CRecordSource::EResult::eRecord;
  EXPECT_TRUE(TakesAllInOrder(source, 1, count, end)) << "the rest, after the first";
  EXPECT_EQ(end, CRecordSource::EResult::eError);
  EXPECT_EQ(source.Error(), "r.csv:9: bad");
  EXPECT_EQ(source.Next(record), CRecordSource::EResult::eError) << "the end stays the end";
}

TEST(PrefetchingSource, EndsLikeItsSourceAndStopsWhileReadingAhead) {
  {
    CPrefetchingSource empty(std::make_shared<CountingSource>(0, CRecordSource::EResult::eEnd));
    CRecordSource::EResult end = CRecordSource::EResult::eRecord;
    EXPECT_TRUE(TakesAllInOrder(empty, 0, 0, end));
    EXPECT_EQ(end, CRecordSource::EResult::eEnd);
    EXPECT_EQ(empty.Error(), "");
  }
  {
    CPrefetchingSource exact(std::make_shared<CountingSource>(CPrefetchingSource::kBatchRecords, CRecordSource::EResult::eEnd));
    CRecordSource::EResult end = CRecordSource::EResult::eRecord;
    EXPECT_TRUE(TakesAllInOrder(exact, 0, CPrefetchingSource::kBatchRecords, end));
    EXPECT_EQ(end, CRecordSource::EResult::eEnd);
  }
  // Destroyed with its queue full and the source far from its end.
  CPrefetchingSource large(std::make_shared<CountingSource>(1u << 30, CRecordSource::EResult::eEnd));
  kiv::T_RawRecord record;
  EXPECT_EQ(NextAwaited(large, record), CRecordSource::EResult::eRecord);
}

TEST(PrefetchingSource, EndingTheIntakeStopsAWaitingSourceAndHandsOnWhatWasRead) {
  CPrefetchingSource source(std::make_shared<StallingSource>());
  kiv::T_RawRecord record;
  for (uint16_t i = 0; i < 3; ++i) {
    ASSERT_EQ(NextAwaited(source, record), CRecordSource::EResult::eRecord);
    EXPECT_EQ(record.count, i);
  }
  EXPECT_EQ(source.Next(record), CRecordSource::EResult::eWait) << "its reader is never made to wait";
  EXPECT_FALSE(source.AwaitRecords(20));
  source.EndIntake();  // from another thread than the reading one
  EXPECT_EQ(NextAwaited(source, record), CRecordSource::EResult::eEnd);
  // And a source destroyed while its thread waits on the file stops at once.
  CPrefetchingSource waiting(std::make_shared<StallingSource>());
  EXPECT_EQ(NextAwaited(waiting, record), CRecordSource::EResult::eRecord);
}

}  // namespace
