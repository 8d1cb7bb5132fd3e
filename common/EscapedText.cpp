#include "EscapedText.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the printable UTF-8 character at `text`, or 0 when the byte
// there starts none (an invalid sequence, or a C1 control character).
size_t PrintableUtf8Length(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      return 0;
    }
    code = code << 6 | (byte(i) & 0x3Fu);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool invalid = overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code < 0xA0;
  return invalid ? 0 : length;
}

}  // namespace

std::string EscapedText(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      escaped.push_back(static_cast<char>(c));
      ++at;
    } else if (c == '\\') {
      escaped += "\\\\";
      ++at;
    } else if (const size_t length = c >= 0x80 ? PrintableUtf8Length(text.substr(at)) : 0; length > 0) {
      escaped.append(text.substr(at, length));
      at += length;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      escaped += hex;
      ++at;
    }
  }
  return escaped;
}
