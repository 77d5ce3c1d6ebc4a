#include "record/Numbers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

namespace record {
namespace {

constexpr std::array<SiPrefix, 8> kPrefixes{
    {{"G", 9}, {"M", 6}, {"k", 3}, {"", 0}, {"m", -3}, {"µ", -6}, {"n", -9}, {"p", -12}}};

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string result(text);
  // A value that rounds to zero is zero, without a sign.
  if (result.front() == '-' && result.find_first_not_of("-0.") == std::string::npos) result.erase(0, 1);
  return result;
}

}  // namespace

int DecimalsOf(double step) {
  if (!(step > 0) || step >= 1) return 0;
  // The tolerance absorbs steps such as 1e-5 held as 1.0000000000000001e-05.
  return static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

std::string FormatToStep(double value, double step) {
  if (step > 0) return Fixed(value, DecimalsOf(step));
  if (value == 0) return "0";
  const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
  return Fixed(value, std::max(0, 5 - magnitude));
}

SiPrefix PrefixFor(double value) {
  const double magnitude = std::fabs(value);
  if (!(magnitude > 0) || !std::isfinite(magnitude)) return kPrefixes[3];
  for (const SiPrefix& prefix : kPrefixes)
    if (magnitude >= std::pow(10.0, prefix.exponent) * (1 - 1e-12)) return prefix;
  return kPrefixes.back();
}

std::string FormatSi(double value, std::string_view unit, int significant) {
  SiPrefix prefix = PrefixFor(value);
  double scaled = value / std::pow(10.0, prefix.exponent);
  int whole = scaled == 0 ? 1 : static_cast<int>(std::floor(std::log10(std::fabs(scaled)))) + 1;
  // Rounding may carry into the next prefix: 999.6 µV at three digits.
  const double rounded = std::stod(Fixed(scaled, std::max(0, significant - whole)));
  if (std::fabs(rounded) >= 1000 && prefix.exponent < kPrefixes.front().exponent) {
    prefix = PrefixFor(value * 1.001);
    scaled = value / std::pow(10.0, prefix.exponent);
    whole = 1;  // it shows as 1.00 of the larger prefix
  }
  return Fixed(scaled, std::max(0, significant - whole)) + " " + std::string(prefix.symbol) +
         std::string(unit);
}

}  // namespace record
