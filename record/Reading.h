// Readings as numbers: the text the front panel's display shows, with the
// function, range and resolution that produced it, turned into a value in
// SI units.
//
// The display text is the number field of a measurement line: a sign
// directly before the digits (possibly after blanks), one decimal point and
// trailing blanks, e.g. "+1.23456 " (5 1/2 digits), "+1.234 " (3 1/2),
// " +617.30 " (1000 V range); for frequency and period a blank and seven
// characters without a sign, " 50.0012" (Hz) or " 19999.5" (microseconds).
// The number is in the display unit of the range (mV on the 200 mV range,
// kOhm on 2 kOhm, ...); ParseReading scales it to the SI unit decimally, so
// "+123.456" on U range '0' becomes exactly the double nearest 0.123456.
//
// An overload is a number field that holds an overload mark instead of
// digits ("OL", "0L", "OVL", "OVER" in Latin or Cyrillic letters, any case,
// "ПЕРЕГР" and its shortenings), optionally signed. Anything else that is
// not a plain signed decimal number is Unreadable: an empty or blank text,
// two signs or points, letters, control characters (an LF inside the
// counted characters), and settings that name no range of the panel.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace record {

// NoLink is no reading at all: the instrument could not be reached (an
// outage). ParseReading never gives it.
enum class ReadingKind { Value, Overload, Unreadable, NoLink };

struct Reading {
  ReadingKind kind = ReadingKind::Unreadable;
  double value = 0.0;  // SI units; meaningful for Value only
  // "V", "A", "Ω", "Hz" or "s" (UTF-8); empty when the settings name no
  // range.
  std::string unit;
  // The display's resolution in the SI unit: the value of its last digit
  // ("+1.23456" on the 2 V range: 1e-5). Meaningful for Value only.
  double step = 0.0;
};

// The instrument settings a reading was taken at, as the argument
// characters of their commands: function 'U' 'V' 'I' 'J' 'R' 'Z' 'F' 'T',
// range '0'..'6', resolution '0'..'2'.
struct Setting {
  char function = 'U';
  char range = '1';
  char resolution = '2';
  bool operator==(const Setting&) const = default;
};

// The display text (UTF-8) read at `setting`.
Reading ParseReading(std::string_view text, const Setting& setting);

// The SI unit of the function ("" for an unknown function).
std::string_view SiUnit(char function);
// The range's display unit and its power of ten in the SI unit: U range
// '0' is {"mV", -3}, R range '1' {"kΩ", 3}, T {"µs", -6}. False when the
// function has no such range.
struct DisplayScale {
  std::string_view unit;
  int exponent = 0;
};
bool FindDisplayScale(char function, char range, DisplayScale& scale);
// The function as the status strip names it: "U=", "U~", "I=", "I~", "R",
// "Z", "F", "T"; "?" for an unknown function.
std::string_view FunctionName(char function);
// How many characters the display step takes at the setting: 7, 8 or 9 by
// resolution, 8 for frequency and period.
int DisplayChars(const Setting& setting);

}  // namespace record
