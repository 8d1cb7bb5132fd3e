#include "CsvReader.h"

#include "CsvColumns.h"
#include "CsvLine.h"
#include "EscapedText.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace recording {

namespace {

constexpr size_t kBufferBytes = 64 * 1024;
static_assert(kBufferBytes > CCsvReader::kMaxLineLength);

using T_Column = T_CsvColumn;
constexpr const std::array<T_CsvColumn, kCsvColumnCount>& kColumns = kCsvColumns;

constexpr bool IsScaled(const T_Column& column) { return column.kind == ECsvKind::eScaled; }

// A number as printf's "%g" writes it in the C locale, whatever the
// program's locale (Qt sets the user's, where a decimal comma is common).
std::string ShortText(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

std::string RangeText(const T_Column& column) {
  if (IsScaled(column)) {
    return ShortText(static_cast<double>(column.min) * column.scale + column.offset) + " to " +
           ShortText(static_cast<double>(column.max) * column.scale + column.offset);
  }
  return std::to_string(column.min) + " to " + std::to_string(column.max);
}

// A scaled value in millionths, the six decimals the recording writes.
using Micros = int64_t;
constexpr int kDecimals = 6;
constexpr std::array<int64_t, kDecimals + 1> kDecimalPowers = {1, 10, 100, 1000, 10000, 100000, 1000000};

// The value `text` ("[-]digits[.digits]", as from_chars read it) stands for,
// in millionths; false when it is finer than that (a digit other than 0
// after the sixth decimal) or too large to be any column's.
bool TextMicros(std::string_view text, Micros& micros) {
  size_t at = 0;
  const bool negative = !text.empty() && text[0] == '-';
  at += negative ? 1 : 0;
  int64_t whole = 0;
  for (; at < text.size() && text[at] != '.'; ++at) {
    whole = whole * 10 + (text[at] - '0');
    if (whole > 1'000'000'000) {
      return false;
    }
  }
  int64_t fraction = 0;
  int decimals = 0;
  for (at += at < text.size() ? 1 : 0; at < text.size(); ++at) {
    if (decimals < kDecimals) {
      fraction = fraction * 10 + (text[at] - '0');
      ++decimals;
    } else if (text[at] != '0') {
      return false;
    }
  }
  const Micros magnitude = whole * kDecimalPowers[kDecimals] + fraction * kDecimalPowers[kDecimals - decimals];
  micros = negative ? -magnitude : magnitude;
  return true;
}

// What the recording writes for `word` in a scaled column, in millionths.
Micros WrittenValue(const T_Column& column, long long word) {
  Micros micros = 0;
  WrittenMicros(ScaledValue(column, static_cast<uint16_t>(word)), micros);
  return micros;
}

std::string MicrosText(Micros micros) {
  char text[40];
  const Micros magnitude = micros < 0 ? -micros : micros;
  std::snprintf(text, sizeof text, "%s%lld.%06lld", micros < 0 ? "-" : "", static_cast<long long>(magnitude / 1000000),
                static_cast<long long>(magnitude % 1000000));
  return text;
}

// The raw word of a scaled column for a value read as `number` (whose text
// stands for `micros`, when `exact`); false with what is wrong when no raw
// word is written that way.
bool ScaledWord(const T_Column& column, std::string_view field, double number, bool exact, Micros micros,
                long long& value, std::string& what) {
  const double raw = std::nearbyint((number - column.offset) / column.scale);
  if (!(raw >= static_cast<double>(column.min) && raw <= static_cast<double>(column.max))) {
    what = std::string(column.name) + " " + EscapedText(field) + " is out of range (" + RangeText(column) + ")";
    return false;
  }
  value = static_cast<long long>(raw);
  const Micros written = WrittenValue(column, value);
  if (!exact || micros != written) {
    what = std::string(column.name) + " " + EscapedText(field) + " is not a value the recording writes (the nearest is " +
           MicrosText(written) + ")";
    return false;
  }
  return true;
}

// Parses a field into the column's word; on failure says what is wrong.
bool ParseField(const T_Column& column, std::string_view field, long long& value, std::string& what) {
  const char* first = field.data();
  const char* last = field.data() + field.size();
  const auto quoted = [&] { return "\"" + EscapedText(field) + "\""; };
  if (IsScaled(column)) {
    double number = 0;
    const auto [end, ec] = std::from_chars(first, last, number, std::chars_format::fixed);
    if (field.empty() || ec != std::errc() || end != last || !std::isfinite(number)) {
      what = std::string(column.name) + " " + quoted() + " is not a number";
      return false;
    }
    Micros micros = 0;
    const bool exact = TextMicros(field, micros);
    return ScaledWord(column, field, number, exact, micros, value, what);
  }
  const auto [end, ec] = std::from_chars(first, last, value);
  if (field.empty() || ec == std::errc::invalid_argument || end != last) {
    what = std::string(column.name) + " " + quoted() + " is not a whole number";
    return false;
  }
  if (ec == std::errc::result_out_of_range || value < column.min || value > column.max) {
    what = std::string(column.name) + " " + EscapedText(field) + " is out of range (" + RangeText(column) + ")";
    return false;
  }
  return true;
}

constexpr std::array<double, 16> kPowersOfTen = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Reads a run of decimal digits into `value`; the number of digits read.
int ReadDigits(const char*& at, const char* end, uint64_t& value) {
  int digits = 0;
  while (at != end && static_cast<unsigned>(*at - '0') < 10) {
    value = value * 10 + static_cast<unsigned>(*at - '0');
    ++digits;
    ++at;
  }
  return digits;
}

// std::nearbyint in the default rounding mode, without a library call for
// the usual case: adding 2^52 to a value below it rounds it to an integer
// (ties to even), and taking 2^52 away again is exact.
double RoundToInteger(double value) {
  constexpr double kTwoTo52 = 4503599627370496.0;
  if (value >= 0 && value < kTwoTo52) {
    return (value + kTwoTo52) - kTwoTo52;
  }
  return std::nearbyint(value);
}

// The common case in one pass: a line of exactly the columns' fields, each
// plain digits (with a leading minus, and for a scaled column a decimal
// point with at most six digits after it) and a value the recording writes
// in its column. Gives the values ParseField would give; false for anything
// else, which ParseField then reads field by field and says what is wrong.
bool ParseUsualLine(std::string_view line, std::array<long long, CCsvReader::kFields>& values) {
  const char* at = line.data();
  const char* const end = at + line.size();
  for (size_t field = 0; field < kColumns.size(); ++field) {
    const T_Column& column = kColumns[field];
    const bool negative = at != end && *at == '-';
    at += negative ? 1 : 0;
    uint64_t digits = 0;
    const int whole = ReadDigits(at, end, digits);
    if (whole == 0) {
      return false;
    }
    if (IsScaled(column)) {
      int fraction = 0;
      if (at != end && *at == '.') {
        ++at;
        fraction = ReadDigits(at, end, digits);
        if (fraction == 0) {
          return false;
        }
      }
      if (whole + fraction > 15 || fraction > kDecimals) {
        return false;
      }
      // Both operands are exact doubles, so the quotient is the correctly
      // rounded value of the text, as from_chars reads it.
      const double magnitude = static_cast<double>(digits) / kPowersOfTen[static_cast<size_t>(fraction)];
      const double number = negative ? -magnitude : magnitude;
      const double raw = RoundToInteger((number - column.offset) / column.scale);
      if (!(raw >= static_cast<double>(column.min) && raw <= static_cast<double>(column.max))) {
        return false;
      }
      const Micros micros = static_cast<Micros>(digits) * kDecimalPowers[static_cast<size_t>(kDecimals - fraction)];
      const long long word = static_cast<long long>(raw);
      if ((negative ? -micros : micros) != WrittenValue(column, word)) {
        return false;
      }
      values[field] = word;
    } else {
      if (whole > 18) {
        return false;
      }
      const long long value = negative ? -static_cast<long long>(digits) : static_cast<long long>(digits);
      if (value < column.min || value > column.max) {
        return false;
      }
      values[field] = value;
    }
    const bool lastField = field + 1 == kColumns.size();
    if (lastField ? at != end : (at == end || *at != ',')) {
      return false;
    }
    at += lastField ? 0 : 1;
  }
  return true;
}

}  // namespace

CCsvReader::CCsvReader(std::string path) : mPath(std::move(path)) {}

CCsvReader::~CCsvReader() {
  if (mFd >= 0) {
    ::close(mFd);
  }
}

void CCsvReader::Fail(const std::string& what) {
  mError = EscapedText(mPath) + ": " + what;
  mFailed = true;
}

bool CCsvReader::OpenFile() {
  // Not blocking: a pipe without a writer yet opens at once, and is waited
  // for in poll(), where an interrupt can end the wait.
  mFd = ::open(mPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (mFd < 0) {
    Fail(std::strerror(errno));
    return false;
  }
  mBuffer.resize(kBufferBytes);
  struct stat info {};
  mSeekable = ::fstat(mFd, &info) == 0 && S_ISREG(info.st_mode);
  return true;
}

bool CCsvReader::Position(T_RecordPosition& at) const {
  if (!mSeekable || !mHeaderRead || mFailed) {
    return false;
  }
  at = T_RecordPosition{mBufferOffset + mBegin, mLine, 0};
  return true;
}

bool CCsvReader::SeekTo(const T_RecordPosition& at) {
  if (!mSeekable || mFailed || ::lseek(mFd, static_cast<off_t>(at.offset), SEEK_SET) < 0) {
    return false;
  }
  mBufferOffset = at.offset;
  mBegin = mEnd = 0;
  mAtEof = false;
  mFinished = false;
  mHeaderRead = true;
  mLine = at.line;
  kiv::T_RawRecord passed;
  for (uint64_t i = 0; i < at.skip; ++i) {
    if (Next(passed) != EResult::eRecord) {
      return !mFailed;
    }
  }
  return true;
}

bool CCsvReader::Open(int interruptFd) {
  mInterruptFd = interruptFd;
  return OpenFile() && ReadHeader(true) == EResult::eRecord;
}

CRecordSource::EResult CCsvReader::ReadHeader(bool wait) {
  std::string_view line;
  bool ended = false;
  switch (ReadLine(line, ended, wait)) {
    case ELine::eWait:
      return EResult::eWait;
    case ELine::eFailed:
      return EResult::eError;
    case ELine::eEnd:
      if (mInterrupted) {
        Fail("stopped while waiting for its first line");
        return EResult::eEnd;
      }
      Fail("empty file, not a recording");
      return EResult::eError;
    case ELine::eLine:
      break;
  }
  if (line != CsvHeader()) {
    Fail("not a recording (its first line is not the recording header)");
    return EResult::eError;
  }
  mHeaderRead = true;
  return EResult::eRecord;
}

CRecordSource::EResult CCsvReader::Next(kiv::T_RawRecord& out) {
  if (!mHeaderRead && !mFailed && !mFinished) {
    // Opened without its header (a loop's next pass): it comes first.
    const EResult header = ReadHeader(false);
    if (header == EResult::eEnd) {
      mFinished = true;
      mError.clear();  // interrupted: an end, not a fault
      return EResult::eEnd;
    }
    if (header != EResult::eRecord) {
      return header;
    }
  }
  while (!mFailed && !mFinished) {
    std::string_view line;
    bool ended = false;
    switch (ReadLine(line, ended, false)) {
      case ELine::eWait:
        return EResult::eWait;
      case ELine::eFailed:
        break;
      case ELine::eEnd:
        mFinished = true;
        break;
      case ELine::eLine:
        if (!ended) {
          // A recording ends every line, so the file was cut inside this one.
          FailAtLine("the file ends inside this line");
          break;
        }
        if (line.empty()) {
          continue;  // an empty line carries no record
        }
        if (mHeaderStartsPass && line == CsvHeader()) {
          ++mPasses;  // the file again, from its first record
          continue;
        }
        if (ParseLine(line, out)) {
          return EResult::eRecord;
        }
        break;
    }
  }
  return mFailed ? EResult::eError : EResult::eEnd;
}

void CCsvReader::FailAtLine(const std::string& what) {
  mError = EscapedText(mPath) + ":" + std::to_string(mLine) + ": " + what;
  mFailed = true;
}

bool CCsvReader::Poll(int timeoutMs) {
  for (;;) {
    pollfd ready[2] = {{mFd, POLLIN, 0}, {mInterruptFd, POLLIN, 0}};
    const int n = ::poll(ready, mInterruptFd >= 0 ? 2 : 1, timeoutMs);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      Fail(std::strerror(errno));
      return true;
    }
    if (mInterruptFd >= 0 && (ready[1].revents & POLLIN) != 0) {
      mInterrupted = true;
      return true;
    }
    return ready[0].revents != 0;
  }
}

long CCsvReader::ReadMore(bool wait) {
  for (;;) {
    // Reads only what poll() says is there: a pipe with no writer yet, or
    // one that pauses, gives nothing to read (a read would even say "end"),
    // and a wait in poll() ends with an interrupt.
    if (!Poll(wait ? -1 : 0)) {
      if (!wait) {
        return -1;
      }
      continue;
    }
    if (mFailed || mInterrupted) {
      return 0;
    }
    const ssize_t got = ::read(mFd, mBuffer.data() + mEnd, mBuffer.size() - mEnd);
    if (got >= 0) {
      return static_cast<long>(got);  // 0: the end of the file, or of the pipe's writer
    }
    if (errno != EINTR && errno != EAGAIN) {
      Fail(std::strerror(errno));
      return 0;
    }
  }
}

bool CCsvReader::AwaitRecords(int ms) {
  if (mFd < 0 || mFailed || mFinished || mInterrupted ||
      std::memchr(mBuffer.data() + mBegin, '\n', mEnd - mBegin) != nullptr) {
    return true;
  }
  return Poll(ms);
}

CCsvReader::ELine CCsvReader::ReadLine(std::string_view& line, bool& ended, bool wait) {
  if (mFd < 0) {
    return ELine::eEnd;
  }
  for (;;) {
    const char* begin = mBuffer.data() + mBegin;
    const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', mEnd - mBegin));
    size_t length = 0;
    if (newline) {
      length = static_cast<size_t>(newline - begin);
      ended = true;
    } else if (mAtEof) {
      if (mBegin == mEnd || mInterrupted) {
        return ELine::eEnd;  // interrupted, a partly read line is dropped
      }
      length = mEnd - mBegin;
      ended = false;
    }
    if (newline || mAtEof) {
      ++mLine;
      mBegin += length + (ended ? 1 : 0);
      if (length > 0 && begin[length - 1] == '\r') {
        --length;
      }
      if (length > kMaxLineLength) {
        FailAtLine("line longer than " + std::to_string(kMaxLineLength) + " characters");
        return ELine::eFailed;
      }
      line = std::string_view(begin, length);
      return ELine::eLine;
    }
    // No whole line in the buffer: keep what is there and read more.
    if (mEnd - mBegin > kMaxLineLength + 1) {
      ++mLine;
      FailAtLine("line longer than " + std::to_string(kMaxLineLength) + " characters");
      return ELine::eFailed;
    }
    std::memmove(mBuffer.data(), begin, mEnd - mBegin);
    mBufferOffset += mBegin;
    mEnd -= mBegin;
    mBegin = 0;
    const long got = ReadMore(wait);
    if (mFailed) {
      return ELine::eFailed;
    }
    if (got < 0) {
      return ELine::eWait;
    }
    mEnd += static_cast<size_t>(got);
    mAtEof = got == 0;
  }
}

bool CCsvReader::ParseLine(std::string_view line, kiv::T_RawRecord& out) {
  std::array<long long, kFields> values{};
  if (!ParseUsualLine(line, values) && !ParseFields(line, values)) {
    return false;
  }
  out = kiv::T_RawRecord{};
  // An IMU column's word is the two's complement of its signed value.
  SetColumnWords(out, values);
  return true;
}

bool CCsvReader::ParseFields(std::string_view line, std::array<long long, kFields>& values) {
  size_t field = 0;
  size_t at = 0;
  std::string lastFieldWrong;  // what is wrong with the line's last field
  for (;;) {
    const size_t comma = line.find(',', at);
    const bool last = comma == std::string_view::npos;
    const std::string_view text = line.substr(at, last ? std::string_view::npos : comma - at);
    std::string what;
    if (field < kFields && !ParseField(kColumns[field], text, values[field], what)) {
      if (!last) {
        FailAtLine(what);
        return false;
      }
      // Said only when the line has the right number of fields: the field
      // count says more about a line that is short.
      lastFieldWrong = what;
    }
    ++field;
    if (last) {
      break;
    }
    at = comma + 1;
  }
  if (field != kFields) {
    FailAtLine(std::to_string(field) + " fields, expected " + std::to_string(kFields));
    return false;
  }
  if (!lastFieldWrong.empty()) {
    FailAtLine(lastFieldWrong);
    return false;
  }
  return true;
}

}  // namespace recording
