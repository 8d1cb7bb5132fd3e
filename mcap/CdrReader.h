#pragma once
// Reads plain CDR (XCDR1) as CCdrWriter writes it, every read checked
// against the end of the message: a value past it, or a length that does
// not fit, makes the reader fail (Ok() false) and every later read give 0.

#include <cstdint>
#include <cstring>
#include <string_view>

namespace skarvmcap {

class CCdrReader {
 public:
  // `data` starts with the encapsulation header, which must be CDR_LE.
  CCdrReader(const uint8_t* data, size_t size) : mData(data), mSize(size) {
    mOk = size >= 4 && data[0] == 0x00 && data[1] == 0x01;
    mAt = 4;
  }

  bool Ok() const { return mOk; }

  template <typename T>
  T Get() {
    T value{};
    if (Align(sizeof(T)) && Fits(sizeof(T))) {
      std::memcpy(&value, mData + mAt, sizeof(T));
      mAt += sizeof(T);
    }
    return value;
  }
  // A string without its terminating NUL.
  std::string_view String() {
    const uint32_t length = Get<uint32_t>();
    if (!mOk || length == 0 || !Fits(length) || mData[mAt + length - 1] != 0) {
      mOk = false;
      return {};
    }
    const std::string_view text(reinterpret_cast<const char*>(mData + mAt), length - 1);
    mAt += length;
    return text;
  }
  // A sequence's elements, in place: `count` of them of `size` bytes each
  // (nullptr when they do not fit).
  const uint8_t* Sequence(size_t size, uint32_t& count) {
    count = Get<uint32_t>();
    if (count == 0) return mOk ? mData + mAt : nullptr;
    if (!Align(size) || count > (mSize - mAt) / size) {
      mOk = false;
      count = 0;
      return nullptr;
    }
    const uint8_t* elements = mData + mAt;
    mAt += size_t{count} * size;
    return elements;
  }

 private:
  bool Fits(size_t size) {
    mOk = mOk && size <= mSize - mAt;
    return mOk;
  }
  bool Align(size_t size) {
    const size_t at = (mAt - 4) % size;
    if (at == 0) return mOk;
    if (!Fits(size - at)) return false;
    mAt += size - at;
    return true;
  }

  const uint8_t* mData;
  size_t mSize;
  size_t mAt = 0;
  bool mOk = false;
};

}  // namespace skarvmcap
