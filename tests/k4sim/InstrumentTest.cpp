#include "tools/k4sim/Instrument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "LineShape.h"

namespace k4sim {
namespace {

using namespace std::string_literals;

InstrumentState Settings(char function, char range, char resolution) {
  InstrumentState s;
  s.function = function;
  s.range = range;
  s.resolution = resolution;
  return s;
}

void Send(Instrument& instrument, const std::string& bytes) {
  for (char c : bytes) instrument.Receive(c);
}

TEST(InstrumentFormat, ReadingsAtEachResolutionAndRange) {
  struct Case {
    char function, range, resolution;
    double value;
    const char* text;
  };
  const std::vector<Case> cases = {
      {'U', '1', '0', 1.234567, "+1.235   V U1"},
      {'U', '1', '1', 1.234567, "+1.2346  V U1"},
      {'U', '1', '2', 1.234567, "+1.23457 V U1"},
      {'U', '1', '2', -0.000123, "-0.00012 V U1"},
      {'U', '0', '2', 123.4567, "+123.457 mV U0"},
      {'U', '2', '1', 5.5, " +5.500  V U2"},
      {'V', '4', '0', 617.3, " +617.   V V4"},
      {'V', '4', '1', 617.3, " +617.3  V V4"},
      {'V', '4', '2', 617.3, " +617.30 V V4"},
      {'I', '1', '2', 0.469134, "+0.46913 A I1"},
      {'R', '0', '2', 94.0426, " +94.043 Ohm R0"},
      {'R', '6', '0', 0.940426, "+0.940   GOhm R6"},
      {'Z', '3', '1', 93.97, " +93.97  kOhm Z3"},
      {'F', '0', '0', 50.00123, "+50.0012 Hz F0"},
      {'F', '0', '2', 50.00123, "+50.0012 Hz F0"},
      {'T', '0', '1', 19999.54, "+19999.5 us T0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Instrument::FormatReading(Settings(c.function, c.range, c.resolution), c.value),
              c.text)
        << c.function << c.range << " H" << c.resolution;
  }
}

// For every function, range and display format, the characters the panel
// takes after an LF are a whole number field (a sign, digits and a point,
// padded with blanks), and so are the first nine, which is what a reader
// whose count lags a format change takes.
TEST(InstrumentFormat, PanelTakesWholeNumberEverywhere) {
  const std::string functions = "UVIJRZFT";
  for (char function : functions) {
    for (char range = '0'; range <= '6'; ++range) {
      for (char resolution = '0'; resolution <= '2'; ++resolution) {
        Instrument instrument(7);
        Send(instrument, std::string("H") + resolution + function + range + "\n");
        const InstrumentState& s = instrument.State();
        const std::string text = instrument.NextReadingText();
        const std::size_t take = Instrument::ReadingChars(s);
        const std::string where = text + " after H" + resolution + function + range;
        ASSERT_GE(text.size(), 13u) << where;
        EXPECT_TRUE(test::IsNumberField(text.substr(0, 9))) << where;
        EXPECT_TRUE(test::IsLineText(text)) << where;
        if (function == 'F' || function == 'T') {
          EXPECT_EQ(take, 8u);
          EXPECT_NE(text[1], ' ') << where;  // the panel drops the sign only
          EXPECT_NE(text[7], ' ') << where;
        } else {
          EXPECT_EQ(take, 7u + (resolution - '0'));
          EXPECT_EQ(text[take - 1], ' ') << where;
          EXPECT_NE(text[take - 2], ' ') << where;
        }
        EXPECT_EQ(text.substr(text.size() - 2), std::string({s.function, s.range})) << where;
      }
    }
  }
}

TEST(InstrumentCommands, LinesChangeSettings) {
  struct Case {
    std::string line;
    char function, range, resolution, output;
    std::uint64_t rejectedPairs;
  };
  const std::vector<Case> cases = {
      {"G0B1Y0B1M1\n", 'U', '1', '2', '1', 0},
      {"U3\n", 'U', '3', '2', '1', 0},
      {"I5\n", 'I', '1', '2', '1', 0},   // current has only the 2 A range
      {"T3\n", 'T', '0', '2', '1', 0},   // period has only range 0
      {"V6\n", 'V', '4', '2', '1', 0},   // voltage tops out at 1000 V
      {"R6\n", 'R', '6', '2', '1', 0},
      {"Z6\n", 'Z', '4', '2', '1', 0},
      {"H0\n", 'U', '1', '0', '1', 0},
      {"B0\n", 'U', '1', '2', '0', 0},
      {"U9\n", 'U', '1', '2', '1', 1},   // no such range digit
      {"H3\n", 'U', '1', '2', '1', 1},   // no such display format
      {"P1H1\n", 'U', '1', '1', '1', 1}, // unknown letter, rest still applies
      {"H1R\n", 'U', '1', '1', '1', 1},  // a letter without argument
      {"K1\n", 'U', '1', '2', '1', 1},   // auto-calibration takes only '0'
      {"\r\0H0\r\n"s, 'U', '1', '0', '1', 0},  // CR and NUL are skipped
  };
  for (const Case& c : cases) {
    Instrument instrument(1);
    Send(instrument, c.line);
    const InstrumentState& s = instrument.State();
    EXPECT_EQ(s.function, c.function) << c.line;
    EXPECT_EQ(s.range, c.range) << c.line;
    EXPECT_EQ(s.resolution, c.resolution) << c.line;
    EXPECT_EQ(s.output, c.output) << c.line;
    EXPECT_EQ(instrument.RejectedPairs(), c.rejectedPairs) << c.line;
  }
}

TEST(InstrumentCommands, SwitchesCalibrationAndReset) {
  Instrument instrument(1);
  Send(instrument, "A1W1S0N1L0M1G1Y1\nK0\nK0\nQ1\nR5H0\n");
  InstrumentState s = instrument.State();
  EXPECT_EQ(std::string({s.autoRange, s.filter, s.sound, s.periodicZero, s.backlight,
                         s.calculations, s.trigger, s.setupFlag, s.externalZero}),
            "110101111");
  EXPECT_EQ(s.autoCalibrations, 2u);
  EXPECT_EQ(instrument.CommandLines(), 5u);

  Send(instrument, "X0\n");
  InstrumentState expected;
  expected.autoCalibrations = 2;
  expected.resets = 1;
  EXPECT_EQ(instrument.State(), expected);
}

TEST(InstrumentCommands, ProbeClearsBufferAndLongLinesAreRejected) {
  Instrument instrument(1);
  EXPECT_EQ(instrument.Receive('H'), InputKind::Stored);
  EXPECT_EQ(instrument.Receive('0'), InputKind::Stored);
  EXPECT_EQ(instrument.Receive('!'), InputKind::Probe);
  EXPECT_TRUE(instrument.CommandBuffer().empty());
  EXPECT_EQ(instrument.Receive('\n'), InputKind::LineEnd);
  EXPECT_EQ(instrument.State().resolution, '2');
  EXPECT_EQ(instrument.CommandLines(), 0u);

  // A line that overflows the buffer must not be half-executed.
  Send(instrument, std::string(Instrument::kMaxCommandLine, 'H').replace(0, 2, "H0") + "A1\n");
  EXPECT_EQ(instrument.State().resolution, '2');
  EXPECT_EQ(instrument.RejectedLines(), 1u);
  Send(instrument, "H0\n");
  EXPECT_EQ(instrument.State().resolution, '0');
}

TEST(InstrumentReadings, DriftIsSeededAndStaysNearTheValue) {
  Instrument a(42), b(42), c(43);
  bool differs = false;
  for (int i = 0; i < 2000; ++i) {
    const std::string text = a.NextReadingText();
    ASSERT_EQ(text, b.NextReadingText());
    differs |= text != c.NextReadingText();
    const double value = std::stod(text);
    ASSERT_NEAR(value, 1.2346, 0.03) << text;
  }
  EXPECT_TRUE(differs);
}

TEST(InstrumentReadings, ExternalZeroTakesThePresentReadingAsZero) {
  Instrument instrument(5);
  Send(instrument, "Q1\n");
  for (int i = 0; i < 50; ++i) {
    EXPECT_NEAR(std::stod(instrument.NextReadingText()), 0.0, 0.002);
  }
  Send(instrument, "Q0\n");
  EXPECT_NEAR(std::stod(instrument.NextReadingText()), 1.2346, 0.03);
}

}  // namespace
}  // namespace k4sim
