#pragma once
// Reads a SkarvData CSV recording line by line, as a source of raw records
// for a playback sensor. The file is streamed through a fixed buffer, never loaded
// whole, and each field is read inside its own line.
//
// Each record line turns back into the words the sensor sent: the scaled
// columns (Distance, AnaTemp, SupplyVoltage) into their raw word, the IMU
// columns into their 16-bit two's-complement words. Only values the
// recording can hold are taken: a number within its column's range, and for
// a scaled column the value of a raw word as the recording writes it (six
// decimals). The value counts, not its spelling: fewer decimals where the
// rest are zeros, leading zeros or a minus zero read the same. Anything
// else (out of its column's range, or finer than the column) is a bad line.
//
// With SetHeaderStartsPass, a header line after records is taken as the
// start of the file's next pass (a pipe that a writer feeds the file again
// and again, without an end between), counted by Passes.
//
// Lines are numbered from 1, the header being line 1. Both "\n" and "\r\n"
// line ends are read. Empty lines carry no record and are passed over (an
// editor may leave one at the end); they still count in the line numbers.
// Every line of a recording ends with its line end, so a last line without
// one is a file cut inside that line, and refused. An empty file has no
// header and is refused; a file with the header alone is a recording
// without records.
//
// The file may be a pipe whose writer pauses or has not come yet. Open then
// waits for the header in poll(), never in a read; Next answers eWait while
// there is no whole line to give, and AwaitRecords waits for one in poll().
// Either wait ends as soon as the interrupt descriptor the reader was given
// becomes readable: an interrupted reader ends its records there (eEnd), a
// line it had only partly read dropped.
// Text from the file in its messages has its control characters escaped.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "CsvColumns.h"
#include "RecordSource.h"

namespace recording {

class CCsvReader : public CRecordSource {
 public:
  static constexpr size_t kFields = kCsvColumnCount;
  // A longer line is refused; a recording's lines are around 100 characters.
  static constexpr size_t kMaxLineLength = 1024;

  explicit CCsvReader(std::string path);
  ~CCsvReader() override;
  CCsvReader(const CCsvReader&) = delete;
  CCsvReader& operator=(const CCsvReader&) = delete;

  // Opens the file and reads its header, waiting for it while the file (a
  // pipe) has none yet, until `interruptFd` (when not -1) becomes readable.
  // False when the file cannot be read, is not a recording, or the wait was
  // interrupted (Interrupted()); Error() then says why, as "FILE: why".
  bool Open(int interruptFd = -1);
  bool Interrupted() const { return mInterrupted; }
  // Or opens the file alone: Next reads the header first, answering eWait
  // until it has come (a pipe), and ends with eError when the file is not a
  // recording. False when the file cannot be opened; Error() says why.
  bool OpenFile();

  // CRecordSource. The first bad line ends the source with eError and
  // Error() "FILE:LINE: what is wrong"; every later call gives the same.
  EResult Next(kiv::T_RawRecord& out) override;
  std::string Error() const override { return mError; }
  // From now on a wait for more of the file ends once `fd` is readable.
  void SetInterruptFd(int fd) override { mInterruptFd = fd; }
  // Next answers eWait while a pipe has no whole line to give: this waits
  // for more of it, or the interrupt.
  bool AwaitRecords(int ms) override;

  // A header line after records starts a next pass instead of being a bad
  // line. Set before the first Next.
  // A file (not a pipe) tells where its next line starts and goes back to
  // any line start it told; the lines are numbered on from there.
  bool Position(T_RecordPosition& at) const override;
  bool SeekTo(const T_RecordPosition& at) override;

  void SetHeaderStartsPass(bool starts) { mHeaderStartsPass = starts; }
  uint64_t Passes() const { return mPasses; }  // header lines read after records

  const std::string& Path() const { return mPath; }
  uint64_t LineNumber() const { return mLine; }  // of the line read last

 private:
  enum class ELine { eLine, eEnd, eFailed, eWait };
  // The next line, without its line end; `ended` is false for a last line
  // the file ends inside. Without `wait`, eWait when the file (a pipe) has
  // no whole line to give now.
  ELine ReadLine(std::string_view& line, bool& ended, bool wait);
  // Reads and checks the header line: eRecord when it is the recording
  // header, eWait (without `wait`) while it has not come, eEnd when
  // interrupted, eError with Error() set otherwise.
  EResult ReadHeader(bool wait);
  // Reads more of the file after mEnd: the bytes read, 0 at its end (or
  // once interrupted), -1 when there is nothing now and not `wait`.
  long ReadMore(bool wait);
  // Waits up to `timeoutMs` (-1: for ever) for the file or the interrupt;
  // false when neither is ready.
  bool Poll(int timeoutMs);
  bool ParseLine(std::string_view line, kiv::T_RawRecord& out);
  // Field by field, saying what is wrong with the first bad one.
  bool ParseFields(std::string_view line, std::array<long long, kFields>& values);
  void FailAtLine(const std::string& what);
  void Fail(const std::string& what);  // "FILE: what"

  std::string mPath;
  int mFd = -1;
  int mInterruptFd = -1;
  std::vector<char> mBuffer;  // bytes read and not yet taken: [mBegin, mEnd)
  uint64_t mBufferOffset = 0;  // where in the file mBuffer[0] was read from
  bool mSeekable = false;      // a regular file
  size_t mBegin = 0;
  size_t mEnd = 0;
  bool mAtEof = false;
  bool mInterrupted = false;
  bool mHeaderRead = false;
  bool mHeaderStartsPass = false;
  uint64_t mPasses = 0;
  uint64_t mLine = 0;
  bool mFailed = false;
  bool mFinished = false;
  std::string mError;
};

}  // namespace recording
