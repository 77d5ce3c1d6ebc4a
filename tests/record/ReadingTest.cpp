// Display texts as the panel takes them from the simulator's lines, for
// every function, range and resolution, and texts that are no number.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "record/Reading.h"
#include "tools/k4sim/Instrument.h"

namespace {

using record::ParseReading;
using record::ReadingKind;
using record::Setting;

struct Case {
  const char* text;
  Setting setting;
  ReadingKind kind;
  double value;
  const char* unit;
};

TEST(ReadingTest, TextsFromEveryFunctionRangeAndResolution) {
  const std::vector<Case> cases{
      // DC and AC volts: mV on range 0, V above; 7, 8 and 9 characters.
      {"+123.456 ", {'U', '0', '2'}, ReadingKind::Value, 0.123456, "V"},
      {"-123.45 ", {'U', '0', '1'}, ReadingKind::Value, -0.12345, "V"},
      {"+123.4 ", {'U', '0', '0'}, ReadingKind::Value, 0.1234, "V"},
      {"+1.23456 ", {'U', '1', '2'}, ReadingKind::Value, 1.23456, "V"},
      {"-0.00012 ", {'U', '1', '2'}, ReadingKind::Value, -0.00012, "V"},
      {"+1.2345 ", {'U', '1', '1'}, ReadingKind::Value, 1.2345, "V"},
      {"+1.234 ", {'U', '1', '0'}, ReadingKind::Value, 1.234, "V"},
      {"+12.3456 ", {'U', '2', '2'}, ReadingKind::Value, 12.3456, "V"},
      {"+123.456 ", {'U', '3', '2'}, ReadingKind::Value, 123.456, "V"},
      {" +617.30 ", {'U', '4', '2'}, ReadingKind::Value, 617.30, "V"},
      {" +617.3 ", {'U', '4', '1'}, ReadingKind::Value, 617.3, "V"},
      {" +617. ", {'U', '4', '0'}, ReadingKind::Value, 617.0, "V"},
      {"+102.349 ", {'V', '0', '2'}, ReadingKind::Value, 0.102349, "V"},
      {"+1.02348 ", {'V', '1', '2'}, ReadingKind::Value, 1.02348, "V"},
      {" +511.74 ", {'V', '4', '2'}, ReadingKind::Value, 511.74, "V"},
      // Current: the 2 A range only.
      {"+0.46913 ", {'I', '1', '2'}, ReadingKind::Value, 0.46913, "A"},
      {"-0.4691 ", {'J', '1', '1'}, ReadingKind::Value, -0.4691, "A"},
      // Resistance: Ω, kΩ, MΩ, GΩ; 4-wire up to 2 MΩ.
      {"+94.0426 ", {'R', '0', '2'}, ReadingKind::Value, 94.0426, "Ω"},
      {"+0.94043 ", {'R', '1', '2'}, ReadingKind::Value, 940.43, "Ω"},
      {"+9.40426 ", {'R', '2', '2'}, ReadingKind::Value, 9404.26, "Ω"},
      {"+94.043 ", {'R', '3', '1'}, ReadingKind::Value, 94043.0, "Ω"},
      {"+0.940 ", {'R', '4', '0'}, ReadingKind::Value, 940000.0, "Ω"},
      {"+9.40426 ", {'R', '5', '2'}, ReadingKind::Value, 9404260.0, "Ω"},
      {"+0.94043 ", {'R', '6', '2'}, ReadingKind::Value, 940430000.0, "Ω"},
      {"+93.974 ", {'Z', '0', '1'}, ReadingKind::Value, 93.974, "Ω"},
      {"+0.93974 ", {'Z', '4', '2'}, ReadingKind::Value, 939740.0, "Ω"},
      // Frequency and period: a blank and seven characters, no sign.
      {" 50.0012", {'F', '0', '2'}, ReadingKind::Value, 50.0012, "Hz"},
      {" 50.0012", {'F', '0', '0'}, ReadingKind::Value, 50.0012, "Hz"},
      {" 19999.5", {'T', '0', '2'}, ReadingKind::Value, 0.0199995, "s"},
      // Overload marks.
      {"   +OL   ", {'U', '1', '2'}, ReadingKind::Overload, 0, "V"},
      {" -0L ", {'R', '6', '0'}, ReadingKind::Overload, 0, "Ω"},
      {" ovl    ", {'I', '1', '1'}, ReadingKind::Overload, 0, "A"},
      {"ПЕРЕГР  ", {'F', '0', '2'}, ReadingKind::Overload, 0, "Hz"},
      {"  +ол ", {'Z', '2', '0'}, ReadingKind::Overload, 0, "Ω"},
      // Garbage, cut and shifted lines.
      {"         ", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"+1.23\n+1.", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"+1.2.3456", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"++1.2345 ", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"+1.23 V U", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"+1 234 5 ", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"1.2e5    ", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"+.       ", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"+1.\x01""2345", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      {"OLD", {'U', '1', '2'}, ReadingKind::Unreadable, 0, "V"},
      // Settings that name no range of the panel.
      {"+1.23456 ", {'U', '5', '2'}, ReadingKind::Unreadable, 0, ""},
      {"+1.23456 ", {'I', '0', '2'}, ReadingKind::Unreadable, 0, ""},
      {"+1.23456 ", {'Z', '5', '2'}, ReadingKind::Unreadable, 0, ""},
      {"+1.23456 ", {'X', '1', '2'}, ReadingKind::Unreadable, 0, ""},
      {"+1.23456 ", {'U', '1', '3'}, ReadingKind::Unreadable, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\" at " + c.setting.function + c.setting.range +
                 " H" + c.setting.resolution);
    const record::Reading r = ParseReading(c.text, c.setting);
    EXPECT_EQ(r.kind, c.kind);
    if (c.kind == ReadingKind::Value) {
      EXPECT_EQ(r.value, c.value);
    }
    if (c.kind != ReadingKind::Unreadable || c.unit[0] == '\0') {
      EXPECT_EQ(r.unit, c.unit);
    }
  }
}

// Every setting the simulator can be put in, at several values: what the
// panel takes from the line (the first 7, 8 or 9 characters, or a blank
// and the seven after the first for frequency and period) reads back as
// the number the simulator printed, in SI units.
TEST(ReadingTest, SimulatorLinesOfEverySettingReadBack) {
  const std::string functions = "UVIJRZFT";
  int checked = 0;
  for (char function : functions) {
    for (char range = '0'; range <= '6'; ++range) {
      record::DisplayScale scale;
      if (!record::FindDisplayScale(function, range, scale)) continue;
      for (char resolution = '0'; resolution <= '2'; ++resolution) {
        k4sim::InstrumentState state;
        state.function = function;
        state.range = range;
        state.resolution = resolution;
        const Setting setting{function, range, resolution};
        for (double fraction : {0.0, 0.617283, -0.4, 0.95}) {
          const bool counter = function == 'F' || function == 'T';
          const double shown = k4sim::Instrument::FullScale(state) * (counter ? 1 + fraction / 10 : fraction);
          const std::string line = k4sim::Instrument::FormatReading(state, shown);
          const auto chars = static_cast<std::size_t>(record::DisplayChars(setting));
          const std::string text = counter ? " " + line.substr(1, 7) : line.substr(0, chars);
          SCOPED_TRACE(line + " -> \"" + text + "\"");
          const record::Reading r = ParseReading(text, setting);
          ASSERT_EQ(r.kind, ReadingKind::Value);
          std::istringstream fields(line);
          std::string number;
          fields >> number;
          const double expected = std::stod(number) * std::pow(10.0, scale.exponent);
          EXPECT_NEAR(r.value, counter ? std::fabs(expected) : expected,
                      std::fabs(expected) * 1e-12 + 1e-15);
          ++checked;
        }
      }
    }
  }
  // 5 + 5 + 1 + 1 + 7 + 5 + 1 + 1 ranges, three resolutions, four values.
  EXPECT_EQ(checked, 26 * 3 * 4);
}

TEST(ReadingTest, NamesOfFunctionsAndUnits) {
  EXPECT_EQ(record::FunctionName('V'), "U~");
  EXPECT_EQ(record::SiUnit('T'), "s");
}

}  // namespace
