#pragma once
// The records of an MCAP recording, read back for a replay: the messages of
// its /records channel (skarv_msgs/msg/RawRecordBatch), one record after
// another, as the sensor sent them. The file is read from start to end, one
// record of the format at a time, each chunk decompressed and its CRC
// checked; a schema, a channel or a chunk may come anywhere before the
// messages that use it.
//
// A file cut short (no data end, as after a power cut or a full disk) is
// played up to its last complete chunk, said in one line on standard error
// at its end, and Cut() says so; a damaged file
// (a CRC that does not match, a chunk that does not decompress, a record
// longer than the file or than a chunk may be) ends with the reason, after
// every record before the damage.

#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "RecordSource.h"

namespace skarvmcap {

class CMcapRecordSource : public recording::CRecordSource {
 public:
  // The largest chunk taken, compressed or not: a writer closes a chunk
  // long before (CMcapWriter at 1 MiB), and a length above it is damage.
  static constexpr uint64_t kMaxChunkBytes = uint64_t{64} << 20;

  explicit CMcapRecordSource(std::string path);
  ~CMcapRecordSource() override;
  CMcapRecordSource(const CMcapRecordSource&) = delete;
  CMcapRecordSource& operator=(const CMcapRecordSource&) = delete;

  // Opens the file and checks its magic and header; false with Error()
  // ("FILE: why") when it is not an MCAP file.
  bool Open();
  // True for a file (not a pipe) that starts as an MCAP file does.
  static bool LooksLikeMcap(const std::string& path);

  EResult Next(kiv::T_RawRecord& out) override;
  std::string Error() const override { return mError; }
  // A record's place: the top-level record (a chunk, a message) it came in
  // and the records of that one before it. A seek reads that record again.
  bool Position(recording::T_RecordPosition& at) const override;
  bool SeekTo(const recording::T_RecordPosition& at) override;
  // The file ended without its data end: played up to its last complete chunk.
  bool Cut() const { return mCut; }

 private:
  // Reads the next record of the file into mRecord: false at the end of the
  // file (mCut set when it was not the data end) or on damage (mError set).
  bool ReadRecord(uint8_t& opcode);
  // Takes one record (at the top level or within a chunk).
  bool Take(uint8_t opcode, const uint8_t* content, uint64_t length);
  bool TakeChunk(const uint8_t* content, uint64_t length);
  bool Fail(const std::string& why);
  // Reads on until records are pending, or the file ends.
  void Fill();

  const std::string mPath;
  FILE* mFile = nullptr;
  uint64_t mFileSize = 0;
  uint64_t mOffset = 0;  // of the record being read
  bool mEnded = false;
  bool mCut = false;
  bool mCutSaid = false;
  std::string mError;
  uint16_t mRecordsChannel = 0;  // the /records channel's id, 0 until it is known
  std::vector<uint8_t> mRecord;
  std::vector<uint8_t> mChunk;
  std::deque<kiv::T_RawRecord> mPending;
  uint64_t mPendingFrom = 0;   // where the record that brought them starts
  uint64_t mPendingTaken = 0;  // of its records, handed out
  ZSTD_DCtx* mZstd = nullptr;
};

}  // namespace skarvmcap
