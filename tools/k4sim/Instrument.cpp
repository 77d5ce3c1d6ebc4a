#include "tools/k4sim/Instrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace k4sim {
namespace {

struct RangeInfo {
  double fullScale;  // in display units
  const char* unit;
};

// Indexed by the range digit.
constexpr RangeInfo kVoltRanges[5] = {{200, "mV"}, {2, "V"}, {20, "V"}, {200, "V"}, {1000, "V"}};
constexpr RangeInfo kOhmRanges[7] = {{200, "Ohm"}, {2, "kOhm"},  {20, "kOhm"}, {200, "kOhm"},
                                     {2, "MOhm"},  {20, "MOhm"}, {2, "GOhm"}};

// Where each function's reading sits, as a fraction of full scale.
double BaseFraction(char function) {
  switch (function) {
    case 'U': return 0.617283;
    case 'V': return 0.511742;
    case 'I': return 0.234567;
    case 'J': return 0.314159;
    case 'R': return 0.470213;
    case 'Z': return 0.469871;
    default: return 0.0;  // F and T: deviation from nominal only
  }
}

bool IsFunction(char c) {
  return c == 'U' || c == 'V' || c == 'I' || c == 'J' || c == 'R' || c == 'Z' || c == 'F' ||
         c == 'T';
}

bool IsFrequencyOrPeriod(char function) { return function == 'F' || function == 'T'; }

int DisplayDigits(char resolution) { return resolution == '0' ? 4 : resolution == '1' ? 5 : 6; }

int IntegerDigits(double magnitude) {
  int digits = 1;
  for (double limit = 10; magnitude >= limit && digits < 9; limit *= 10) ++digits;
  return digits;
}

// "<digits with a point>", decimals chosen so that the number shows
// `significant` digits for a magnitude of `integerDigits` integer digits.
std::string FixedNumber(double magnitude, int significant, int integerDigits) {
  const int decimals = std::max(0, significant - integerDigits);
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, magnitude);
  std::string number = text;
  if (decimals == 0) number += '.';
  return number;
}

bool IsBinaryArg(char arg) { return arg == '0' || arg == '1'; }

}  // namespace

Instrument::Instrument(std::uint64_t seed) : rng_(seed) {}

InputKind Instrument::Receive(char c) {
  if (c == '!') {
    buffer_.clear();
    overflow_ = false;
    return InputKind::Probe;
  }
  if (c == '\n') {
    if (overflow_) {
      ++rejectedLines_;
    } else if (!buffer_.empty()) {
      Execute(buffer_);
    }
    buffer_.clear();
    overflow_ = false;
    return InputKind::LineEnd;
  }
  if (c == '\r' || c == '\0') return InputKind::Skipped;
  if (buffer_.size() >= kMaxCommandLine) {
    overflow_ = true;
    return InputKind::Skipped;
  }
  buffer_ += c;
  return InputKind::Stored;
}

void Instrument::Execute(const std::string& line) {
  ++commandLines_;
  for (std::size_t i = 0; i < line.size(); i += 2) {
    if (i + 1 >= line.size() || !Apply(line[i], line[i + 1])) ++rejectedPairs_;
  }
}

bool Instrument::ApplyFunction(char letter, char arg) {
  if (arg < '0' || arg > '6') return false;
  char range = arg;
  if (letter == 'I' || letter == 'J') {
    range = '1';
  } else if (IsFrequencyOrPeriod(letter)) {
    range = '0';
  } else if (letter != 'R') {
    range = std::min(range, '4');
  }
  state_.function = letter;
  state_.range = range;
  return true;
}

bool Instrument::Apply(char letter, char arg) {
  if (IsFunction(letter)) return ApplyFunction(letter, arg);
  char* binary = nullptr;
  switch (letter) {
    case 'G': binary = &state_.trigger; break;
    case 'B': binary = &state_.output; break;
    case 'Y': binary = &state_.setupFlag; break;
    case 'M': binary = &state_.calculations; break;
    case 'A': binary = &state_.autoRange; break;
    case 'W': binary = &state_.filter; break;
    case 'S': binary = &state_.sound; break;
    case 'N': binary = &state_.periodicZero; break;
    case 'L': binary = &state_.backlight; break;
    case 'H':
      if (arg < '0' || arg > '2') return false;
      state_.resolution = arg;
      return true;
    case 'Q':
      if (!IsBinaryArg(arg)) return false;
      state_.externalZero = arg;
      zeroOffset_ = arg == '1' ? TrueFraction() : 0.0;
      return true;
    case 'K':
      if (arg != '0') return false;
      ++state_.autoCalibrations;
      return true;
    case 'X':
      if (arg != '0') return false;
      Reset();
      return true;
    default: return false;
  }
  if (!IsBinaryArg(arg)) return false;
  *binary = arg;
  return true;
}

void Instrument::Reset() {
  const std::uint64_t calibrations = state_.autoCalibrations;
  const std::uint64_t resets = state_.resets + 1;
  state_ = InstrumentState{};
  state_.autoCalibrations = calibrations;
  state_.resets = resets;
  zeroOffset_ = 0.0;
}

double Instrument::TrueFraction() const { return BaseFraction(state_.function) + drift_; }

std::string Instrument::NextReadingText() {
  // A slow mean-reverting walk: readings wander in the last two or three
  // digits at 5½ without ever leaving the range.
  std::normal_distribution<double> step(0.0, 1e-5);
  std::normal_distribution<double> noise(0.0, state_.filter == '1' ? 2e-7 : 2e-6);
  drift_ = std::clamp(0.995 * drift_ + step(rng_), -0.01, 0.01);
  const double fraction = std::clamp(TrueFraction() + noise(rng_) - zeroOffset_, -0.95, 0.95);
  const double value = IsFrequencyOrPeriod(state_.function) ? FullScale(state_) * (1.0 + fraction)
                                                            : FullScale(state_) * fraction;
  return FormatReading(state_, value);
}

std::string Instrument::FormatReading(const InstrumentState& state, double value) {
  const char sign = value < 0 ? '-' : '+';
  const double magnitude = std::fabs(value);
  std::string text;
  if (IsFrequencyOrPeriod(state.function)) {
    text = sign + FixedNumber(magnitude, 6, IntegerDigits(magnitude));
  } else {
    const int digits = DisplayDigits(state.resolution);
    const int integerDigits = IntegerDigits(FullScale(state));
    text = sign + FixedNumber(magnitude, digits, integerDigits);
    const std::size_t width = static_cast<std::size_t>(digits) + 2;
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
  }
  // The unit starts in the same column at every display format, so a
  // reader that takes more characters than the format needs (its count
  // lags a format change by a line or two) gets blanks, not the unit.
  text.resize(std::max<std::size_t>(text.size() + 1, kUnitColumn), ' ');
  text += Unit(state);
  text += ' ';
  text += state.function;
  text += state.range;
  return text;
}

std::size_t Instrument::ReadingChars(const InstrumentState& state) {
  if (IsFrequencyOrPeriod(state.function)) return 8;
  return static_cast<std::size_t>(DisplayDigits(state.resolution)) + 3;
}

double Instrument::FullScale(const InstrumentState& state) {
  const int index = std::clamp(state.range - '0', 0, 6);
  switch (state.function) {
    case 'U':
    case 'V': return kVoltRanges[std::min(index, 4)].fullScale;
    case 'R':
    case 'Z': return kOhmRanges[index].fullScale;
    case 'F': return 50.0;
    case 'T': return 20000.0;
    default: return 2.0;  // I, J: the 2 A range
  }
}

const char* Instrument::Unit(const InstrumentState& state) {
  const int index = std::clamp(state.range - '0', 0, 6);
  switch (state.function) {
    case 'U':
    case 'V': return kVoltRanges[std::min(index, 4)].unit;
    case 'R':
    case 'Z': return kOhmRanges[index].unit;
    case 'F': return "Hz";
    case 'T': return "us";
    default: return "A";
  }
}

}  // namespace k4sim
