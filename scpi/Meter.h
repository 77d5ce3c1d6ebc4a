// The meter as the SCPI server sees it: the panel's setting in SCPI terms,
// what the server may ask of the panel, and the conversions between the
// two (ranges and resolutions as numbers, the names of the functions, the
// numbers of the answers).
//
// Ranges, by full scale in SI units: U and V 0.2, 2, 20, 200, 1000 V
// (digits '0'..'4'); I and J 2 A ('1'); R 200 Ω .. 2 MΩ, 20 MΩ, 2 GΩ
// ('0'..'6'); Z 200 Ω .. 2 MΩ ('0'..'4'); F and T one range ('0') without
// a full scale. A range given as a number picks the smallest range whose
// full scale holds its magnitude. A resolution given as a number picks the
// fewest digits whose step on the chosen range is no coarser: 3½ digits
// step full scale / 2000, 4½ / 20000, 5½ / 200000. MIN is the lowest range
// or the finest resolution, MAX the highest range or the coarsest, DEF
// keeps what the panel holds (its range brought into the function's
// ranges, as the function key does).
//
// Thread safety: pure functions; any thread. A Meter is used on the
// panel's thread only.
#pragma once

#include <string>
#include <string_view>

#include "scpi/Errors.h"
#include "scpi/Parser.h"

namespace scpi {

// The panel's setting: the command letters' argument characters, and
// whether the instrument picks the range itself (АВП).
struct MeterSetting {
  char function = 'U';
  char range = '1';
  bool autoRange = false;
  char resolution = '2';
  bool operator==(const MeterSetting&) const = default;
};

// What the server asks of the panel it drives.
class Meter {
 public:
  virtual ~Meter() = default;
  // What the panel holds now.
  virtual MeterSetting Present() const = 0;
  // Makes the first part of `setting` the panel lacks (function with
  // range, auto-ranging, range, resolution) as a user would, by the keys
  // and menu items that send one command to the instrument; false when
  // the panel holds all of it. The panel sends only the last command asked
  // for before its command step, so the caller waits until Busy() is
  // false before the next part.
  virtual bool ApplyStep(const MeterSetting& setting) = 0;
  // The panel's general reset.
  virtual void Reset() = 0;
  // A command waits to go out to the instrument, a reset is under way, or
  // the link is not up (nothing would reach the instrument now).
  virtual bool Busy() const = 0;
  // A reading has been read and will be shown next, before any that is
  // read from now on.
  virtual bool ShownReadingPending() const = 0;
};

// The SCPI name of a function letter: "VOLT", "VOLT:AC", "CURR", "CURR:AC",
// "RES", "FRES", "FREQ", "PER"; "" for none.
std::string_view FunctionName(char function);
// The full scale of a range in SI units; 0 when the function has no such
// range or (F, T) no full scale.
double FullScale(char function, char range);

// The setting a CONFigure or MEASure command (or FUNCtion, which keeps
// range and resolution) asks for, starting from `present`; false and
// `error` set (-222 for a range or resolution beyond the meter) otherwise.
bool ConfigureSetting(const Command& command, const MeterSetting& present, MeterSetting& wanted,
                      Error& error);

// A number as SCPI's NR3: "+1.23456700E+03".
std::string FormatNumber(double value);
// The answers for an overload and for a reading that is not a number.
inline constexpr std::string_view kOverloadAnswer = "+9.90000000E+37";
inline constexpr std::string_view kNotANumberAnswer = "+9.91000000E+37";
// The answer to CONFigure?: "VOLT +2.00000000E+00,+1.00000000E-05" in
// quotes; F and T name only the function.
std::string ConfigureAnswer(const MeterSetting& setting);

}  // namespace scpi
