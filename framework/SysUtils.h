// Runtime string helpers: integer conversion, trimming, case, formatting
// and the 8-bit Cyrillic code page.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "framework/Exception.h"

namespace framework {

// Decimal with an optional sign, or hexadecimal after "$" (or "0x");
// leading blanks are skipped. A 32-bit result: hexadecimal digits up to
// $FFFFFFFF wrap into the negative range, decimal values must fit.
// Anything else raises EConvertError "'Text' is not a valid integer value".
int StrToInt(std::string_view text);
int StrToIntDef(std::string_view text, int fallback);
bool TryStrToInt(std::string_view text, int& value);

std::string IntToStr(std::int64_t value);
// Upper-case hexadecimal, at least Digits wide.
std::string IntToHex(std::int64_t value, int digits);

std::string Trim(std::string_view text);       // blanks and control characters
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
std::string UpperCase(std::string_view text);  // ASCII letters only
std::string LowerCase(std::string_view text);

// printf-style formatting into a string.
template <class... Args>
std::string Format(const char* format, Args... args) {
  int size = std::snprintf(nullptr, 0, format, args...);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<std::size_t>(size));
  return out;
}

// Windows-1251 bytes to UTF-8. Every byte decodes (the one unassigned code,
// 0x98, becomes U+FFFD).
std::string Cp1251ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1251; characters the code page lacks (and malformed
// UTF-8) become '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace framework
