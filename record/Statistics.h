// Statistics of readings since the last clear, kept apart per function and
// unit: count, minimum, maximum, mean and standard deviation (Welford's
// running update, stable for millions of readings close to each other),
// the last value, the time span, and overloads and unreadable readings
// counted beside the values.
//
// Thread safety: none; one owner thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/Reading.h"

namespace record {

struct Summary {
  char function = 'U';
  std::string unit;
  std::uint64_t count = 0;  // values
  std::uint64_t overloads = 0;
  std::uint64_t unreadable = 0;
  double minimum = 0.0;
  double maximum = 0.0;
  double mean = 0.0;
  double last = 0.0;
  // Seconds (on the caller's clock) of the first and the last reading of
  // any kind.
  double firstTime = 0.0;
  double lastTime = 0.0;
  double sumSquares = 0.0;  // of the deviations from the mean (Welford's M2)
  // The finest display resolution among the values (Reading::step); 0
  // before the first value.
  double step = 0.0;

  // The sample standard deviation (n - 1); 0 below two values.
  double StandardDeviation() const;
  double Span() const { return lastTime - firstTime; }
};

class Statistics {
 public:
  // Counts one reading taken at `seconds` with the setting's function (an
  // outage, NoLink, is no reading and is not counted).
  void Add(const Reading& reading, char function, double seconds);
  void Clear() { summaries_.clear(); }
  // One summary per function and unit, in the order they first appeared.
  const std::vector<Summary>& Summaries() const { return summaries_; }
  // The summary of function and unit, or null.
  const Summary* Find(char function, const std::string& unit) const;

 private:
  std::vector<Summary> summaries_;
};

}  // namespace record
