#pragma once
// Plain CDR (XCDR1), little-endian, as ROS 2 messages are serialised: a
// four-byte encapsulation header, then each value aligned to its own size
// (counted from after the header), strings as a length that counts their
// terminating NUL, sequences as a count then their elements. The bytes go
// into a buffer the caller keeps, cleared and refilled for each message, so
// a message written into a buffer that has held one as large allocates
// nothing.

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace skarvmcap {

static_assert(std::endian::native == std::endian::little, "the CDR writer copies values as the host holds them");

class CCdrWriter {
 public:
  // Starts a message in `out`, cleared first.
  explicit CCdrWriter(std::vector<uint8_t>& out) : mOut(out) {
    static constexpr uint8_t kEncapsulation[4] = {0x00, 0x01, 0x00, 0x00};  // CDR_LE, no options
    mOut.clear();
    Append(kEncapsulation, sizeof kEncapsulation);
  }

  template <typename T>
  void Put(T value) {
    Align(sizeof(T));
    Append(&value, sizeof(T));
  }
  void String(const char* text) {
    const uint32_t length = static_cast<uint32_t>(text ? std::strlen(text) : 0);
    Put<uint32_t>(length + 1);
    Append(text ? text : "", length + 1);
  }
  template <typename T>
  void Array(std::span<const T> values) {  // a fixed-size array: no count
    if (values.empty()) return;
    Align(sizeof(T));
    Append(values.data(), values.size_bytes());
  }
  template <typename T>
  void Sequence(std::span<const T> values) {
    Put<uint32_t>(static_cast<uint32_t>(values.size()));
    Array(values);
  }

 private:
  void Align(size_t size) {
    const size_t at = (mOut.size() - 4) % size;
    if (at != 0) mOut.resize(mOut.size() + size - at, uint8_t{0});
  }
  void Append(const void* data, size_t size) {
    const size_t end = mOut.size();
    mOut.resize(end + size);
    std::memcpy(mOut.data() + end, data, size);
  }

  std::vector<uint8_t>& mOut;
};

}  // namespace skarvmcap
