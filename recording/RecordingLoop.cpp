#include "RecordingLoop.h"

#include <utility>

namespace recording {

CRecordingLoop::CRecordingLoop(std::unique_ptr<CCsvReader> first)
    : mReader(std::move(first)), mPath(mReader->Path()) {
  mReader->SetHeaderStartsPass(true);
}

void CRecordingLoop::SetInterruptFd(int fd) {
  mInterruptFd = fd;
  mReader->SetInterruptFd(fd);
}

bool CRecordingLoop::SeekTo(const T_RecordPosition& at) {
  if (mEnded || !mReader->SeekTo(at)) {
    return false;
  }
  mRecordInPass = true;  // the records from there on belong to this pass
  return true;
}

CRecordSource::EResult CRecordingLoop::Next(kiv::T_RawRecord& out) {
  while (!mEnded) {
    switch (mReader->Next(out)) {
      case EResult::eRecord:
        if (mReader->Passes() != mPassesInStream) {
          // The file again within the same stream (a pipe fed it anew).
          mPassesInStream = mReader->Passes();
          ++mPass;
          mRecordInPass = false;
        }
        if (!mRecordInPass && mPass > 0) {
          mOffset = static_cast<uint16_t>(mLastCount + 1 - out.count);
        }
        mRecordInPass = true;
        out.count = static_cast<uint16_t>(out.count + mOffset);
        mLastCount = out.count;
        return EResult::eRecord;
      case EResult::eWait:
        return EResult::eWait;
      case EResult::eError:
        mError = mReader->Error();
        mEnded = true;
        return EResult::eError;
      case EResult::eEnd:
        break;
    }
    if (mReader->Interrupted() || !mRecordInPass) {
      mEnded = true;  // stopped, or a file without records: nothing to loop
      break;
    }
    // The file again, its header read by the next Next: a pipe without a
    // writer yet is waited for in AwaitRecords, never here.
    auto next = std::make_unique<CCsvReader>(mPath);
    next->SetInterruptFd(mInterruptFd);
    next->SetHeaderStartsPass(true);
    if (!next->OpenFile()) {
      mEnded = true;
      mError = next->Error();
      return EResult::eError;
    }
    mReader = std::move(next);
    mPassesInStream = 0;
    ++mPass;
    mRecordInPass = false;
  }
  return mError.empty() ? EResult::eEnd : EResult::eError;
}

}  // namespace recording
