#pragma once
// The sensor's interrupt pipes. Commands go out on the OUT endpoint as a
// five-byte frame (code, data, command number, big-endian) at the start of
// the transfer buffer; the device answers on the IN endpoint with its
// parameter block: nine big-endian 16-bit words, the last echoing the number
// of the last command it processed. The framing and decoding themselves are
// EncodeCommandFrame and DecodeParameterFrame.

#include <cstdint>

#include "CommandFrameCodec.h"
#include "UsbInteruptPipe.h"

class CUSBKivCmdPipe : public CUSBInteruptPipe {
 public:
  static constexpr int kCommandFrameBytes = kiv::kCommandFrameBytes;
  static constexpr int kParameterFrameBytes = kiv::kParameterFrameBytes;

  using T_Parameters = kiv::T_Parameters;

  using CUSBInteruptPipe::Initialize;
  // One transfer at a time on this endpoint.
  void Initialize(int pipeNumber);

  // How long a command waits for the previous write to end. That write's
  // own wait ends after kWaitMs, so this is only reached when its thread is
  // held up.
  static constexpr int kPreviousWriteWaitMs = 5 * kWaitMs;

  // Prints the command, waits for a write still in flight to end, then
  // stores the frame and starts its write. Returns true when the write was
  // started, false when no device is attached (nothing is sent). Throws
  // GeneralException when the previous write did not end in time (its
  // buffer is left alone) or the write could not be started.
  bool WriteCommand(uint8_t command, uint16_t data, uint16_t cmdNumber);

  // Decodes a parameter frame of at least 18 bytes into mReceivedParams.
  int ProcessPipeData(uint8_t* inDataPtr, int bytesInPipe) override;

  // Collects a pending read, then hands out the last block received; returns
  // 1 when a new block was decoded, 0 otherwise.
  int ReadParams(T_Parameters* paramsOut);

  T_Parameters mReceivedParams{};
};
