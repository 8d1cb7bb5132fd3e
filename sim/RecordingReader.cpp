#include "RecordingReader.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace sim {

namespace {

constexpr size_t kBufferBytes = 64 * 1024;
static_assert(kBufferBytes > CRecordingReader::kMaxLineLength);

// How one column turns into its word: an integer column is the word itself
// (or, for the IMU, its signed value); a scaled column is raw x scale + offset.
struct T_Column {
  const char* name;
  bool scaled;
  double scale;
  double offset;
  long long min;  // of the integer, or of the raw word for a scaled column
  long long max;
};

constexpr T_Column kImuColumn(const char* name) { return {name, false, 0, 0, -32768, 32767}; }

constexpr std::array<T_Column, CRecordingReader::kFields> kColumns = {{
    {"Count", false, 0, 0, 0, 65535},
    {"DeltTime", false, 0, 0, 0, 16383},
    {"Distance", true, 0.1, 0.0, 0, 65535},
    {"Width", false, 0, 0, 0, 65535},
    {"AnaTemp", true, 0.01162, -27.0, 0, 65535},
    {"ScanState", false, 0, 0, 0, 1},
    {"LaserPower", false, 0, 0, 0, 65535},
    {"SupplyVoltage", true, 0.0022711, 1.06, 0, 65535},
    kImuColumn("AccelX"),
    kImuColumn("AccelY"),
    kImuColumn("AccelZ"),
    kImuColumn("IMUTemp"),
    kImuColumn("GyroX"),
    kImuColumn("GyroY"),
    kImuColumn("GyroZ"),
    kImuColumn("MagX"),
    kImuColumn("MagY"),
    kImuColumn("MagZ"),
}};

std::string RangeText(const T_Column& column) {
  char text[96];
  if (column.scaled) {
    std::snprintf(text, sizeof text, "%g to %g", column.min * column.scale + column.offset,
                  column.max * column.scale + column.offset);
  } else {
    std::snprintf(text, sizeof text, "%lld to %lld", column.min, column.max);
  }
  return text;
}

// Parses a field into the column's word; on failure says what is wrong.
bool ParseField(const T_Column& column, std::string_view field, long long& value, std::string& what) {
  const char* first = field.data();
  const char* last = field.data() + field.size();
  const auto quoted = [&] {
    std::string text(1, '"');
    text.append(field).push_back('"');
    return text;
  };
  if (column.scaled) {
    double number = 0;
    const auto [end, ec] = std::from_chars(first, last, number, std::chars_format::fixed);
    if (field.empty() || ec != std::errc() || end != last || !std::isfinite(number)) {
      what = std::string(column.name) + " " + quoted() + " is not a number";
      return false;
    }
    const double raw = std::nearbyint((number - column.offset) / column.scale);
    if (!(raw >= static_cast<double>(column.min) && raw <= static_cast<double>(column.max))) {
      what = std::string(column.name) + " " + std::string(field) + " is out of range (" + RangeText(column) + ")";
      return false;
    }
    value = static_cast<long long>(raw);
    return true;
  }
  const auto [end, ec] = std::from_chars(first, last, value);
  if (field.empty() || ec == std::errc::invalid_argument || end != last) {
    what = std::string(column.name) + " " + quoted() + " is not a whole number";
    return false;
  }
  if (ec == std::errc::result_out_of_range || value < column.min || value > column.max) {
    what = std::string(column.name) + " " + std::string(field) + " is out of range (" + RangeText(column) + ")";
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
// point with digits on both sides) and within its column's range. Gives the
// values ParseField would give; false for anything else, which ParseField
// then reads field by field and says what is wrong.
bool ParseUsualLine(std::string_view line, std::array<long long, CRecordingReader::kFields>& values) {
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
    if (column.scaled) {
      int fraction = 0;
      if (at != end && *at == '.') {
        ++at;
        fraction = ReadDigits(at, end, digits);
        if (fraction == 0) {
          return false;
        }
      }
      if (whole + fraction > 15) {
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
      values[field] = static_cast<long long>(raw);
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

CRecordingReader::CRecordingReader(std::string path) : mPath(std::move(path)) {}

CRecordingReader::~CRecordingReader() {
  if (mFile) {
    std::fclose(mFile);
  }
}

bool CRecordingReader::Open() {
  mFile = std::fopen(mPath.c_str(), "rb");
  if (!mFile) {
    mError = mPath + ": " + std::strerror(errno);
    mFailed = true;
    return false;
  }
  // The reader keeps its own buffer: the stream's would only split each
  // read in two.
  std::setvbuf(mFile, nullptr, _IONBF, 0);
  mBuffer.resize(kBufferBytes);
  std::string_view line;
  bool ended = false;
  switch (ReadLine(line, ended)) {
    case ELine::eFailed:
      return false;
    case ELine::eEnd:
      mError = mPath + ": empty file, not a recording";
      mFailed = true;
      return false;
    case ELine::eLine:
      break;
  }
  if (line != kHeader) {
    mError = mPath + ": not a recording (its first line is not the recording header)";
    mFailed = true;
    return false;
  }
  return true;
}

CRecordSource::EResult CRecordingReader::Next(T_PlaybackRecord& out) {
  while (!mFailed && !mFinished) {
    std::string_view line;
    bool ended = false;
    switch (ReadLine(line, ended)) {
      case ELine::eFailed:
        break;
      case ELine::eEnd:
        mFinished = true;
        break;
      case ELine::eLine:
        if (line.empty()) {
          continue;  // an empty line carries no record
        }
        if (ParseLine(line, ended, out)) {
          return EResult::eRecord;
        }
        break;
    }
  }
  return mFailed ? EResult::eError : EResult::eEnd;
}

void CRecordingReader::FailAtLine(const std::string& what) {
  mError = mPath + ":" + std::to_string(mLine) + ": " + what;
  mFailed = true;
}

CRecordingReader::ELine CRecordingReader::ReadLine(std::string_view& line, bool& ended) {
  if (!mFile) {
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
      if (mBegin == mEnd) {
        return ELine::eEnd;
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
    mEnd -= mBegin;
    mBegin = 0;
    const size_t got = std::fread(mBuffer.data() + mEnd, 1, mBuffer.size() - mEnd, mFile);
    mEnd += got;
    if (got == 0) {
      if (std::ferror(mFile)) {
        mError = mPath + ": " + std::strerror(errno);
        mFailed = true;
        return ELine::eFailed;
      }
      mAtEof = true;
    }
  }
}

bool CRecordingReader::ParseLine(std::string_view line, bool ended, T_PlaybackRecord& out) {
  std::array<long long, kFields> values{};
  if (!ParseUsualLine(line, values) && !ParseFields(line, ended, values)) {
    return false;
  }
  out = T_PlaybackRecord{};
  out.count = static_cast<uint16_t>(values[0]);
  out.deltTime = static_cast<uint16_t>(values[1]);
  out.rawDistance = static_cast<uint16_t>(values[2]);
  out.width = static_cast<uint16_t>(values[3]);
  out.rawAnaTemp = static_cast<uint16_t>(values[4]);
  out.scanState = static_cast<uint8_t>(values[5]);
  out.laserPower = static_cast<uint16_t>(values[6]);
  out.rawSupplyVoltage = static_cast<uint16_t>(values[7]);
  for (size_t i = 0; i < out.imu.size(); ++i) {
    out.imu[i] = static_cast<uint16_t>(values[8 + i]);  // two's complement of the signed value
  }
  return true;
}

bool CRecordingReader::ParseFields(std::string_view line, bool ended, std::array<long long, kFields>& values) {
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
      // Said only when the line has the right number of fields: a field that
      // a short line ends with is more likely cut off than wrong.
      lastFieldWrong = what;
    }
    ++field;
    if (last) {
      break;
    }
    at = comma + 1;
  }
  if (field != kFields) {
    FailAtLine(std::to_string(field) + " fields, expected " + std::to_string(kFields) +
               (ended ? "" : " (the file ends inside this line)"));
    return false;
  }
  if (!lastFieldWrong.empty()) {
    FailAtLine(lastFieldWrong);
    return false;
  }
  return true;
}

}  // namespace sim
