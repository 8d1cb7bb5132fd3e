#include "GeneralException.h"

GeneralException::GeneralException(const char* message, int32_t errorCode)
    : mMessage(message ? message : ""), mErrorCode(errorCode) {}

void GeneralException::OutputText(std::ostream& outStream) const {
  outStream << mMessage;
  if (mErrorCode != 0) {
    outStream << " Error Code = 0x" << std::hex << static_cast<uint32_t>(mErrorCode) << std::dec;
  }
  outStream << "\n";
}
