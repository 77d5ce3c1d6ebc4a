#include "record/Reading.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace record {
namespace {

struct RangeScale {
  char function;
  char range;
  std::string_view unit;
  int exponent;
};

// Every function and range the panel can select, with the unit the
// display shows the number in.
constexpr std::array kRanges{
    RangeScale{'U', '0', "mV", -3}, RangeScale{'U', '1', "V", 0},   RangeScale{'U', '2', "V", 0},
    RangeScale{'U', '3', "V", 0},   RangeScale{'U', '4', "V", 0},   RangeScale{'V', '0', "mV", -3},
    RangeScale{'V', '1', "V", 0},   RangeScale{'V', '2', "V", 0},   RangeScale{'V', '3', "V", 0},
    RangeScale{'V', '4', "V", 0},   RangeScale{'I', '1', "A", 0},   RangeScale{'J', '1', "A", 0},
    RangeScale{'R', '0', "Ω", 0},   RangeScale{'R', '1', "kΩ", 3},  RangeScale{'R', '2', "kΩ", 3},
    RangeScale{'R', '3', "kΩ", 3},  RangeScale{'R', '4', "MΩ", 6},  RangeScale{'R', '5', "MΩ", 6},
    RangeScale{'R', '6', "GΩ", 9},  RangeScale{'Z', '0', "Ω", 0},   RangeScale{'Z', '1', "kΩ", 3},
    RangeScale{'Z', '2', "kΩ", 3},  RangeScale{'Z', '3', "kΩ", 3},  RangeScale{'Z', '4', "MΩ", 6},
    RangeScale{'F', '0', "Hz", 0},  RangeScale{'T', '0', "µs", -6},
};

const RangeScale* FindRange(char function, char range) {
  for (const RangeScale& r : kRanges)
    if (r.function == function && r.range == range) return &r;
  return nullptr;
}

bool IsBlank(char c) { return c == ' '; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Upper-cases ASCII letters and the Cyrillic letters of the overload marks
// (UTF-8, two bytes each: а..я are D0 B0..D1 8F, А..Я D0 90..D0 AF).
std::string Upper(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'a' && c <= 'z') {
      out += static_cast<char>(c - 'a' + 'A');
    } else if ((c == 0xD0 || c == 0xD1) && i + 1 < text.size()) {
      const auto n = static_cast<unsigned char>(text[i + 1]);
      unsigned code = ((c & 0x1Fu) << 6) | (n & 0x3Fu);
      if (code >= 0x430 && code <= 0x44F) code -= 0x20;
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool IsOverloadMark(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  text = Trim(text);
  const std::string upper = Upper(text);
  // Latin O, digit 0 and Cyrillic О all stand for the O of the mark.
  constexpr std::array<std::string_view, 11> kMarks{
      "OL", "0L", "OVL", "OVER", "ОЛ", "О.L", "O.L", "ПЕР", "ПЕРЕГ", "ПЕРЕГР", "ПЕРЕГРУЗКА"};
  for (std::string_view mark : kMarks)
    if (upper == mark) return true;
  return false;
}

// An optional sign, then digits with at most one point, at least one digit.
bool IsPlainNumber(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  int digits = 0;
  int points = 0;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.') {
      if (++points > 1) return false;
    } else {
      return false;
    }
  }
  return digits > 0;
}

}  // namespace

std::string_view SiUnit(char function) {
  switch (function) {
    case 'U':
    case 'V': return "V";
    case 'I':
    case 'J': return "A";
    case 'R':
    case 'Z': return "Ω";
    case 'F': return "Hz";
    case 'T': return "s";
    default: return "";
  }
}

bool FindDisplayScale(char function, char range, DisplayScale& scale) {
  const RangeScale* r = FindRange(function, range);
  if (r == nullptr) return false;
  scale = {r->unit, r->exponent};
  return true;
}

std::string_view FunctionName(char function) {
  switch (function) {
    case 'U': return "U=";
    case 'V': return "U~";
    case 'I': return "I=";
    case 'J': return "I~";
    case 'R': return "R";
    case 'Z': return "Z";
    case 'F': return "F";
    case 'T': return "T";
    default: return "?";
  }
}

int DisplayChars(const Setting& setting) {
  if (setting.function == 'F' || setting.function == 'T') return 8;
  return setting.resolution == '0' ? 7 : setting.resolution == '1' ? 8 : 9;
}

Reading ParseReading(std::string_view text, const Setting& setting) {
  Reading reading;
  const RangeScale* range = FindRange(setting.function, setting.range);
  if (range == nullptr || setting.resolution < '0' || setting.resolution > '2') return reading;
  reading.unit = std::string(SiUnit(setting.function));
  const std::string_view field = Trim(text);
  if (IsOverloadMark(field)) {
    reading.kind = ReadingKind::Overload;
    return reading;
  }
  if (!IsPlainNumber(field)) return reading;
  // Scaling by the exponent in decimal, not by a multiplication, keeps the
  // value the nearest double to what the display shows in SI units.
  std::string decimal(field.front() == '+' ? field.substr(1) : field);
  decimal += 'e';
  decimal += std::to_string(range->exponent);
  double value = 0.0;
  const auto [end, error] = std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
  if (error != std::errc() || end != decimal.data() + decimal.size()) return reading;
  reading.kind = ReadingKind::Value;
  reading.value = value;
  const auto point = field.find('.');
  const auto decimals = point == std::string_view::npos ? 0 : static_cast<int>(field.size() - point - 1);
  reading.step = std::pow(10.0, range->exponent - decimals);
  return reading;
}

}  // namespace record
