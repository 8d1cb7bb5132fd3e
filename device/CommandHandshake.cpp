// Numbered commands and the status handshake that follows their echo.

#include <cctype>
#include <string>

#include "CommandTable.h"
#include "Diagnostics.h"
#include "GeneralException.h"
#include "SkarvIO.h"

namespace {

// The words the status line shows for a system error code.
std::string ErrorWords(int32_t code) {
  switch (static_cast<uint32_t>(code)) {
    case kErrorDeviceNotConnected: return "sensor not connected";
    case kErrorSemTimeout: return "timed out";
    case kErrorGenFailure: return "device error or stall";
    case kErrorOperationAborted: return "cancelled";
    case kErrorNotEnoughMemory: return "out of memory";
    case kErrorInvalidParameter: return "bad parameter";
    case kErrorNoMoreItems: return "no transfer handle free";
    default: return "error code " + std::to_string(code);
  }
}

// A failure's text without its closing full stop, line end or unfilled
// placeholder, followed by its code in words.
std::string FailureReason(const GeneralException& e) {
  std::string text = e.Message();
  const auto trim = [&text] {
    while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.back())) || text.back() == '.')) {
      text.pop_back();
    }
  };
  trim();
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "%x") == 0) {
    text.resize(text.size() - 2);
    trim();
  }
  if (e.ErrorCode() != 0) {
    text += " (" + ErrorWords(e.ErrorCode()) + ")";
  }
  return text;
}

}  // namespace

void CSkarvIO::WriteCommand(uint8_t command, uint16_t value) {
  if (!mCmdPipe.mUSBPort.load() || !mStatusPipe.mUSBPort.load()) {
    mStatusRetries = 0;
    return;
  }
  // The number is taken only once the write has started, so a command that
  // does not go out leaves it for the next one.
  const uint16_t number = static_cast<uint16_t>(mCmdNumber + 1);
  try {
    if (!mCmdPipe.WriteCommand(command, value, number)) {
      ReportCommandNotSent(command, "sensor not attached");
      return;
    }
  } catch (const GeneralException& e) {
    ReportCommandNotSent(command, FailureReason(e));
    return;
  }
  mCmdNumber = number;
  try {
    mStatusPipe.StartNextRead();
    mStatusState = kStatusAwaitEcho;
    mStatusRetries = 0;
  } catch (const GeneralException& e) {
    e.OutputText(DiagOut());
  }
}

void CSkarvIO::ReportCommandNotSent(uint8_t command, const std::string& why) {
  const std::string text = "Command " + std::string(1, static_cast<char>(command)) + " not sent: " + why;
  DiagPrintf(EDiagLevel::eAlways, "%s\n", text.c_str());
  SetLastError(text);
}

// Each operation sends its command byte from the command table; a setting's
// value goes out as its low 16 bits.
void CSkarvIO::LaserOn() { SendCommand(kCommandOf<&CSkarvIO::LaserOn>); }
void CSkarvIO::LaserOff() { SendCommand(kCommandOf<&CSkarvIO::LaserOff>); }
void CSkarvIO::SetFarGain(int valueToSet) { SendSetting(kCommandOf<&CSkarvIO::SetFarGain>, valueToSet); }
void CSkarvIO::SetCloseGain(int valueToSet) { SendSetting(kCommandOf<&CSkarvIO::SetCloseGain>, valueToSet); }
void CSkarvIO::SetThreshold(int valueToSet) { SendSetting(kCommandOf<&CSkarvIO::SetThreshold>, valueToSet); }
void CSkarvIO::SetAPDVoltage(int valueToSet) { SendSetting(kCommandOf<&CSkarvIO::SetAPDVoltage>, valueToSet); }
void CSkarvIO::SetRotationRate(int valueToSet) { SendSetting(kCommandOf<&CSkarvIO::SetRotationRate>, valueToSet); }
void CSkarvIO::SetCalDistGain(int valueToSet) { SendSetting(kCommandOf<&CSkarvIO::SetCalDistGain>, valueToSet); }
void CSkarvIO::SetCalWidthGain(int valueToSet) { SendSetting(kCommandOf<&CSkarvIO::SetCalWidthGain>, valueToSet); }
void CSkarvIO::SetCalOffset(int valueToSet) { SendSetting(kCommandOf<&CSkarvIO::SetCalOffset>, valueToSet); }
void CSkarvIO::RestoreParams() { SendCommand(kCommandOf<&CSkarvIO::RestoreParams>); }
void CSkarvIO::SaveParams() { SendCommand(kCommandOf<&CSkarvIO::SaveParams>); }

void CSkarvIO::SendSetting(const T_Command& command, int valueToSet) {
  if (mRemoteSensor) {
    ReportCommandNotSent(command.Letter, kRemoteSensorRefusal);
    return;
  }
  WriteCommand(command.Letter, static_cast<uint16_t>(valueToSet));
}

void CSkarvIO::SendCommand(const T_Command& command) {
  if (mRemoteSensor) {
    ReportCommandNotSent(command.Letter, kRemoteSensorRefusal);
    return;
  }
  WriteCommand(command.Letter, command.Value);
}

bool CSkarvIO::HandleStatusPipe() {
  try {
    if (mStatusPipe.mUSBPort.load()) {
      while (mStatusPipe.ReadParams(&mParameters)) {
        const uint16_t* v = mParameters.Values;
        DiagPrintf(EDiagLevel::eAlways, "Got Status Data:\n%d\n%d\n%d\n%d\n%d\n%d\n%d\n%d\n%d\n", v[0], v[1], v[2],
                   v[3], v[4], v[5], v[6], v[7], mParameters.CmdCount);
      }
      if (mParameters.CmdCount != mCmdNumber) {
        if (mStatusState == kStatusRequest) {
          WriteCommand(kStatusRequestLetter, 0);
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
    e.OutputText(DiagOut());
  }
  return mStatusState == kStatusFresh;
}
