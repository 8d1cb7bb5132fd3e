#include "McapRecordSource.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "CdrReader.h"
#include "Diagnostics.h"
#include "RecordSamples.h"

namespace skarvmcap {

namespace {

constexpr uint8_t kMagic[8] = {0x89, 'M', 'C', 'A', 'P', 0x30, '\r', '\n'};
constexpr uint8_t kHeader = 0x01, kChannel = 0x04, kMessage = 0x05, kChunk = 0x06, kDataEnd = 0x0F;
constexpr char kRecordsTopic[] = "/records";

// Little-endian fields of a record, every read checked against its end.
class CFieldReader {
 public:
  CFieldReader(const uint8_t* data, uint64_t size) : mData(data), mSize(size) {}
  bool Ok() const { return mOk; }
  uint64_t At() const { return mAt; }
  template <typename T>
  T Int() {
    if (!Fits(sizeof(T))) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= uint64_t{mData[mAt + i]} << (8 * i);
    mAt += sizeof(T);
    return static_cast<T>(value);
  }
  std::string_view String() {
    const uint32_t length = Int<uint32_t>();
    if (!Fits(length)) return {};
    const std::string_view text(reinterpret_cast<const char*>(mData + mAt), length);
    mAt += length;
    return text;
  }
  // Passes over `length` bytes; a pointer to them.
  const uint8_t* Bytes(uint64_t length) {
    if (!Fits(length)) return nullptr;
    const uint8_t* bytes = mData + mAt;
    mAt += length;
    return bytes;
  }

 private:
  bool Fits(uint64_t length) {
    mOk = mOk && length <= mSize - mAt;
    return mOk;
  }
  const uint8_t* mData;
  uint64_t mSize;
  uint64_t mAt = 0;
  bool mOk = true;
};

}  // namespace

CMcapRecordSource::CMcapRecordSource(std::string path) : mPath(std::move(path)) {}

CMcapRecordSource::~CMcapRecordSource() {
  if (mFile) std::fclose(mFile);
  ZSTD_freeDCtx(mZstd);
}

bool CMcapRecordSource::LooksLikeMcap(const std::string& path) {
  // Only a file is looked into: opening a pipe would wait for its writer,
  // and take the first bytes from the reader that follows.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  uint8_t magic[sizeof kMagic] = {};
  const bool mcap = std::fread(magic, 1, sizeof magic, file) == sizeof magic &&
                    std::memcmp(magic, kMagic, sizeof magic) == 0;
  std::fclose(file);
  return mcap;
}

bool CMcapRecordSource::Fail(const std::string& why) {
  mError = mPath + ": " + why;
  mEnded = true;
  return false;
}

bool CMcapRecordSource::Open() {
  mFile = std::fopen(mPath.c_str(), "rb");
  if (!mFile) return Fail(std::strerror(errno));
  struct stat info {};
  if (::fstat(::fileno(mFile), &info) != 0) return Fail(std::strerror(errno));
  mFileSize = static_cast<uint64_t>(info.st_size);
  mZstd = ZSTD_createDCtx();
  uint8_t magic[sizeof kMagic] = {};
  if (std::fread(magic, 1, sizeof magic, mFile) != sizeof magic || std::memcmp(magic, kMagic, sizeof magic) != 0) {
    return Fail("not an MCAP file");
  }
  mOffset = sizeof magic;
  uint8_t opcode = 0;
  if (!ReadRecord(opcode) || opcode != kHeader) {
    return mError.empty() ? Fail("not an MCAP file: no header") : false;
  }
  return true;
}

bool CMcapRecordSource::ReadRecord(uint8_t& opcode) {
  uint8_t prefix[9];
  const size_t got = std::fread(prefix, 1, sizeof prefix, mFile);
  uint64_t length = 0;
  for (int i = 0; i < 8; ++i) length |= uint64_t{prefix[1 + i]} << (8 * i);
  // A record longer than what is left of the file is one cut short: the
  // file ends inside it, whatever its length says.
  if (got == sizeof prefix && length > mFileSize - std::min(mFileSize, mOffset + sizeof prefix)) {
    mCut = true;
    mEnded = true;
    return false;
  }
  if (got == sizeof prefix && length <= kMaxChunkBytes + 1024) {
    mRecord.resize(length);
    if (std::fread(mRecord.data(), 1, length, mFile) == length) {
      opcode = prefix[0];
      mOffset += sizeof prefix + length;
      return true;
    }
  } else if (got == sizeof prefix) {
    return Fail("the record at byte " + std::to_string(mOffset) + " is longer than a record may be");
  }
  if (std::ferror(mFile)) return Fail(std::strerror(errno));
  // The file ends inside a record, or after one that was not the data end.
  mCut = true;
  mEnded = true;
  return false;
}

bool CMcapRecordSource::Take(uint8_t opcode, const uint8_t* content, uint64_t length) {
  CFieldReader fields(content, length);
  if (opcode == kChannel) {
    const uint16_t id = fields.Int<uint16_t>();
    fields.Int<uint16_t>();  // its schema: the records' words are read as the batch lays them out
    const std::string_view topic = fields.String();
    const std::string_view encoding = fields.String();
    if (!fields.Ok()) return Fail("a damaged channel at byte " + std::to_string(mOffset));
    // "/records", or "/NS/records" under a namespace: the first such channel.
    const std::string_view suffix = kRecordsTopic;
    const bool records = topic.size() >= suffix.size() && topic.substr(topic.size() - suffix.size()) == suffix;
    if (records && mRecordsChannel == 0) {
      if (encoding != "cdr") return Fail("its /records channel is not in CDR");
      mRecordsChannel = id;
    }
  } else if (opcode == kMessage) {
    const uint16_t channel = fields.Int<uint16_t>();
    if (!fields.Ok()) return Fail("a damaged message at byte " + std::to_string(mOffset));
    if (mRecordsChannel == 0 || channel != mRecordsChannel) return true;
    const uint64_t header = 2 + 4 + 8 + 8;
    if (length < header) return Fail("a damaged message at byte " + std::to_string(mOffset));
    CCdrReader cdr(content + header, length - header);
    cdr.Get<int32_t>();  // the stamp
    cdr.Get<uint32_t>();
    cdr.String();  // the frame
    cdr.Get<uint64_t>();  // the batch number
    uint32_t count = 0;
    const uint8_t* words = cdr.Sequence(sizeof(uint16_t), count);
    if (!cdr.Ok() || count % skarvdds::kWordsPerRecord != 0) {
      return Fail("a record batch that is not whole, in the message at byte " + std::to_string(mOffset));
    }
    uint16_t record[skarvdds::kWordsPerRecord];
    for (uint32_t at = 0; at < count; at += skarvdds::kWordsPerRecord) {
      std::memcpy(record, words + size_t{at} * 2, sizeof record);
      mPending.push_back(skarvdds::UnpackRecord(std::span<const uint16_t, skarvdds::kWordsPerRecord>(record)));
    }
  } else if (opcode == kChunk) {
    return TakeChunk(content, length);
  }
  return true;
}

bool CMcapRecordSource::TakeChunk(const uint8_t* content, uint64_t length) {
  CFieldReader fields(content, length);
  fields.Int<uint64_t>();  // the span of log times
  fields.Int<uint64_t>();
  const uint64_t uncompressedSize = fields.Int<uint64_t>();
  const uint32_t crc = fields.Int<uint32_t>();
  const std::string_view compression = fields.String();
  const uint64_t size = fields.Int<uint64_t>();
  const uint8_t* records = fields.Bytes(size);
  const std::string where = "the chunk at byte " + std::to_string(mOffset);
  if (!fields.Ok() || uncompressedSize > kMaxChunkBytes) return Fail(where + " is damaged");
  const uint8_t* plain = records;
  if (compression == "zstd") {
    mChunk.resize(uncompressedSize);
    const size_t got = ZSTD_decompressDCtx(mZstd, mChunk.data(), mChunk.size(), records, size);
    if (ZSTD_isError(got) || got != uncompressedSize) return Fail(where + " does not decompress");
    plain = mChunk.data();
  } else if (!compression.empty()) {
    return Fail(where + " is compressed with " + std::string(compression) + ", which is not read here");
  } else if (size != uncompressedSize) {
    return Fail(where + " is damaged");
  }
  if (crc != 0 && static_cast<uint32_t>(::crc32(0, plain, static_cast<uInt>(uncompressedSize))) != crc) {
    return Fail(where + " does not match its CRC");
  }
  CFieldReader inner(plain, uncompressedSize);
  while (inner.Ok() && inner.At() < uncompressedSize) {
    const uint8_t opcode = inner.Int<uint8_t>();
    const uint64_t recordLength = inner.Int<uint64_t>();
    const uint8_t* record = inner.Bytes(recordLength);
    if (!inner.Ok()) return Fail(where + " is damaged");
    if (opcode == kChunk) return Fail(where + " holds a chunk");
    if (!Take(opcode, record, recordLength)) return false;
  }
  return true;
}

void CMcapRecordSource::Fill() {
  while (mPending.empty() && !mEnded) {
    uint8_t opcode = 0;
    if (!ReadRecord(opcode)) break;
    if (opcode == kDataEnd) {
      mEnded = true;
      break;
    }
    const uint64_t start = mOffset - 9 - mRecord.size();
    const uint64_t reading = mOffset;
    mOffset = start;  // records are named by where they start
    const bool taken = Take(opcode, mRecord.data(), mRecord.size());
    mOffset = reading;
    mPendingFrom = start;
    mPendingTaken = 0;
    if (!taken) break;
  }
}

bool CMcapRecordSource::Position(recording::T_RecordPosition& at) const {
  if (!mFile || !mError.empty()) return false;
  at = mPending.empty() ? recording::T_RecordPosition{mOffset, 0, 0}
                        : recording::T_RecordPosition{mPendingFrom, 0, mPendingTaken};
  return true;
}

bool CMcapRecordSource::SeekTo(const recording::T_RecordPosition& at) {
  // The records channel is known from the reading before: a seek lands
  // after the channel record, which it does not read again.
  if (!mFile || !mError.empty() || mRecordsChannel == 0 || at.offset < sizeof kMagic || at.offset > mFileSize ||
      std::fseek(mFile, static_cast<long>(at.offset), SEEK_SET) != 0) {
    return false;
  }
  mOffset = at.offset;
  mPending.clear();
  mEnded = false;
  mCut = false;
  Fill();
  const uint64_t passed = std::min<uint64_t>(at.skip, mPending.size());
  mPending.erase(mPending.begin(), mPending.begin() + static_cast<long>(passed));
  mPendingTaken = passed;
  return mError.empty();
}

recording::CRecordSource::EResult CMcapRecordSource::Next(kiv::T_RawRecord& out) {
  Fill();
  if (!mPending.empty()) {
    out = mPending.front();
    mPending.pop_front();
    ++mPendingTaken;
    return EResult::eRecord;
  }
  if (mCut && !mCutSaid) {
    mCutSaid = true;
    DiagWrite(EDiagLevel::eAlways, EDiagStream::eErr,
              mPath + ": the file was cut short; played up to its last complete chunk\n");
  }
  return mError.empty() ? EResult::eEnd : EResult::eError;
}

}  // namespace skarvmcap
