#pragma once
// The one exception type of the client's own code: a message text and a
// 32-bit error code (an operating-system or library code, or 0 when there is
// none). Failing operations throw it by value; the controller's public
// operations catch it and write it to standard output with OutputText.

#include <cstdint>
#include <ostream>
#include <string>

class GeneralException {
 public:
  GeneralException(const char* message, int32_t errorCode);
  GeneralException(const GeneralException& other) = default;
  GeneralException& operator=(const GeneralException& other) = default;

  // Writes the text; then, for a non-zero code, " Error Code = 0x" and the
  // code's 32-bit pattern in lower-case hexadecimal; then "\n". The stream is
  // left in decimal mode.
  void OutputText(std::ostream& outStream) const;

  const std::string& Message() const { return mMessage; }
  int32_t ErrorCode() const { return mErrorCode; }

 private:
  std::string mMessage;
  int32_t mErrorCode;
};
