#include "PrefetchingSource.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <utility>

namespace recording {

CPrefetchingSource::CPrefetchingSource(std::shared_ptr<CRecordSource> source)
    : mSource(std::move(source)), mInterrupt(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  mSource->SetInterruptFd(mInterrupt);
  mThread = std::thread([this] { ReadAhead(); });
}

CPrefetchingSource::~CPrefetchingSource() {
  EndIntake();
  mThread.join();
  if (mInterrupt >= 0) {
    ::close(mInterrupt);
  }
}

void CPrefetchingSource::EndIntake() {
  {
    std::lock_guard lock(mMutex);
    if (mIntakeEnded.exchange(true)) {
      return;
    }
  }
  mChanged.notify_all();
  if (mInterrupt >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(mInterrupt, &one, sizeof one);
  }
}

CRecordSource::EResult CPrefetchingSource::Next(kiv::T_RawRecord& out) {
  for (;;) {
    if (mNext < mCurrent.records.size()) {
      out = mCurrent.records[mNext++];
      return EResult::eRecord;
    }
    if (mCurrent.end != EResult::eRecord) {
      if (mCurrent.end == EResult::eError && !mErrorReached) {
        // Said once every record before it is taken.
        mErrorReached = true;
        std::lock_guard lock(mMutex);
        mError = mCurrent.error;
      }
      return mCurrent.end;  // the end stays the end
    }
    std::unique_lock lock(mMutex);
    if (mQueue.empty()) {
      return EResult::eWait;
    }
    // The spent batch's storage goes back to the reading thread: no batch
    // costs an allocation once the queue has been filled.
    Recycle(std::move(mCurrent.records));
    mCurrent = std::move(mQueue.front());
    mQueue.pop_front();
    mNext = 0;
    lock.unlock();
    mChanged.notify_all();
  }
}

bool CPrefetchingSource::AwaitRecords(int ms) {
  // After an eWait the consumer's batch is spent: a record is at hand once
  // the reading thread has queued the next batch.
  std::unique_lock lock(mMutex);
  return mChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !mQueue.empty(); });
}

std::string CPrefetchingSource::Error() const {
  std::lock_guard lock(mMutex);
  return mError;
}

void CPrefetchingSource::Recycle(std::vector<kiv::T_RawRecord>&& records) {
  records.clear();
  mSpare.push_back(std::move(records));
}

bool CPrefetchingSource::SeekTo(const T_RecordPosition& at) {
  {
    std::lock_guard lock(mMutex);
    if (IntakeEnded()) {
      return false;
    }
    ++mGeneration;
    for (T_Batch& batch : mQueue) {
      Recycle(std::move(batch.records));
    }
    mQueue.clear();
    Recycle(std::move(mCurrent.records));
    mSeekTarget = at;
    mSeekPending = true;
  }
  mCurrent = T_Batch{};
  mNext = 0;
  mChanged.notify_all();
  return true;
}

void CPrefetchingSource::Hand(T_Batch&& batch, uint64_t generation) {
  std::unique_lock lock(mMutex);
  // Once the intake ends the queue takes what was read without waiting for
  // room: it is the last of it.
  mChanged.wait(lock, [&] { return IntakeEnded() || mQueue.size() < kMaxBatches || generation != mGeneration; });
  if (generation != mGeneration) {
    Recycle(std::move(batch.records));  // read before a seek: never handed out
    return;
  }
  mRecordsRead += batch.records.size();
  mQueue.push_back(std::move(batch));
  lock.unlock();
  mChanged.notify_all();
}

void CPrefetchingSource::ReadAhead() {
  bool atEnd = false;  // the source ended: only a seek brings more
  for (;;) {
    T_Batch batch;
    uint64_t generation = 0;
    bool seek = false;
    T_RecordPosition target;
    {
      std::unique_lock lock(mMutex);
      if (atEnd) {
        mChanged.wait(lock, [this] { return IntakeEnded() || mSeekPending.load(); });
        if (IntakeEnded()) {
          return;
        }
      }
      generation = mGeneration;
      if (mSeekPending.load()) {
        seek = true;
        target = mSeekTarget;
        mSeekPending = false;
      }
      if (!mSpare.empty()) {
        batch.records = std::move(mSpare.back());
        mSpare.pop_back();
      }
    }
    if (seek) {
      atEnd = false;
      if (!mSource->SeekTo(target)) {
        batch.end = EResult::eError;
        batch.error = mSource->Error().empty() ? "the recording could not be read from the place asked for"
                                               : mSource->Error();
        Hand(std::move(batch), generation);
        atEnd = true;
        continue;
      }
    }
    batch.records.reserve(kBatchRecords);
    kiv::T_RawRecord record;
    EResult result = EResult::eRecord;
    while (batch.records.size() < kBatchRecords && !IntakeEnded() && !mSeekPending.load(std::memory_order_relaxed) &&
           (result = mSource->Next(record)) == EResult::eRecord) {
      batch.records.push_back(record);
    }
    if (IntakeEnded() && result != EResult::eError) {
      result = EResult::eEnd;  // what was read so far, then the end
    }
    if (result == EResult::eEnd || result == EResult::eError) {
      batch.end = result;
      batch.error = result == EResult::eError ? mSource->Error() : std::string();
      Hand(std::move(batch), generation);
      atEnd = true;
      continue;
    }
    if (!batch.records.empty()) {
      Hand(std::move(batch), generation);  // dropped there when a seek came meanwhile
    }
    if (result == EResult::eWait) {
      // What was read is on its way; wait for more of the file (a pipe that
      // pauses), or the end of the intake, which interrupts the wait.
      mSource->AwaitRecords(kAwaitMs);
    }
  }
}

}  // namespace recording
