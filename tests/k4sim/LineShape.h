// Shape checks for measurement line texts (plain code rather than
// std::regex, which draws false warnings from GCC 12 under sanitizers).
#pragma once

#include <string_view>

namespace k4sim::test {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Blanks, a sign, digits with one point, blanks; nothing else.
inline bool IsNumberField(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size() || (text[i] != '+' && text[i] != '-')) return false;
  ++i;
  int digits = 0;
  int points = 0;
  for (; i < text.size() && (IsDigit(text[i]) || text[i] == '.'); ++i) {
    (text[i] == '.' ? points : digits) += 1;
  }
  while (i < text.size() && text[i] == ' ') ++i;
  return i == text.size() && digits > 0 && points == 1;
}

// Character by character: 's' a sign, '#' a digit, anything else itself.
inline bool HasShape(std::string_view text, std::string_view shape) {
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool ok = shape[i] == 's'   ? (c == '+' || c == '-')
                    : shape[i] == '#' ? IsDigit(c)
                                      : c == shape[i];
    if (!ok) return false;
  }
  return true;
}

// A whole line text: a number field in the first nine columns, a known
// unit, a blank, a function letter and a range digit; after that anything
// (pacing answers land there).
inline bool IsLineText(std::string_view text) {
  if (text.size() < 13 || !IsNumberField(text.substr(0, 9))) return false;
  const std::size_t blank = text.find(' ', 9);
  if (blank == std::string_view::npos || blank + 2 >= text.size()) return false;
  const std::string_view unit = text.substr(9, blank - 9);
  bool known = false;
  for (std::string_view u : {"mV", "V", "A", "Ohm", "kOhm", "MOhm", "GOhm", "Hz", "us"}) {
    known |= unit == u;
  }
  const char function = text[blank + 1];
  const char range = text[blank + 2];
  return known && std::string_view("UVIJRZFT").find(function) != std::string_view::npos &&
         range >= '0' && range <= '6';
}

}  // namespace k4sim::test
