// The ticks and labels of the trend chart's axes.
//
// The value axis gets round ticks: steps of 1, 2 or 5 times a power of ten,
// as many as fit `most`, labelled in the unit with the SI prefix that suits
// the larger end ("940.30" in Ω, "12.5" in mV), with the decimals the step
// needs and no more.
//
// The time axis gets ticks on round local times: steps from a millisecond
// through 1, 2, 5, 10, 15 and 30 seconds and minutes, 1, 2, 3, 6 and 12
// hours to days and weeks, the smallest that keeps the ticks to `most`.
// The label shows what the step needs: seconds with their fraction below
// a second, "HH:MM:SS" below a minute, "HH:MM" below a day, the day and
// month ("dd.MM") from a day on, the year too when the span crosses one.
// When the ticks do not share a date, the times carry their date
// ("dd.MM HH:MM"), so that no two labels of one axis are ever the same.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace record {

struct Tick {
  double at = 0.0;  // on the axis's own scale (SI units; seconds since the epoch)
  std::string label;
};

struct ValueAxis {
  std::vector<Tick> ticks;
  std::string unit;  // the prefixed unit the labels are in ("mV")
};

// Ticks between `low` and `high` (low < high) for values in `unit`.
ValueAxis ValueTicks(double low, double high, std::string_view unit, int most = 7);

struct TimeAxis {
  std::vector<Tick> ticks;
  // "dd.MM.yyyy" when every tick falls on that date and the labels do not
  // show it; empty otherwise.
  std::string date;
};

// Ticks between `from` and `to` (seconds since the epoch, from < to), on
// the local time `utcOffset` seconds ahead of UTC.
TimeAxis TimeTicks(double from, double to, int utcOffset, int most = 7);

}  // namespace record
