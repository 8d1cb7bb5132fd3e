#pragma once
// A fixed ring of elements with a read index and a write index that wrap
// around the ring independently.

#include <cstdint>
#include <memory>
#include <new>

#include "GeneralException.h"

template <typename T>
class CCircularBuffer {
 public:
  CCircularBuffer() = default;
  ~CCircularBuffer() { Free(); }
  CCircularBuffer(const CCircularBuffer&) = delete;
  CCircularBuffer& operator=(const CCircularBuffer&) = delete;

  // Storage for `numBuffers` value-initialised elements, both indices 0.
  void Initialize(int numBuffers) {
    Free();
    if (numBuffers <= 0) {
      return;
    }
    mBuffers.reset(new (std::nothrow) T[numBuffers]());
    if (!mBuffers) {
      throw GeneralException("Couldn't get new buffer.", 0);
    }
    mNumBuffers = static_cast<uint32_t>(numBuffers);
  }

  // Releases the storage; the count and both indices become 0.
  void Free() {
    mBuffers.reset();
    mNumBuffers = 0;
    mReadIndex = 0;
    mWriteIndex = 0;
  }

  // Each returns the index before advancing it by one, wrapping to 0.
  int IncReadBufferIndex() { return Advance(mReadIndex); }
  int IncWriteBufferIndex() { return Advance(mWriteIndex); }

  // An index past the end becomes the last one.
  void SetReadIndex(unsigned index) { mReadIndex = Clamp(index); }
  void SetWriteIndex(unsigned index) { mWriteIndex = Clamp(index); }

  T& operator[](unsigned index) { return mBuffers[index]; }
  bool HasStorage() const { return mBuffers != nullptr; }

  std::unique_ptr<T[]> mBuffers;
  uint32_t mNumBuffers = 0;
  uint32_t mReadIndex = 0;
  uint32_t mWriteIndex = 0;

 private:
  int Advance(uint32_t& index) {
    const uint32_t current = index;
    if (mNumBuffers > 0 && ++index >= mNumBuffers) {
      index = 0;
    }
    return static_cast<int>(current);
  }
  uint32_t Clamp(unsigned index) const { return index >= mNumBuffers && mNumBuffers > 0 ? mNumBuffers - 1 : index; }
};
