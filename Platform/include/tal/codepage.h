// The ANSI code pages of the simulated Windows host: how bytes of text without a byte order mark
// read where Windows would read them in the system's ANSI code page (INF files among them).
#pragma once

#include <string>

namespace tal::os {

constexpr unsigned kDefaultAnsiCodePage = 1252;  // an English or Western European system
constexpr unsigned kUtf8CodePage = 65001;

// True for the code pages the simulated host can read: 1250, 1251, 1252 and 65001 (UTF-8).
bool knownCodePage(unsigned codePage);

// The bytes as text in that code page, as the system converts them: every byte of a single-byte
// code page reads as one character (the few bytes a code page leaves undefined as the control
// character of the same number); in UTF-8 a malformed sequence reads as U+FFFD. An unknown code
// page reads as 1252.
std::wstring decodeCodePage(const std::string &bytes, unsigned codePage);

}  // namespace tal::os
