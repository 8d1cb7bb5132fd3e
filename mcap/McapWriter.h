#pragma once
// An MCAP file written record by record, as the MCAP format lays it out:
//
//   magic, header, schemas, channels,
//   chunks of messages (zstd), each followed by its message indexes,
//   metadata, data end (the CRC-32 of all before it),
//   summary: schemas, channels, chunk indexes, metadata indexes, statistics,
//   summary offsets, footer (the summary's CRC-32), magic.
//
// Schemas and channels go into the data section before the first chunk, so
// that a file cut short (no summary, as after a power cut) still says how to
// read each of its complete chunks. Messages collect in an open chunk that
// is compressed and written once it holds kChunkBytes, at FlushChunk, or at
// Finish; the writer's buffers are kept from chunk to chunk, so writing a
// message allocates nothing once the first chunks have been written.
//
// Every write is checked: after the first failure nothing more is written,
// Error() holds its errno, and Abandon() cuts the file back to its last
// complete chunk, which is still a valid (cut) MCAP file.

#include <zstd.h>

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace skarvmcap {

using T_KeyValues = std::vector<std::pair<std::string, std::string>>;

class CMcapWriter {
 public:
  static constexpr size_t kChunkBytes = size_t{1} << 20;

  // Takes the descriptor of an empty file opened for writing, and writes
  // the magic and the header.
  CMcapWriter(int fd, const std::string& profile, const std::string& library);
  ~CMcapWriter();  // Abandon() unless finished
  CMcapWriter(const CMcapWriter&) = delete;
  CMcapWriter& operator=(const CMcapWriter&) = delete;

  // Before the first message: ids from 1.
  uint16_t AddSchema(const std::string& name, const std::string& encoding, const std::string& data);
  uint16_t AddChannel(uint16_t schema, const std::string& topic, const std::string& messageEncoding,
                      const T_KeyValues& metadata);
  // Written with the summary, before the data end.
  void AddMetadata(const std::string& name, const T_KeyValues& metadata);

  // False once a write has failed. Log times should not go back within a
  // channel (readers take the message indexes in order).
  bool Write(uint16_t channel, uint64_t logTime, uint64_t publishTime, std::span<const uint8_t> data);
  // Writes the open chunk, if it holds a message.
  bool FlushChunk();
  // Writes the rest of the file and closes it; true when all of it is on
  // disk (the close included).
  bool Finish();
  // Cuts the file back to its last complete chunk and closes it.
  void Abandon();

  int Error() const { return mError; }
  uint64_t Messages() const { return mMessageCount; }
  // The bytes written to the file so far (the open chunk's not among them).
  uint64_t Bytes() const { return mOffset; }
  // The bytes of the file up to the end of its last complete chunk.
  uint64_t CompleteBytes() const { return mCompleteBytes; }

 private:
  struct T_ChunkIndex {
    uint64_t start, end, offset, length;
    std::vector<std::pair<uint16_t, uint64_t>> messageIndexOffsets;
    uint64_t messageIndexLength, compressedSize, uncompressedSize;
  };
  struct T_Channel {
    std::vector<uint8_t> record;  // as written in the data section
    uint32_t sequence = 0;
    uint64_t messages = 0;
    std::vector<uint64_t> index;  // log time, offset in the open chunk, in pairs
  };

  bool Emit(const std::vector<uint8_t>& bytes, bool inDataSection = true);
  void Fail(int error);

  int mFd;
  bool mDone = false;
  int mError = 0;
  uint64_t mOffset = 0;         // bytes written
  uint64_t mCompleteBytes = 0;  // up to the last complete chunk
  uint32_t mDataCrc = 0;        // of the data section written so far
  std::vector<std::vector<uint8_t>> mSchemas;  // records
  std::vector<T_Channel> mChannels;            // channel id - 1
  std::vector<std::pair<std::string, std::vector<uint8_t>>> mMetadata;  // name, record
  std::vector<T_ChunkIndex> mChunkIndexes;
  uint64_t mMessageCount = 0;
  uint64_t mFirstLogTime = 0, mLastLogTime = 0;

  // The open chunk: its records uncompressed, their time span.
  std::vector<uint8_t> mChunk;
  uint64_t mChunkStart = 0, mChunkEnd = 0;
  bool mChunkHasMessages = false;
  std::vector<uint8_t> mCompressed;
  std::vector<uint8_t> mScratch;  // a record being built
  ZSTD_CCtx* mZstd = nullptr;
};

}  // namespace skarvmcap
