#include "record/Axis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "record/Numbers.h"

namespace record {
namespace {

// Multiples of `step` from the first at or above `low` to the last at or
// below `high`; a tolerance keeps an end that is a multiple itself.
void Multiples(double low, double high, double step, std::vector<double>& at) {
  const double slack = step * 1e-9;
  const auto first = static_cast<std::int64_t>(std::ceil((low - slack) / step));
  const auto last = static_cast<std::int64_t>(std::floor((high + slack) / step));
  for (std::int64_t i = first; i <= last; ++i) at.push_back(static_cast<double>(i) * step);
}

struct Date {
  int year, month, day;
};

// The civil date of a day number since 1970-01-01 (proleptic Gregorian).
Date CivilDate(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  const auto day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
  const auto month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
  const auto year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2));
  return {year, month, day};
}

std::int64_t DayOf(double local) { return static_cast<std::int64_t>(std::floor(local / 86400)); }

std::string TwoDigits(int n) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

std::string DayMonth(const Date& d) { return TwoDigits(d.day) + "." + TwoDigits(d.month); }
std::string FullDate(const Date& d) { return DayMonth(d) + "." + std::to_string(d.year); }

// The time of day of `local` to the step's precision.
std::string TimeOfDay(double local, double step) {
  const int decimals = DecimalsOf(step);
  const double ofDay = local - static_cast<double>(DayOf(local)) * 86400;
  // Rounded to the step's precision first, so 59.9996 s shows as 00:01:00.000.
  const double rounded = std::round(ofDay * std::pow(10.0, decimals)) / std::pow(10.0, decimals);
  const auto whole = static_cast<int>(std::floor(rounded));
  std::string text = TwoDigits(whole / 3600 % 24) + ":" + TwoDigits(whole / 60 % 60);
  if (step >= 60) return text;
  text += ":" + TwoDigits(whole % 60);
  if (decimals > 0) text += FormatToStep(rounded - whole, step).substr(1);
  return text;
}

constexpr std::array<double, 29> kTimeSteps{
    0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1,  0.2,  0.5,   1,     2,     5,     10,     15,    30,
    60,    120,   300,   600,  900,  1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800};

double TimeStep(double span, int most) {
  for (double step : kTimeSteps)
    if (span / step + 1 <= most) return step;
  // Beyond a week: 2, 4 and 8 weeks, a quarter, half a year, then years.
  for (double weeks : {2.0, 4.0, 8.0, 13.0, 26.0})
    if (span / (604800 * weeks) + 1 <= most) return 604800 * weeks;
  double weeks = 52;
  while (span / (604800 * weeks) + 1 > most) weeks *= 2;
  return 604800 * weeks;
}

}  // namespace

ValueAxis ValueTicks(double low, double high, std::string_view unit, int most) {
  ValueAxis axis;
  const SiPrefix prefix = PrefixFor(std::max(std::fabs(low), std::fabs(high)));
  axis.unit = std::string(prefix.symbol) + std::string(unit);
  const double span = high - low;
  if (!(span > 0) || !std::isfinite(span) || most < 2) return axis;
  const double rough = span / (most - 1);
  const double decade = std::pow(10.0, std::floor(std::log10(rough)));
  double step = decade * 10;
  for (double factor : {1.0, 2.0, 5.0}) {
    if (decade * factor >= rough * (1 - 1e-9)) {
      step = decade * factor;
      break;
    }
  }
  std::vector<double> at;
  Multiples(low, high, step, at);
  const double scale = std::pow(10.0, prefix.exponent);
  for (double value : at) axis.ticks.push_back({value, FormatToStep(value / scale, step / scale)});
  return axis;
}

TimeAxis TimeTicks(double from, double to, int utcOffset, int most) {
  TimeAxis axis;
  const double span = to - from;
  if (!(span > 0) || !std::isfinite(span) || most < 2) return axis;
  const double step = TimeStep(span, most);
  std::vector<double> at;
  Multiples(from + utcOffset, to + utcOffset, step, at);
  if (at.empty()) return axis;
  const Date first = CivilDate(DayOf(at.front()));
  const Date last = CivilDate(DayOf(at.back()));
  const bool oneDay = DayOf(at.front()) == DayOf(at.back());
  for (double local : at) {
    const Date date = CivilDate(DayOf(local));
    std::string label;
    if (step >= 86400)
      label = first.year == last.year ? DayMonth(date) : FullDate(date);
    else if (oneDay)
      label = TimeOfDay(local, step);
    else
      label = DayMonth(date) + " " + TimeOfDay(local, step);
    axis.ticks.push_back({local - utcOffset, label});
  }
  if (oneDay && step < 86400) axis.date = FullDate(first);
  return axis;
}

}  // namespace record
