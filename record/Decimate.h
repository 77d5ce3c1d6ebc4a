// Decimation of a trend for drawing: of the points that fall into one
// pixel column only the minimum and the maximum can be told apart on the
// screen, so each column keeps those two (in their time order) and drops
// the rest. A line through the result covers exactly the pixels a line
// through all points would, at a cost bounded by the width, not by the
// number of points.
//
// A point whose value is NaN is a break in the line (the instrument was
// not reachable then): it is always kept, and the points on either side of
// it are decimated apart, so that no line is drawn across it.
//
// Thread safety: pure function; any thread.
#pragma once

#include <cstddef>
#include <vector>

namespace record {

struct Point {
  double t = 0.0;
  double v = 0.0;
};

// The points of `points` (sorted by t) that a line `columns` pixels wide
// showing the times [from, to] needs: per column its minimum and maximum
// in time order (one point when they coincide) on either side of every
// break in it, the breaks themselves, plus the nearest point outside the
// window on either side, so that the line runs to the edges.
// Appends to `out` (cleared first) and returns it.
std::vector<Point>& Decimate(const std::vector<Point>& points, double from, double to,
                             std::size_t columns, std::vector<Point>& out);

}  // namespace record
