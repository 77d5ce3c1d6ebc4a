// The chart's decimation keeps every column's extremes and nothing a
// column cannot show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "record/Decimate.h"

namespace {

using record::Point;

TEST(DecimateTest, KeepsEveryColumnsMinimumAndMaximumInTimeOrder) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> value(-1, 1);
  std::vector<Point> points;
  for (int i = 0; i < 100000; ++i) points.push_back({i * 0.25, value(rng)});
  // Spikes a decimation that averages or skips would lose.
  points[12345].v = 50;
  points[67890].v = -50;
  struct Window { double from, to; std::size_t columns; };
  for (const Window w : {Window{0, 25000, 800}, Window{1000, 1100, 640}, Window{0, 24999.75, 1},
                         Window{3086, 3087, 1000}}) {
    SCOPED_TRACE(std::to_string(w.from) + ".." + std::to_string(w.to));
    std::vector<Point> out;
    record::Decimate(points, w.from, w.to, w.columns, out);
    const double scale = w.columns / (w.to - w.from);
    auto column = [&](double t) { return std::min<std::size_t>(w.columns - 1, (t - w.from) * scale); };
    // The extremes of every column, from all points.
    std::vector<double> lo(w.columns, 1e300), hi(w.columns, -1e300);
    for (const Point& p : points) {
      if (p.t < w.from || p.t > w.to) continue;
      lo[column(p.t)] = std::min(lo[column(p.t)], p.v);
      hi[column(p.t)] = std::max(hi[column(p.t)], p.v);
    }
    std::vector<int> perColumn(w.columns, 0);
    for (const Point& p : out) {
      if (p.t < w.from || p.t > w.to) continue;
      ++perColumn[column(p.t)];
    }
    for (std::size_t c = 0; c < w.columns; ++c) {
      if (lo[c] > hi[c]) continue;
      EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const Point& p) {
        return p.t >= w.from && p.t <= w.to && column(p.t) == c && p.v == lo[c];
      })) << "minimum of column " << c;
      EXPECT_TRUE(std::any_of(out.begin(), out.end(), [&](const Point& p) {
        return p.t >= w.from && p.t <= w.to && column(p.t) == c && p.v == hi[c];
      })) << "maximum of column " << c;
      EXPECT_LE(perColumn[c], 2);
    }
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end(),
                               [](const Point& a, const Point& b) { return a.t < b.t; }));
    EXPECT_LE(out.size(), 2 * w.columns + 2);
  }
}

TEST(DecimateTest, RunsToTheEdgesWithTheNearestOutsidePoints) {
  const std::vector<Point> points{{0, 1}, {10, 2}, {20, 3}, {30, 4}};
  std::vector<Point> out;
  record::Decimate(points, 15, 25, 10, out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].t, 10);
  EXPECT_EQ(out[1].t, 20);
  EXPECT_EQ(out[2].t, 30);
  EXPECT_TRUE(record::Decimate({}, 0, 1, 10, out).empty());
  EXPECT_TRUE(record::Decimate(points, 0, 30, 0, out).empty());
  EXPECT_TRUE(record::Decimate(points, 30, 0, 10, out).empty());
}

// An outage (NaN) is kept and splits the column it falls in: the line on
// either side has its own extremes, and none runs across the outage.
TEST(DecimateTest, AnOutageIsKeptAndEachSideIsDecimatedApart) {
  std::vector<Point> points;
  for (int i = 0; i < 100; ++i) {
    points.push_back({static_cast<double>(i), static_cast<double>(i % 7)});
    if (i == 49) points.push_back({49.5, std::nan("")});
  }
  std::vector<Point> out;
  record::Decimate(points, 0, 99, 1, out);
  ASSERT_EQ(out.size(), 5u);
  EXPECT_TRUE(std::isnan(out[2].v));
  EXPECT_EQ(out[2].t, 49.5);
  for (std::size_t i : {0u, 1u}) EXPECT_LT(out[i].t, 49.5);
  for (std::size_t i : {3u, 4u}) EXPECT_GT(out[i].t, 49.5);
  EXPECT_EQ(std::min(out[0].v, out[1].v), 0);
  EXPECT_EQ(std::max(out[3].v, out[4].v), 6);

  record::Decimate(points, 60, 99, 4, out);
  EXPECT_TRUE(std::none_of(out.begin(), out.end(), [](const Point& p) { return std::isnan(p.v); }));
  record::Decimate(points, 49.7, 99, 4, out);
  ASSERT_FALSE(out.empty());
  EXPECT_TRUE(std::isnan(out.front().v)) << "the outage just before the window starts it";
}

}  // namespace
