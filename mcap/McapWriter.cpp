#include "McapWriter.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace skarvmcap {

namespace {

constexpr uint8_t kMagic[8] = {0x89, 'M', 'C', 'A', 'P', 0x30, '\r', '\n'};
enum EOpcode : uint8_t {
  eHeader = 0x01,
  eFooter = 0x02,
  eSchema = 0x03,
  eChannel = 0x04,
  eMessage = 0x05,
  eChunk = 0x06,
  eMessageIndex = 0x07,
  eChunkIndex = 0x08,
  eStatistics = 0x0B,
  eMetadata = 0x0C,
  eMetadataIndex = 0x0D,
  eSummaryOffset = 0x0E,
  eDataEnd = 0x0F,
};
// Fast: the chunks of a recording are mostly counts and raw words, which
// compress well at the lowest levels already.
constexpr int kZstdLevel = 1;

// Appends MCAP's little-endian fields to a byte buffer.
class CFields {
 public:
  explicit CFields(std::vector<uint8_t>& out) : mOut(out) {}
  template <typename T>
  CFields& Int(T value) {
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
    mOut.insert(mOut.end(), bytes, bytes + sizeof(T));
    return *this;
  }
  CFields& Bytes(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    mOut.insert(mOut.end(), bytes, bytes + size);
    return *this;
  }
  CFields& String(const std::string& text) {
    Int<uint32_t>(static_cast<uint32_t>(text.size()));
    return Bytes(text.data(), text.size());
  }
  CFields& Map(const T_KeyValues& entries) {
    uint32_t length = 0;
    for (const auto& [key, value] : entries) length += static_cast<uint32_t>(8 + key.size() + value.size());
    Int(length);
    for (const auto& [key, value] : entries) String(key).String(value);
    return *this;
  }
  // A record: its opcode and a length filled in by End.
  CFields& Begin(uint8_t opcode) {
    mOut.push_back(opcode);
    mLengthAt = mOut.size();
    return Int<uint64_t>(0);
  }
  void End() {
    const uint64_t length = mOut.size() - mLengthAt - 8;
    for (size_t i = 0; i < 8; ++i) mOut[mLengthAt + i] = static_cast<uint8_t>(length >> (8 * i));
  }

 private:
  std::vector<uint8_t>& mOut;
  size_t mLengthAt = 0;
};

uint32_t Crc(uint32_t crc, const uint8_t* data, size_t size) {
  while (size > 0) {
    const uInt part = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    crc = static_cast<uint32_t>(::crc32(crc, data, part));
    data += part;
    size -= part;
  }
  return crc;
}

}  // namespace

CMcapWriter::CMcapWriter(int fd, const std::string& profile, const std::string& library) : mFd(fd) {
  mZstd = ZSTD_createCCtx();
  mChunk.reserve(kChunkBytes + 64 * 1024);
  mScratch.assign(kMagic, kMagic + sizeof kMagic);
  CFields header(mScratch);
  header.Begin(eHeader).String(profile).String(library).End();
  if (Emit(mScratch)) mCompleteBytes = mOffset;
}

CMcapWriter::~CMcapWriter() {
  if (!mDone) Abandon();
  ZSTD_freeCCtx(mZstd);
}

void CMcapWriter::Fail(int error) {
  if (mError == 0) mError = error != 0 ? error : EIO;
}

bool CMcapWriter::Emit(const std::vector<uint8_t>& bytes, bool inDataSection) {
  if (mError != 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(mFd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      Fail(wrote < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  if (inDataSection) mDataCrc = Crc(mDataCrc, bytes.data(), bytes.size());
  mOffset += bytes.size();
  return true;
}

uint16_t CMcapWriter::AddSchema(const std::string& name, const std::string& encoding, const std::string& data) {
  mSchemas.emplace_back();
  const uint16_t id = static_cast<uint16_t>(mSchemas.size());
  CFields record(mSchemas.back());
  record.Begin(eSchema).Int(id).String(name).String(encoding).String(data).End();
  if (Emit(mSchemas.back())) mCompleteBytes = mOffset;
  return id;
}

uint16_t CMcapWriter::AddChannel(uint16_t schema, const std::string& topic, const std::string& messageEncoding,
                                 const T_KeyValues& metadata) {
  mChannels.emplace_back();
  const uint16_t id = static_cast<uint16_t>(mChannels.size());
  CFields record(mChannels.back().record);
  record.Begin(eChannel).Int(id).Int(schema).String(topic).String(messageEncoding).Map(metadata).End();
  if (Emit(mChannels.back().record)) mCompleteBytes = mOffset;
  return id;
}

void CMcapWriter::AddMetadata(const std::string& name, const T_KeyValues& metadata) {
  std::vector<uint8_t> bytes;
  CFields(bytes).Begin(eMetadata).String(name).Map(metadata).End();
  mMetadata.emplace_back(name, std::move(bytes));
}

bool CMcapWriter::Write(uint16_t channel, uint64_t logTime, uint64_t publishTime, std::span<const uint8_t> data) {
  if (mError != 0 || mDone || channel == 0 || channel > mChannels.size()) return false;
  T_Channel& stream = mChannels[channel - 1];
  stream.index.push_back(logTime);
  stream.index.push_back(mChunk.size());
  CFields record(mChunk);
  record.Begin(eMessage).Int(channel).Int(stream.sequence++).Int(logTime).Int(publishTime).Bytes(data.data(),
                                                                                                 data.size());
  record.End();
  ++stream.messages;
  mChunkStart = mChunkHasMessages ? std::min(mChunkStart, logTime) : logTime;
  mChunkEnd = mChunkHasMessages ? std::max(mChunkEnd, logTime) : logTime;
  mChunkHasMessages = true;
  mFirstLogTime = mMessageCount == 0 ? logTime : std::min(mFirstLogTime, logTime);
  mLastLogTime = mMessageCount == 0 ? logTime : std::max(mLastLogTime, logTime);
  ++mMessageCount;
  return mChunk.size() < kChunkBytes || FlushChunk();
}

bool CMcapWriter::FlushChunk() {
  if (mError != 0) return false;
  if (!mChunkHasMessages) return true;
  mCompressed.resize(ZSTD_compressBound(mChunk.size()));
  const size_t compressed =
      ZSTD_compressCCtx(mZstd, mCompressed.data(), mCompressed.size(), mChunk.data(), mChunk.size(), kZstdLevel);
  if (ZSTD_isError(compressed)) {
    Fail(EIO);
    return false;
  }
  T_ChunkIndex index{};
  index.start = mChunkStart;
  index.end = mChunkEnd;
  index.offset = mOffset;
  index.compressedSize = compressed;
  index.uncompressedSize = mChunk.size();
  mScratch.clear();
  CFields chunk(mScratch);
  chunk.Begin(eChunk)
      .Int(mChunkStart)
      .Int(mChunkEnd)
      .Int<uint64_t>(mChunk.size())
      .Int(Crc(0, mChunk.data(), mChunk.size()))
      .String("zstd")
      .Int<uint64_t>(compressed)
      .Bytes(mCompressed.data(), compressed)
      .End();
  index.length = mScratch.size();
  uint64_t at = mOffset + mScratch.size();
  for (size_t id = 1; id <= mChannels.size(); ++id) {
    T_Channel& stream = mChannels[id - 1];
    if (stream.index.empty()) continue;
    const size_t before = mScratch.size();
    CFields messageIndex(mScratch);
    messageIndex.Begin(eMessageIndex).Int(static_cast<uint16_t>(id)).Int<uint32_t>(
        static_cast<uint32_t>(stream.index.size() * 8));
    for (const uint64_t value : stream.index) messageIndex.Int(value);
    messageIndex.End();
    index.messageIndexOffsets.emplace_back(static_cast<uint16_t>(id), at);
    at += mScratch.size() - before;
    stream.index.clear();
  }
  index.messageIndexLength = at - mOffset - index.length;
  mChunk.clear();
  mChunkHasMessages = false;
  if (!Emit(mScratch)) return false;
  mCompleteBytes = mOffset;
  mChunkIndexes.push_back(std::move(index));
  return true;
}

bool CMcapWriter::Finish() {
  if (mDone) return mError == 0;
  if (!FlushChunk()) {
    Abandon();
    return false;
  }
  std::vector<uint64_t> metadataOffsets;
  for (const auto& [name, record] : mMetadata) {
    metadataOffsets.push_back(mOffset);
    if (!Emit(record)) break;
  }
  mScratch.clear();
  CFields(mScratch).Begin(eDataEnd).Int(mDataCrc).End();
  Emit(mScratch, false);
  // The summary, grouped by opcode, each group's place in a summary offset.
  const uint64_t summaryStart = mOffset;
  std::vector<uint8_t> summary;
  std::vector<std::pair<uint8_t, std::pair<uint64_t, uint64_t>>> groups;
  auto group = [&](uint8_t opcode, auto&& write) {
    const size_t before = summary.size();
    write();
    if (summary.size() > before) groups.push_back({opcode, {summaryStart + before, summary.size() - before}});
  };
  group(eSchema, [&] {
    for (const auto& record : mSchemas) summary.insert(summary.end(), record.begin(), record.end());
  });
  group(eChannel, [&] {
    for (const auto& channel : mChannels) summary.insert(summary.end(), channel.record.begin(), channel.record.end());
  });
  group(eChunkIndex, [&] {
    for (const T_ChunkIndex& index : mChunkIndexes) {
      CFields record(summary);
      record.Begin(eChunkIndex).Int(index.start).Int(index.end).Int(index.offset).Int(index.length);
      record.Int<uint32_t>(static_cast<uint32_t>(index.messageIndexOffsets.size() * 10));
      for (const auto& [channel, offset] : index.messageIndexOffsets) record.Int(channel).Int(offset);
      record.Int(index.messageIndexLength).String("zstd").Int(index.compressedSize).Int(index.uncompressedSize);
      record.End();
    }
  });
  group(eMetadataIndex, [&] {
    for (size_t i = 0; i < metadataOffsets.size(); ++i) {
      CFields(summary)
          .Begin(eMetadataIndex)
          .Int(metadataOffsets[i])
          .Int<uint64_t>(mMetadata[i].second.size())
          .String(mMetadata[i].first)
          .End();
    }
  });
  group(eStatistics, [&] {
    CFields record(summary);
    record.Begin(eStatistics)
        .Int(mMessageCount)
        .Int(static_cast<uint16_t>(mSchemas.size()))
        .Int(static_cast<uint32_t>(mChannels.size()))
        .Int<uint32_t>(0)
        .Int(static_cast<uint32_t>(mMetadata.size()))
        .Int(static_cast<uint32_t>(mChunkIndexes.size()))
        .Int(mMessageCount ? mFirstLogTime : 0)
        .Int(mMessageCount ? mLastLogTime : 0);
    record.Int<uint32_t>(static_cast<uint32_t>(mChannels.size() * 10));
    for (size_t id = 1; id <= mChannels.size(); ++id) {
      record.Int(static_cast<uint16_t>(id)).Int(mChannels[id - 1].messages);
    }
    record.End();
  });
  const uint64_t summaryOffsetStart = summaryStart + summary.size();
  for (const auto& [opcode, place] : groups) {
    CFields(summary).Begin(eSummaryOffset).Int(opcode).Int(place.first).Int(place.second).End();
  }
  // The footer, its CRC over the summary up to and including its own
  // summary_offset_start.
  summary.push_back(eFooter);
  CFields footer(summary);
  footer.Int<uint64_t>(20).Int(summaryStart).Int(summaryOffsetStart);
  footer.Int(Crc(0, summary.data(), summary.size()));
  summary.insert(summary.end(), kMagic, kMagic + sizeof kMagic);
  Emit(summary, false);
  if (mError != 0) {
    Abandon();
    return false;
  }
  mDone = true;
  if (::close(mFd) != 0) {
    Fail(errno);
    return false;
  }
  return true;
}

void CMcapWriter::Abandon() {
  if (mDone) return;
  mDone = true;
  [[maybe_unused]] const int cut = ::ftruncate(mFd, static_cast<off_t>(mCompleteBytes));
  ::close(mFd);
}

}  // namespace skarvmcap
