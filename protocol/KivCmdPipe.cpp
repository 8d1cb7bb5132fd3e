#include "KivCmdPipe.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "GeneralException.h"

void CUSBKivCmdPipe::Initialize(int pipeNumber) { CUSBInteruptPipe::Initialize(pipeNumber, 1); }

bool CUSBKivCmdPipe::WriteCommand(uint8_t command, uint16_t data, uint16_t cmdNumber) {
  printf("------------------- Sending command = %c, data = %d, num = %d\n", command, data, cmdNumber);

  // Held across the wait, the check, the fill and the start (the wait gives
  // it back while it sleeps), so the pipe cannot be detached, nor another
  // write started, between the check and the start.
  std::unique_lock<std::recursive_mutex> lock(mUseLock);
  if (!WaitUntilIdle(lock, kPreviousWriteWaitMs)) {
    throw GeneralException("Previous command still being written.", static_cast<int32_t>(kErrorSemTimeout));
  }
  if (!CanStart() || mTransferLength < kCommandFrameBytes) {
    return false;
  }
  uint8_t* frame = mBuffer.get();
  std::memset(frame, 0, static_cast<size_t>(mTransferLength));
  frame[0] = command;
  frame[1] = static_cast<uint8_t>(data >> 8);
  frame[2] = static_cast<uint8_t>(data & 0xFF);
  frame[3] = static_cast<uint8_t>(cmdNumber >> 8);
  frame[4] = static_cast<uint8_t>(cmdNumber & 0xFF);
  StartNextWrite();
  return true;
}

int CUSBKivCmdPipe::ProcessPipeData(uint8_t* inDataPtr, int bytesInPipe) {
  if (inDataPtr == nullptr || static_cast<unsigned>(bytesInPipe) < kParameterFrameBytes) {
    return 0;
  }
  const uint8_t* word = inDataPtr;
  for (uint16_t& value : mReceivedParams.Values) {
    value = static_cast<uint16_t>(word[0] * 256 + word[1]);
    word += 2;
  }
  mReceivedParams.CmdCount = static_cast<uint16_t>(word[0] * 256 + word[1]);
  printf("Processing parameters count = %d\n", mReceivedParams.CmdCount);
  return 1;
}

int CUSBKivCmdPipe::ReadParams(T_Parameters* paramsOut) {
  const int result = GetPipeData();
  if (paramsOut != nullptr) {
    *paramsOut = mReceivedParams;
  }
  return result;
}
