#include "record/Statistics.h"

#include <algorithm>
#include <cmath>

namespace record {

double Summary::StandardDeviation() const {
  return count < 2 ? 0.0 : std::sqrt(sumSquares / static_cast<double>(count - 1));
}

const Summary* Statistics::Find(char function, const std::string& unit) const {
  for (const Summary& s : summaries_)
    if (s.function == function && s.unit == unit) return &s;
  return nullptr;
}

void Statistics::Add(const Reading& reading, char function, double seconds) {
  if (reading.kind == ReadingKind::NoLink) return;
  auto it = std::find_if(summaries_.begin(), summaries_.end(), [&](const Summary& s) {
    return s.function == function && s.unit == reading.unit;
  });
  if (it == summaries_.end()) {
    Summary fresh;
    fresh.function = function;
    fresh.unit = reading.unit;
    fresh.firstTime = seconds;
    summaries_.push_back(fresh);
    it = summaries_.end() - 1;
  }
  Summary& s = *it;
  s.lastTime = seconds;
  if (reading.kind == ReadingKind::Overload) {
    ++s.overloads;
    return;
  }
  if (reading.kind == ReadingKind::Unreadable) {
    ++s.unreadable;
    return;
  }
  const double x = reading.value;
  if (s.count == 0) {
    s.minimum = s.maximum = x;
  } else {
    s.minimum = std::min(s.minimum, x);
    s.maximum = std::max(s.maximum, x);
  }
  ++s.count;
  if (reading.step > 0 && (s.step == 0 || reading.step < s.step)) s.step = reading.step;
  const double delta = x - s.mean;
  s.mean += delta / static_cast<double>(s.count);
  s.sumSquares += delta * (x - s.mean);
  s.last = x;
}

}  // namespace record
