// Statistics against a reference computed another way: two passes in long
// double over the same values.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "record/Statistics.h"

namespace {

using record::Reading;
using record::ReadingKind;

Reading Value(double v, const char* unit = "V") { return {ReadingKind::Value, v, unit}; }

struct Reference {
  double mean = 0, deviation = 0, minimum = 0, maximum = 0;
};

Reference TwoPass(const std::vector<double>& values) {
  long double sum = 0;
  for (double v : values) sum += v;
  const long double mean = sum / values.size();
  long double squares = 0;
  for (double v : values) squares += (v - mean) * (v - mean);
  Reference r;
  r.mean = static_cast<double>(mean);
  r.deviation = static_cast<double>(std::sqrt(squares / (values.size() - 1)));
  r.minimum = *std::min_element(values.begin(), values.end());
  r.maximum = *std::max_element(values.begin(), values.end());
  return r;
}

TEST(StatisticsTest, MatchesTwoPassReferenceEvenOnALargeOffset) {
  // A 1 GΩ reading wandering in its last digits: a naive sum of squares
  // loses every digit of the deviation here.
  for (double offset : {0.0, 1.5, 1e9}) {
    SCOPED_TRACE(offset);
    std::mt19937_64 rng(7);
    std::normal_distribution<double> noise(0.0, 1e-3);
    std::vector<double> values;
    record::Statistics stats;
    for (int i = 0; i < 100000; ++i) {
      values.push_back(offset + noise(rng));
      stats.Add(Value(values.back(), "Ω"), 'R', i * 0.25);
    }
    const Reference ref = TwoPass(values);
    const record::Summary& s = stats.Summaries().at(0);
    EXPECT_EQ(s.count, values.size());
    // At 1e9 a double itself holds the readings only to 1.2e-7; a naive sum
    // of squares (1e18, steps of 128) would lose the deviation entirely.
    EXPECT_NEAR(s.mean, ref.mean, std::fabs(ref.mean) * 1e-14 + 1e-15);
    EXPECT_NEAR(s.StandardDeviation(), ref.deviation, ref.deviation * 1e-4);
    EXPECT_EQ(s.minimum, ref.minimum);
    EXPECT_EQ(s.maximum, ref.maximum);
    EXPECT_EQ(s.last, values.back());
    EXPECT_DOUBLE_EQ(s.Span(), (values.size() - 1) * 0.25);
  }
}

TEST(StatisticsTest, KeepsFunctionsAndUnitsApartAndCountsOverloadsBeside) {
  record::Statistics stats;
  stats.Add(Value(1.0), 'U', 0);
  stats.Add(Value(3.0), 'U', 1);
  stats.Add({ReadingKind::Overload, 0, "V"}, 'U', 2);
  stats.Add(Value(0.5), 'V', 3);
  stats.Add(Value(100.0, "Ω"), 'R', 4);
  stats.Add({ReadingKind::Unreadable, 0, "V"}, 'U', 5);
  ASSERT_EQ(stats.Summaries().size(), 3u);
  const record::Summary* u = stats.Find('U', "V");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->count, 2u);
  EXPECT_EQ(u->overloads, 1u);
  EXPECT_EQ(u->unreadable, 1u);
  EXPECT_EQ(u->mean, 2.0);
  EXPECT_DOUBLE_EQ(u->StandardDeviation(), std::sqrt(2.0));
  EXPECT_EQ(u->Span(), 5.0);
  EXPECT_EQ(stats.Find('V', "V")->count, 1u);
  EXPECT_EQ(stats.Find('V', "V")->StandardDeviation(), 0.0);
  stats.Clear();
  EXPECT_TRUE(stats.Summaries().empty());
}

TEST(StatisticsTest, OnlyOverloadsLeaveTheValuesEmpty) {
  record::Statistics stats;
  stats.Add({ReadingKind::Overload, 0, "A"}, 'I', 0);
  const record::Summary& s = stats.Summaries().at(0);
  EXPECT_EQ(s.count, 0u);
  EXPECT_EQ(s.overloads, 1u);
  // A first value after overloads sets minimum and maximum from itself.
  stats.Add(Value(-5.0, "A"), 'I', 1);
  EXPECT_EQ(stats.Summaries()[0].minimum, -5.0);
  EXPECT_EQ(stats.Summaries()[0].maximum, -5.0);
}

}  // namespace
