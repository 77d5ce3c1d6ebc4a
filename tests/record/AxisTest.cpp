// How the recorder writes numbers and labels its chart's axes: round value
// ticks in a prefixed unit, time ticks on round local times whose labels
// adapt to the span and never repeat, values to their display's resolution
// and small deviations with an SI prefix.
#include <gtest/gtest.h>

#include <set>

#include "record/Axis.h"
#include "record/Numbers.h"
#include "record/Reading.h"
#include "record/Statistics.h"

namespace {

using record::Tick;

std::vector<std::string> Labels(const std::vector<Tick>& ticks) {
  std::vector<std::string> labels;
  for (const Tick& t : ticks) labels.push_back(t.label);
  return labels;
}

using Strings = std::vector<std::string>;

TEST(AxisTest, ValueTicksAreRoundAndInThePrefixedUnit) {
  const struct {
    double low, high;
    const char* unit;
    int most;
    Strings labels;
    const char* shown;
  } cases[] = {
      // The chart of the issue: unrounded 0.940816 / 0.940563 / 0.94031.
      {0.94028, 0.94085, "V", 7, {"940.3", "940.4", "940.5", "940.6", "940.7", "940.8"}, "mV"},
      {940.28, 940.85, "Ω", 4, {"940.4", "940.6", "940.8"}, "Ω"},
      {-1.5, 1.5, "V", 5, {"-1", "0", "1"}, "V"},
      {-1.5, 1.5, "V", 7, {"-1.5", "-1.0", "-0.5", "0.0", "0.5", "1.0", "1.5"}, "V"},
      {1234500, 1235500, "Ω", 6, {"1.2346", "1.2348", "1.2350", "1.2352", "1.2354"}, "MΩ"},
      {0.0000123, 0.0000127, "A", 5, {"12.3", "12.4", "12.5", "12.6", "12.7"}, "µA"},
      {49.99, 50.01, "Hz", 5, {"49.990", "49.995", "50.000", "50.005", "50.010"}, "Hz"},
      {0, 0.000020, "s", 3, {"0", "10", "20"}, "µs"},
      {1e9, 2e9, "Ω", 3, {"1.0", "1.5", "2.0"}, "GΩ"},
  };
  for (const auto& c : cases) {
    const record::ValueAxis axis = record::ValueTicks(c.low, c.high, c.unit, c.most);
    EXPECT_EQ(Labels(axis.ticks), c.labels) << c.low << ".." << c.high;
    EXPECT_EQ(axis.unit, c.shown) << c.low << ".." << c.high;
    EXPECT_LE(axis.ticks.size(), static_cast<std::size_t>(c.most));
  }
  EXPECT_TRUE(record::ValueTicks(1, 1, "V").ticks.empty()) << "no span, no ticks";
}

// 2026-12-08 is day 20795 since the epoch; times below are UTC + offset 0
// unless the row says otherwise.
constexpr double kDay = 20795.0 * 86400;

TEST(AxisTest, TimeTicksFollowTheSpanFromMillisecondsToWeeks) {
  const struct {
    double from, to;
    int offset, most;
    Strings labels;
    const char* date;
  } cases[] = {
      {kDay + 3600 * 7 + 1080,
       kDay + 3600 * 7 + 1140,
       0,
       7,
       {"07:18:00", "07:18:10", "07:18:20", "07:18:30", "07:18:40", "07:18:50", "07:19:00"},
       "08.12.2026"},
      {kDay + 10.0004, kDay + 10.0031, 0, 4, {"00:00:10.001", "00:00:10.002", "00:00:10.003"}, "08.12.2026"},
      {kDay + 10,
       kDay + 12,
       0,
       5,
       {"00:00:10.0", "00:00:10.5", "00:00:11.0", "00:00:11.5", "00:00:12.0"},
       "08.12.2026"},
      {kDay + 3600, kDay + 3 * 3600, 0, 5, {"01:00", "01:30", "02:00", "02:30", "03:00"}, "08.12.2026"},
      // Local time three hours ahead of UTC.
      {kDay + 3600, kDay + 3 * 3600, 3 * 3600, 3, {"04:00", "05:00", "06:00"}, "08.12.2026"},
      // Across midnight the times carry their dates.
      {kDay - 3600, kDay + 3600, 0, 3, {"07.12 23:00", "08.12 00:00", "08.12 01:00"}, ""},
      {kDay - 86400 * 2, kDay + 86400 * 2, 0, 5, {"06.12", "07.12", "08.12", "09.12", "10.12"}, ""},
      // Weeks and fortnights; the year shows when the span crosses one.
      {kDay + 86400 * 20, kDay + 86400 * 40, 0, 4, {"31.12.2026", "07.01.2027", "14.01.2027"}, ""},
      {kDay, kDay + 86400 * 40, 0, 4, {"17.12.2026", "31.12.2026", "14.01.2027"}, ""},
      {kDay, kDay + 86400 * 15, 0, 4, {"10.12", "17.12"}, ""},
  };
  for (const auto& c : cases) {
    const record::TimeAxis axis = record::TimeTicks(c.from, c.to, c.offset, c.most);
    EXPECT_EQ(Labels(axis.ticks), c.labels) << std::fixed << c.from - kDay << ".." << c.to - kDay;
    EXPECT_EQ(axis.date, c.date) << std::fixed << c.from - kDay << ".." << c.to - kDay;
    for (const Tick& t : axis.ticks) {
      EXPECT_GE(t.at, c.from - 1e-6);
      EXPECT_LE(t.at, c.to + 1e-6);
    }
  }
}

TEST(AxisTest, TimeLabelsNeverRepeatWhateverTheSpan) {
  for (double span = 0.01; span < 3e7; span *= 1.37) {
    for (int offset : {0, 3 * 3600, -5 * 3600 - 1800}) {
      for (double start : {kDay + 123.456, kDay + 86400 - span / 2}) {
        const record::TimeAxis axis = record::TimeTicks(start, start + span, offset, 7);
        const Strings labels = Labels(axis.ticks);
        EXPECT_GE(labels.size(), 2u) << span;
        EXPECT_LE(labels.size(), 7u) << span;
        EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()).size(), labels.size())
            << "span " << span << ": " << testing::PrintToString(labels);
      }
    }
  }
}

TEST(NumbersTest, ValuesToTheirResolutionAndDeviationsWithAPrefix) {
  const struct {
    double value, step;
    const char* text;
  } fixed[] = {
      {940.33, 0.01, "940.33"},     {1.23456, 1e-5, "1.23456"},
      {0.000123, 1e-6, "0.000123"}, {1234560, 10, "1234560"},
      {-0.000001, 0.001, "0.000"},  {0.94031, 0, "0.940310"},
      {19999.5, 0.1, "19999.5"},    {5, 1, "5"},
  };
  for (const auto& c : fixed) EXPECT_EQ(record::FormatToStep(c.value, c.step), c.text) << c.value;
  const struct {
    double value;
    const char* unit;
    const char* text;
  } prefixed[] = {
      {1.414214e-05, "V", "14.1 µV"}, {0, "V", "0.00 V"},        {1500, "Ω", "1.50 kΩ"},
      {0.0009996, "A", "1.00 mA"},    {2.5e-10, "s", "250 ps"},  {3.2e9, "Ω", "3.20 GΩ"},
      {0.5, "Hz", "500 mHz"},         {-0.002, "V", "-2.00 mV"},
  };
  for (const auto& c : prefixed) EXPECT_EQ(record::FormatSi(c.value, c.unit), c.text) << c.value;
}

TEST(NumbersTest, ReadingsAndStatisticsKeepTheDisplaysResolution) {
  const struct {
    const char* text;
    record::Setting setting;
    double step;
  } cases[] = {
      {"+1.23456 ", {'U', '1', '2'}, 1e-5}, {"+123.45 ", {'U', '0', '1'}, 1e-5},
      {"+0.9403 ", {'R', '1', '1'}, 0.1},   {" 50.0012", {'F', '0', '2'}, 1e-4},
      {" 19999.5", {'T', '0', '2'}, 1e-7},  {"+1.234 ", {'R', '4', '0'}, 1000},
  };
  record::Statistics stats;
  for (const auto& c : cases) {
    const record::Reading reading = record::ParseReading(c.text, c.setting);
    ASSERT_EQ(reading.kind, record::ReadingKind::Value) << c.text;
    EXPECT_NEAR(reading.step / c.step, 1.0, 1e-9) << c.text;
  }
  stats.Add(record::ParseReading("+1.234 ", {'U', '1', '0'}), 'U', 0);
  stats.Add(record::ParseReading("+1.23456 ", {'U', '1', '2'}), 'U', 1);
  stats.Add(record::ParseReading("+1.2345 ", {'U', '1', '1'}), 'U', 2);
  ASSERT_EQ(stats.Summaries().size(), 1u);
  EXPECT_NEAR(stats.Summaries()[0].step, 1e-5, 1e-15) << "the finest resolution seen";
}

}  // namespace
