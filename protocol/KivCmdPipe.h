#pragma once
// The sensor's interrupt pipes. Commands go out on the OUT endpoint as a
// five-byte frame (code, data, command number, big-endian) at the start of
// the transfer buffer; the device answers on the IN endpoint with its
// parameter block: nine big-endian 16-bit words, the last echoing the number
// of the last command it processed.

#include <cstdint>

#include "UsbInteruptPipe.h"

class CUSBKivCmdPipe : public CUSBInteruptPipe {
 public:
  static constexpr int kCommandFrameBytes = 5;
  static constexpr int kParameterFrameBytes = 18;

  struct T_Parameters {
    uint16_t Values[8];
    uint16_t CmdCount;
  };

  using CUSBInteruptPipe::Initialize;
  // One transfer at a time on this endpoint.
  void Initialize(int pipeNumber);

  // Prints the command and sends its frame when the pipe is attached to an
  // open device and idle; otherwise the frame is dropped and a pending
  // write's buffer is left alone.
  void WriteCommand(uint8_t command, uint16_t data, uint16_t cmdNumber);

  // Decodes a parameter frame of at least 18 bytes into mReceivedParams.
  int ProcessPipeData(uint8_t* inDataPtr, int bytesInPipe) override;

  // Collects a pending read, then hands out the last block received; returns
  // 1 when a new block was decoded, 0 otherwise.
  int ReadParams(T_Parameters* paramsOut);

  T_Parameters mReceivedParams{};
};
