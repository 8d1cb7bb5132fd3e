// Fuzzes the parameter-frame decoder, kiv::DecodeParameterFrame. An input is
// the bytes of one interrupt IN transfer. Each is decoded at its own length
// and every shorter one, from a buffer of exactly that many bytes: below 18
// bytes the block is left alone and false comes back; from 18 bytes on the
// first nine big-endian words become the eight settings and the command
// number, and true comes back. A negative length counts as a huge one (the
// length is taken as unsigned) and is given 18 bytes to read. The first
// bytes also serve as a command to frame, into buffers from none to 64
// bytes: five bytes of frame and zeros after them, or nothing at all when
// the buffer is shorter than a frame.

#include <climits>
#include <cstring>
#include <memory>

#include "CommandFrameCodec.h"
#include "FuzzSupport.h"

namespace {

using fuzz::Require;
using fuzz::Word;
using Params = kiv::T_Parameters;

bool Same(const Params& a, const Params& b) {
  return std::memcmp(a.Values, b.Values, sizeof a.Values) == 0 && a.CmdCount == b.CmdCount;
}

void DecodeChecked(Params& params, const uint8_t* bytes, int length, bool decodes) {
  const Params before = params;
  const bool result = kiv::DecodeParameterFrame(bytes, length, &params);
  if (!decodes) {
    Require(!result, "short frame ignored");
    Require(Same(before, params), "short frame leaves the parameters alone");
    return;
  }
  Require(result, "frame decoded");
  for (int i = 0; i < 8; ++i) {
    Require(params.Values[i] == Word(bytes + 2 * i), "setting word");
  }
  Require(params.CmdCount == Word(bytes + 16), "command number");
}

void EncodeChecked(uint8_t command, uint16_t data, uint16_t number, size_t length) {
  // Exactly `length` bytes, so that AddressSanitizer reports a write past them.
  std::unique_ptr<uint8_t[]> out(new uint8_t[length]);
  std::memset(out.get(), 0xEE, length);
  const bool framed = kiv::EncodeCommandFrame(command, data, number, out.get(), length);
  Require(framed == (length >= static_cast<size_t>(kiv::kCommandFrameBytes)), "framed when the buffer holds a frame");
  for (size_t i = 0; i < length; ++i) {
    uint8_t expected = 0xEE;
    if (framed) {
      const uint8_t frame[] = {command, static_cast<uint8_t>(data >> 8), static_cast<uint8_t>(data),
                               static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)};
      expected = i < sizeof frame ? frame[i] : 0;
    }
    Require(out[i] == expected, "command frame byte");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) {
    return -1;
  }
  static Params params{};
  for (int cut = static_cast<int>(size); cut >= 0; --cut) {
    const auto exact = fuzz::ExactCopy(data, static_cast<size_t>(cut));
    DecodeChecked(params, exact.get(), cut, cut >= kiv::kParameterFrameBytes);
  }
  DecodeChecked(params, nullptr, static_cast<int>(size), false);
  if (size >= static_cast<size_t>(kiv::kParameterFrameBytes)) {
    const auto block = fuzz::ExactCopy(data, kiv::kParameterFrameBytes);
    for (int negative : {-1, INT_MIN}) {
      DecodeChecked(params, block.get(), negative, true);
    }
  }

  uint8_t head[5] = {};
  std::memcpy(head, data, size < sizeof head ? size : sizeof head);
  const uint16_t value = static_cast<uint16_t>(head[1] << 8 | head[2]);
  const uint16_t number = static_cast<uint16_t>(head[3] << 8 | head[4]);
  EncodeChecked(head[0], value, number, size % 65);
  return 0;
}
