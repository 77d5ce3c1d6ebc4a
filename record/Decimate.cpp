#include "record/Decimate.h"

#include <algorithm>
#include <cmath>

namespace record {

std::vector<Point>& Decimate(const std::vector<Point>& points, double from, double to,
                             std::size_t columns, std::vector<Point>& out) {
  out.clear();
  if (points.empty() || columns == 0 || !(to >= from)) return out;
  const auto byTime = [](const Point& p, double t) { return p.t < t; };
  auto first = std::lower_bound(points.begin(), points.end(), from, byTime);
  auto last = std::upper_bound(points.begin(), points.end(), to,
                               [](double t, const Point& p) { return t < p.t; });
  if (first != points.begin()) out.push_back(*(first - 1));
  const double width = to > from ? to - from : 1.0;
  const double scale = static_cast<double>(columns) / width;
  auto column = [&](const Point& p) {
    return std::min(columns - 1, static_cast<std::size_t>((p.t - from) * scale));
  };
  for (auto it = first; it != last;) {
    if (std::isnan(it->v)) {
      out.push_back(*it++);
      continue;
    }
    const std::size_t c = column(*it);
    auto lo = it;
    auto hi = it;
    for (++it; it != last && !std::isnan(it->v) && column(*it) == c; ++it) {
      if (it->v < lo->v) lo = it;
      if (it->v > hi->v) hi = it;
    }
    if (lo == hi) {
      out.push_back(*lo);
    } else if (lo < hi) {
      out.push_back(*lo);
      out.push_back(*hi);
    } else {
      out.push_back(*hi);
      out.push_back(*lo);
    }
  }
  if (last != points.end()) out.push_back(*last);
  return out;
}

}  // namespace record
