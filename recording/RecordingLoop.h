#pragma once
// A recording played again and again (a replay's --loop): at the end of the
// file it is read again from its first record, the counts following on from
// the last record's as a sensor's counts do, so that the loop is one long
// stream without a gap of its own; the file's own gaps stay gaps. The first
// pass is the file as it is. Each pass opens the file afresh (a pipe waits
// for a writer of its own), on the thread that reads; a pass that brings no
// record ends the loop, and a file that cannot be read again, or is no
// longer a recording, ends it with the reason.

#include <cstdint>
#include <memory>
#include <string>

#include "CsvReader.h"
#include "RecordSource.h"

namespace recording {

class CRecordingLoop : public CRecordSource {
 public:
  // `first` has been opened.
  explicit CRecordingLoop(std::unique_ptr<CCsvReader> first);

  EResult Next(kiv::T_RawRecord& out) override;
  std::string Error() const override { return mError; }
  void SetInterruptFd(int fd) override;
  bool AwaitRecords(int ms) override { return mReader->AwaitRecords(ms); }
  // A seek moves within the file, in the pass being played: the counts go
  // on with that pass's offset, so the seek is the one gap.
  bool Position(T_RecordPosition& at) const override { return mReader->Position(at); }
  bool SeekTo(const T_RecordPosition& at) override;

 private:
  std::unique_ptr<CCsvReader> mReader;
  const std::string mPath;
  int mInterruptFd = -1;
  uint64_t mPass = 0;           // passes begun before this one
  uint64_t mPassesInStream = 0;  // passes the reader found in its stream (a pipe fed again)
  bool mRecordInPass = false;   // this pass has brought a record
  uint16_t mOffset = 0;         // added to this pass's counts
  uint16_t mLastCount = 0;      // as sent, of the last record
  bool mEnded = false;
  std::string mError;
};

}  // namespace recording
