// Numbered commands and the status handshake that follows their echo.

#include <cstdio>
#include <iostream>

#include "GeneralException.h"
#include "SkarvIO.h"

void CSkarvIO::WriteCommand(uint8_t command, uint16_t value) {
  try {
    if (mCmdPipe.mUSBPort.load() && mStatusPipe.mUSBPort.load()) {
      ++mCmdNumber;
      mCmdPipe.WriteCommand(command, value, mCmdNumber);
      mStatusPipe.StartNextRead();
      mStatusState = kStatusAwaitEcho;
    }
    mStatusRetries = 0;
  } catch (const GeneralException& e) {
    e.OutputText(std::cout);
  }
}

void CSkarvIO::LaserOn() { WriteCommand('F', 1); }
void CSkarvIO::LaserOff() { WriteCommand('F', 0); }
void CSkarvIO::SetFarGain(int valueToSet) { WriteCommand('A', static_cast<uint16_t>(valueToSet)); }
void CSkarvIO::SetCloseGain(int valueToSet) { WriteCommand('B', static_cast<uint16_t>(valueToSet)); }
void CSkarvIO::SetThreshold(int valueToSet) { WriteCommand('C', static_cast<uint16_t>(valueToSet)); }
void CSkarvIO::SetAPDVoltage(int valueToSet) { WriteCommand('S', static_cast<uint16_t>(valueToSet)); }
void CSkarvIO::SetRotationRate(int valueToSet) { WriteCommand('R', static_cast<uint16_t>(valueToSet)); }
void CSkarvIO::SetCalDistGain(int valueToSet) { WriteCommand('1', static_cast<uint16_t>(valueToSet)); }
void CSkarvIO::SetCalWidthGain(int valueToSet) { WriteCommand('2', static_cast<uint16_t>(valueToSet)); }
void CSkarvIO::SetCalOffset(int valueToSet) { WriteCommand('3', static_cast<uint16_t>(valueToSet)); }
void CSkarvIO::RestoreParams() { WriteCommand('@', 0); }
void CSkarvIO::SaveParams() { WriteCommand('!', 0); }

bool CSkarvIO::HandleStatusPipe() {
  try {
    if (mStatusPipe.mUSBPort.load()) {
      while (mStatusPipe.ReadParams(&mParameters)) {
        const uint16_t* v = mParameters.Values;
        std::printf("Got Status Data:\n%d\n%d\n%d\n%d\n%d\n%d\n%d\n%d\n%d\n", v[0], v[1], v[2], v[3], v[4], v[5],
                    v[6], v[7], mParameters.CmdCount);
      }
      if (mParameters.CmdCount != mCmdNumber) {
        if (mStatusState == kStatusRequest) {
          WriteCommand(' ', 0);
        } else {
          if (++mStatusRetries > kMaxStatusRetries) {
            mStatusState = kStatusRequest;
          }
          mStatusPipe.StartNextRead();
        }
      } else {
        mStatusState = mStatusState == kStatusAwaitEcho ? kStatusFresh : kStatusIdle;
      }
    } else {
      // No device: move the number on so that whatever the device echoes
      // after it arrives is found wrong and its parameters are asked for.
      mParameters.CmdCount = static_cast<uint16_t>(mCmdNumber - 1);
      ++mCmdNumber;
      mStatusState = kStatusRequest;
    }
  } catch (const GeneralException& e) {
    e.OutputText(std::cout);
  }
  return mStatusState == kStatusFresh;
}
