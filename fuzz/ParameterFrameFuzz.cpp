// Fuzzes the parameter-frame decoder, CUSBKivCmdPipe::ProcessPipeData. An
// input is the bytes of one interrupt IN transfer. Each is decoded at its
// own length and every shorter one, from a buffer of exactly that many
// bytes: below 18 bytes nothing changes and 0 comes back; from 18 bytes on
// the first nine big-endian words become the eight settings and the command
// number, and 1 comes back. A negative length counts as a huge one (the
// length is taken as unsigned) and is given 18 bytes to read.

#include <climits>
#include <cstring>

#include "FuzzSupport.h"
#include "KivCmdPipe.h"

namespace {

using fuzz::Require;
using fuzz::Word;
using Params = CUSBKivCmdPipe::T_Parameters;

bool Same(const Params& a, const Params& b) {
  return std::memcmp(a.Values, b.Values, sizeof a.Values) == 0 && a.CmdCount == b.CmdCount;
}

void DecodeChecked(CUSBKivCmdPipe& pipe, const uint8_t* bytes, int length, bool decodes) {
  const Params before = pipe.mReceivedParams;
  const int result = pipe.ProcessPipeData(const_cast<uint8_t*>(bytes), length);
  if (!decodes) {
    Require(result == 0, "short frame ignored");
    Require(Same(before, pipe.mReceivedParams), "short frame leaves the parameters alone");
    return;
  }
  Require(result == 1, "frame decoded");
  for (int i = 0; i < 8; ++i) {
    Require(pipe.mReceivedParams.Values[i] == Word(bytes + 2 * i), "setting word");
  }
  Require(pipe.mReceivedParams.CmdCount == Word(bytes + 16), "command number");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) {
    return -1;
  }
  static CUSBKivCmdPipe pipe;
  for (int cut = static_cast<int>(size); cut >= 0; --cut) {
    const auto exact = fuzz::ExactCopy(data, static_cast<size_t>(cut));
    DecodeChecked(pipe, exact.get(), cut, cut >= CUSBKivCmdPipe::kParameterFrameBytes);
  }
  DecodeChecked(pipe, nullptr, static_cast<int>(size), false);
  if (size >= static_cast<size_t>(CUSBKivCmdPipe::kParameterFrameBytes)) {
    const auto block = fuzz::ExactCopy(data, CUSBKivCmdPipe::kParameterFrameBytes);
    for (int negative : {-1, INT_MIN}) {
      DecodeChecked(pipe, block.get(), negative, true);
    }
  }
  return 0;
}
