#include "scpi/Meter.h"

#include <cmath>
#include <cstdio>
#include <span>

namespace scpi {
namespace {

struct Range {
  char digit;
  double fullScale;
};

constexpr Range kVoltage[] = {{'0', 0.2}, {'1', 2}, {'2', 20}, {'3', 200}, {'4', 1000}};
constexpr Range kCurrent[] = {{'1', 2}};
constexpr Range kResistance[] = {{'0', 200}, {'1', 2e3}, {'2', 2e4}, {'3', 2e5},
                                 {'4', 2e6}, {'5', 2e7}, {'6', 2e9}};
constexpr Range kCounter[] = {{'0', 0}};

std::span<const Range> Ranges(char function) {
  switch (function) {
    case 'U':
    case 'V': return kVoltage;
    case 'I':
    case 'J': return kCurrent;
    case 'R': return kResistance;
    case 'Z': return std::span<const Range>(kResistance).first(5);
    case 'F':
    case 'T': return kCounter;
    default: return {};
  }
}

bool HasRange(char function, char range) {
  for (const Range& r : Ranges(function))
    if (r.digit == range) return true;
  return false;
}

bool IsCounter(char function) { return function == 'F' || function == 'T'; }

// The range the function key leaves when it picks `function` while the
// panel holds `present`: voltage comes back from the counter on its top
// range, the safe one for whatever is connected; a range the function
// lacks becomes its lowest (its only one for current and the counter).
char KeptRange(char function, const MeterSetting& present) {
  if ((function == 'U' || function == 'V') && IsCounter(present.function)) return '4';
  return HasRange(function, present.range) ? present.range : Ranges(function).front().digit;
}

// A comparison with room for the decimal numbers a client writes: 2 V
// holds 2.0000000001 as a client means it.
bool AtMost(double value, double limit) { return value <= limit * (1 + 1e-9); }

bool PickRange(const Value& value, MeterSetting& wanted, Error& error) {
  const std::span<const Range> ranges = Ranges(wanted.function);
  switch (value.kind) {
    case Value::Kind::Default: return true;
    case Value::Kind::Auto: wanted.autoRange = true; return true;
    case Value::Kind::Minimum: wanted.range = ranges.front().digit; break;
    case Value::Kind::Maximum: wanted.range = ranges.back().digit; break;
    case Value::Kind::Number: break;
  }
  wanted.autoRange = false;
  if (value.kind != Value::Kind::Number) return true;
  const double magnitude = std::fabs(value.number);
  for (const Range& r : ranges) {
    if (r.fullScale == 0 || AtMost(magnitude, r.fullScale)) {
      wanted.range = r.digit;
      return true;
    }
  }
  error = Error{kDataOutOfRange, "range"};
  return false;
}

bool PickResolution(const Value& value, MeterSetting& wanted, Error& error) {
  switch (value.kind) {
    case Value::Kind::Default:
    case Value::Kind::Auto: return true;
    case Value::Kind::Minimum: wanted.resolution = '2'; return true;
    case Value::Kind::Maximum: wanted.resolution = '0'; return true;
    case Value::Kind::Number: break;
  }
  const double fullScale = FullScale(wanted.function, wanted.range);
  // The counter shows six digits whatever the display format.
  if (fullScale == 0) return true;
  const double step = std::fabs(value.number);
  constexpr struct {
    char resolution;
    double counts;
  } kFormats[] = {{'0', 2000}, {'1', 20000}, {'2', 200000}};
  for (const auto& f : kFormats) {
    if (AtMost(fullScale / f.counts, step)) {
      wanted.resolution = f.resolution;
      return true;
    }
  }
  error = Error{kDataOutOfRange, "resolution"};
  return false;
}

}  // namespace

std::string_view FunctionName(char function) {
  switch (function) {
    case 'U': return "VOLT";
    case 'V': return "VOLT:AC";
    case 'I': return "CURR";
    case 'J': return "CURR:AC";
    case 'R': return "RES";
    case 'Z': return "FRES";
    case 'F': return "FREQ";
    case 'T': return "PER";
    default: return "";
  }
}

double FullScale(char function, char range) {
  for (const Range& r : Ranges(function))
    if (r.digit == range) return r.fullScale;
  return 0;
}

bool ConfigureSetting(const Command& command, const MeterSetting& present, MeterSetting& wanted,
                      Error& error) {
  wanted = present;
  wanted.function = command.function;
  wanted.range = KeptRange(wanted.function, present);
  if (command.op == Op::SetFunction) return true;
  return PickRange(command.range, wanted, error) && PickResolution(command.resolution, wanted, error);
}

std::string FormatNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.8E", value);
  return text;
}

std::string ConfigureAnswer(const MeterSetting& setting) {
  std::string text = "\"" + std::string(FunctionName(setting.function));
  const double fullScale = FullScale(setting.function, setting.range);
  if (fullScale != 0) {
    const double counts = setting.resolution == '0' ? 2000 : setting.resolution == '1' ? 20000 : 200000;
    text += ' ' + FormatNumber(fullScale) + ',' + FormatNumber(fullScale / counts);
  }
  return text + '"';
}

}  // namespace scpi
