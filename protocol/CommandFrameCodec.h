#pragma once
// The sensor's command and parameter frames, independent of any pipe.
// A command frame is five bytes: the command code, then the data word and
// the command number, each big-endian. A parameter frame is nine big-endian
// 16-bit words: the device's eight settings and the number of the last
// command it processed.

#include <cstddef>
#include <cstdint>

namespace kiv {

inline constexpr int kCommandFrameBytes = 5;
inline constexpr int kParameterFrameBytes = 18;

// The device's parameter block.
struct T_Parameters {
  uint16_t Values[8];
  uint16_t CmdCount;
};

// Writes the five frame bytes at the start of the `length`-byte buffer `out`
// and zeros the rest of it. Returns false, writing nothing, when `out` is
// null or shorter than a frame.
bool EncodeCommandFrame(uint8_t command, uint16_t data, uint16_t cmdNumber, uint8_t* out, size_t length);

// Decodes the first 18 bytes of the `bytes`-byte frame at `frame` into
// `*out` and returns true. A frame shorter than that (with `bytes` taken as
// unsigned, so a negative length counts as a long one) or a null pointer
// gives false and leaves `*out` alone.
bool DecodeParameterFrame(const uint8_t* frame, int bytes, T_Parameters* out);

}  // namespace kiv
