#include "CommandFrameCodec.h"

#include <cstring>

#include "WireWord.h"

namespace kiv {

bool EncodeCommandFrame(uint8_t command, uint16_t data, uint16_t cmdNumber, uint8_t* out, size_t length) {
  if (out == nullptr || length < static_cast<size_t>(kCommandFrameBytes)) {
    return false;
  }
  std::memset(out, 0, length);
  out[0] = command;
  WriteWireWord(out + 1, data);
  WriteWireWord(out + 3, cmdNumber);
  return true;
}

bool DecodeParameterFrame(const uint8_t* frame, int bytes, T_Parameters* out) {
  // The length is taken as unsigned: a negative one counts as a long frame.
  if (frame == nullptr || out == nullptr ||
      static_cast<unsigned>(bytes) < static_cast<unsigned>(kParameterFrameBytes)) {
    return false;
  }
  const uint8_t* word = frame;
  for (uint16_t& value : out->Values) {
    value = ReadWireWord(word);
    word += 2;
  }
  out->CmdCount = ReadWireWord(word);
  return true;
}

}  // namespace kiv
