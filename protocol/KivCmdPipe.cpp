#include "KivCmdPipe.h"

#include <mutex>

#include "Diagnostics.h"
#include "GeneralException.h"

void CUSBKivCmdPipe::Initialize(int pipeNumber) { CUSBInteruptPipe::Initialize(pipeNumber, 1); }

bool CUSBKivCmdPipe::WriteCommand(uint8_t command, uint16_t data, uint16_t cmdNumber) {
  DiagPrintf(EDiagLevel::eAlways, "------------------- Sending command = %c, data = %d, num = %d\n", command, data,
             cmdNumber);

  // Held across the wait, the check, the fill and the start (the wait gives
  // it back while it sleeps), so the pipe cannot be detached, nor another
  // write started, between the check and the start.
  std::unique_lock<std::recursive_mutex> lock(mUseLock);
  if (!WaitUntilIdle(lock, kPreviousWriteWaitMs)) {
    throw GeneralException("Previous command still being written.", static_cast<int32_t>(kErrorSemTimeout));
  }
  if (!CanStart() || mTransferLength < kCommandFrameBytes ||
      !kiv::EncodeCommandFrame(command, data, cmdNumber, mBuffer.get(), static_cast<size_t>(mTransferLength))) {
    return false;
  }
  StartNextWrite();
  return true;
}

int CUSBKivCmdPipe::ProcessPipeData(uint8_t* inDataPtr, int bytesInPipe) {
  if (!kiv::DecodeParameterFrame(inDataPtr, bytesInPipe, &mReceivedParams)) {
    return 0;
  }
  DiagPrintf(EDiagLevel::eAlways, "Processing parameters count = %d\n", mReceivedParams.CmdCount);
  return 1;
}

int CUSBKivCmdPipe::ReadParams(T_Parameters* paramsOut) {
  const int result = GetPipeData();
  if (paramsOut != nullptr) {
    *paramsOut = mReceivedParams;
  }
  return result;
}
