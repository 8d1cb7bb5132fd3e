#include "GeneralException.h"

#include <cstdio>

GeneralException::GeneralException(const char* message, int32_t errorCode)
    : mMessage(message ? message : ""), mErrorCode(errorCode) {}

void GeneralException::OutputText(std::ostream& outStream) const {
  // The line is formatted apart and written in one piece: two threads may
  // report at the same time on the same stream, and switching the shared
  // stream's number base would race.
  std::string line = mMessage;
  if (mErrorCode != 0) {
    char code[16];
    std::snprintf(code, sizeof code, "%x", static_cast<uint32_t>(mErrorCode));
    line += " Error Code = 0x";
    line += code;
  }
  line += "\n";
  outStream << line;
  if ((outStream.flags() & std::ios_base::basefield) != std::ios_base::dec) {
    outStream << std::dec;
  }
}
