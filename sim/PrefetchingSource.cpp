#include "PrefetchingSource.h"

#include <chrono>
#include <utility>

namespace sim {

CPrefetchingSource::CPrefetchingSource(std::shared_ptr<CRecordSource> source)
    : mSource(std::move(source)), mThread([this] { ReadAhead(); }) {}

CPrefetchingSource::~CPrefetchingSource() {
  {
    std::lock_guard lock(mMutex);
    mStop = true;
  }
  mChanged.notify_all();
  mThread.join();
}

CRecordSource::EResult CPrefetchingSource::Next(T_PlaybackRecord& out) {
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
    mChanged.wait(lock, [this] { return !mQueue.empty(); });
    // The spent batch's storage goes back to the reading thread: no batch
    // costs an allocation once the queue has been filled.
    mCurrent.records.clear();
    mSpare.push_back(std::move(mCurrent.records));
    mCurrent = std::move(mQueue.front());
    mQueue.pop_front();
    mNext = 0;
    lock.unlock();
    mChanged.notify_all();
  }
}

std::string CPrefetchingSource::Error() const {
  std::lock_guard lock(mMutex);
  return mError;
}

bool CPrefetchingSource::Hand(T_Batch&& batch) {
  std::unique_lock lock(mMutex);
  mChanged.wait(lock, [this] { return mStop || mQueue.size() < kMaxBatches; });
  if (mStop) {
    return false;
  }
  mQueue.push_back(std::move(batch));
  lock.unlock();
  mChanged.notify_all();
  return true;
}

void CPrefetchingSource::ReadAhead() {
  for (;;) {
    T_Batch batch;
    {
      std::lock_guard lock(mMutex);
      if (!mSpare.empty()) {
        batch.records = std::move(mSpare.back());
        mSpare.pop_back();
      }
    }
    batch.records.reserve(kBatchRecords);
    T_PlaybackRecord record;
    EResult result = EResult::eRecord;
    while (batch.records.size() < kBatchRecords && (result = mSource->Next(record)) == EResult::eRecord) {
      batch.records.push_back(record);
    }
    if (result == EResult::eEnd || result == EResult::eError) {
      batch.end = result;
      batch.error = mSource->Error();
      Hand(std::move(batch));
      return;
    }
    if (!batch.records.empty() && !Hand(std::move(batch))) {
      return;
    }
    if (result == EResult::eWait) {
      std::unique_lock lock(mMutex);
      if (mChanged.wait_for(lock, std::chrono::milliseconds(1), [this] { return mStop; })) {
        return;
      }
    }
  }
}

}  // namespace sim
