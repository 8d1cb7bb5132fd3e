#pragma once
// Text from outside the program (a file's lines, a peer's name) made safe to
// print: every byte that could steer a terminal (control characters, and
// bytes that are not printable UTF-8) written as \xNN, a backslash as \\.

#include <string>
#include <string_view>

std::string EscapedText(std::string_view text);
