#pragma once
// Reads a SkarvData CSV recording line by line, as a source of records for a
// playback sensor. The file is streamed through a fixed buffer, never loaded
// whole, and each field is read inside its own line.
//
// Each record line turns back into the words the sensor sent: the scaled
// columns (Distance, AnaTemp, SupplyVoltage) into the nearest raw word, the
// IMU columns into their 16-bit two's-complement words. Formatted again the
// way the recording formats them, the words give the same text.
//
// Lines are numbered from 1, the header being line 1. A line that ends the
// file without a line end counts as a line. Both "\n" and "\r\n" line ends
// are read. Empty lines carry no record and are passed over (an editor may
// leave one at the end); they still count in the line numbers. An empty
// file has no header and is refused; a file with the header alone is a
// recording without records.

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "PlaybackRecord.h"

namespace sim {

class CRecordingReader : public CRecordSource {
 public:
  // The first line of every recording, without its line end.
  static constexpr std::string_view kHeader =
      "Count,DeltTime,Distance,Width,AnaTemp,ScanState,LaserPower,SupplyVoltage,"
      "AccelX,AccelY,AccelZ,IMUTemp,GyroX,GyroY,GyroZ,MagX,MagY,MagZ";
  static constexpr size_t kFields = 18;
  // A longer line is refused; a recording's lines are around 100 characters.
  static constexpr size_t kMaxLineLength = 1024;

  explicit CRecordingReader(std::string path);
  ~CRecordingReader() override;
  CRecordingReader(const CRecordingReader&) = delete;
  CRecordingReader& operator=(const CRecordingReader&) = delete;

  // Opens the file and reads its header. False when the file cannot be read
  // or is not a recording; Error() then says why, as "FILE: why".
  bool Open();

  // CRecordSource. The first bad line ends the source with eError and
  // Error() "FILE:LINE: what is wrong"; every later call gives the same.
  EResult Next(T_PlaybackRecord& out) override;
  std::string Error() const override { return mError; }

  const std::string& Path() const { return mPath; }
  uint64_t LineNumber() const { return mLine; }  // of the line read last

 private:
  enum class ELine { eLine, eEnd, eFailed };
  // The next line, without its line end; `ended` is false for a last line
  // the file ends inside.
  ELine ReadLine(std::string_view& line, bool& ended);
  bool ParseLine(std::string_view line, bool ended, T_PlaybackRecord& out);
  // Field by field, saying what is wrong with the first bad one.
  bool ParseFields(std::string_view line, bool ended, std::array<long long, kFields>& values);
  void FailAtLine(const std::string& what);

  std::string mPath;
  std::FILE* mFile = nullptr;
  std::vector<char> mBuffer;  // bytes read and not yet taken: [mBegin, mEnd)
  size_t mBegin = 0;
  size_t mEnd = 0;
  bool mAtEof = false;
  uint64_t mLine = 0;
  bool mFailed = false;
  bool mFinished = false;
  std::string mError;
};

}  // namespace sim
