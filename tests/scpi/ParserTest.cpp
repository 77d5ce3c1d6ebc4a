// The SCPI language of the server: what a line says, and which settings a
// CONFigure or MEASure asks of the meter.
#include <gtest/gtest.h>

#include <cmath>

#include "scpi/Meter.h"
#include "scpi/Parser.h"

namespace {

using scpi::Command;
using scpi::Op;
using scpi::Value;
using Kind = scpi::Value::Kind;

Command Plain(Op op, char function = 0) { return Command{op, function, {}, {}}; }
Command With(Op op, char function, Value range, Value resolution = {}) {
  return Command{op, function, range, resolution};
}
Value Number(double n) { return Value{Kind::Number, n}; }

struct LineCase {
  const char* line;
  std::vector<Command> commands;
  int error;  // 0: none
};

TEST(ScpiParser, LinesIntoCommands) {
  const LineCase cases[] = {
      // Common commands and the error queue, long and short forms, any case.
      {"*IDN?", {Plain(Op::Identify)}, 0},
      {"*idn?", {Plain(Op::Identify)}, 0},
      {"*RST;*CLS;*OPC?;*WAI",
       {Plain(Op::Reset), Plain(Op::ClearStatus), Plain(Op::OperationComplete), Plain(Op::Wait)},
       0},
      {"SYSTem:ERRor:NEXT?", {Plain(Op::NextError)}, 0},
      {"syst:err?", {Plain(Op::NextError)}, 0},
      {":SYST:ERR?", {Plain(Op::NextError)}, 0},
      {"SYSTE:ERR?", {}, scpi::kUndefinedHeader},  // neither form
      {"*IDN", {}, scpi::kUndefinedHeader},        // the query only
      {"READ", {}, scpi::kUndefinedHeader},
      // Optional nodes and every function.
      {"MEAS:VOLT?", {Plain(Op::Measure, 'U')}, 0},
      {"MEASure:VOLTage:DC?", {Plain(Op::Measure, 'U')}, 0},
      {"MEAS:VOLT:AC?", {Plain(Op::Measure, 'V')}, 0},
      {"CONF:CURR", {Plain(Op::Configure, 'I')}, 0},
      {"CONF:CURR:DC", {Plain(Op::Configure, 'I')}, 0},
      {"CONF:CURR:AC", {Plain(Op::Configure, 'J')}, 0},
      {"CONF:RES;CONF:FRES;CONF:FREQ;CONF:PER",
       {Plain(Op::Configure, 'R'), Plain(Op::Configure, 'Z'), Plain(Op::Configure, 'F'),
        Plain(Op::Configure, 'T')},
       0},
      {"CONF:VOLT:AC:DC", {}, scpi::kUndefinedHeader},
      {"CONF?;READ?;FETC?", {Plain(Op::ConfigureQuery), Plain(Op::Read), Plain(Op::Fetch)}, 0},
      {"FUNC \"VOLT:AC\"", {Plain(Op::SetFunction, 'V')}, 0},
      {"SENS:FUNC 'fres';SENSE:FUNCTION?", {Plain(Op::SetFunction, 'Z'), Plain(Op::FunctionQuery)}, 0},
      {"FUNC RES", {Plain(Op::SetFunction, 'R')}, 0},
      {"FUNC \"OHMS\"", {}, scpi::kIllegalParameterValue},
      {"FUNC", {}, scpi::kMissingParameter},
      // Parameters.
      {"CONF:VOLT 10", {With(Op::Configure, 'U', Number(10))}, 0},
      {"MEAS:RES? 2E3 , 0.1", {With(Op::Measure, 'R', Number(2000), Number(0.1))}, 0},
      {"CONF:VOLT -.5e-1", {With(Op::Configure, 'U', Number(-0.05))}, 0},
      {"CONF:VOLT AUTO,MIN", {With(Op::Configure, 'U', Value{Kind::Auto}, Value{Kind::Minimum})}, 0},
      {"CONF:VOLT maximum,def", {With(Op::Configure, 'U', Value{Kind::Maximum}, Value{Kind::Default})}, 0},
      {"CONF:VOLT 1,AUTO", {}, scpi::kIllegalParameterValue},
      {"CONF:VOLT 1,2,3", {}, scpi::kParameterNotAllowed},
      {"*IDN? 1", {}, scpi::kParameterNotAllowed},
      {"CONF:VOLT 'ten'", {}, scpi::kIllegalParameterValue},
      {"CONF:VOLT TEN", {}, scpi::kIllegalParameterValue},
      // Bad numbers.
      {"CONF:VOLT 1.2.3", {}, scpi::kSyntaxError},
      {"CONF:VOLT 1e", {}, scpi::kSyntaxError},
      {"CONF:VOLT ++1", {}, scpi::kSyntaxError},
      {"CONF:VOLT .", {}, scpi::kSyntaxError},
      {"CONF:VOLT 0x10", {}, scpi::kSyntaxError},
      {"CONF:VOLT 10V", {}, scpi::kSyntaxError},
      {"CONF:VOLT 1 2", {}, scpi::kSyntaxError},
      {"CONF:VOLT 1,", {}, scpi::kSyntaxError},
      {"CONF:VOLT 1e999", {}, scpi::kDataOutOfRange},
      // Chains: relative paths, the root again, commands before an error
      // kept, the rest dropped.
      {"CONF:VOLT:DC 1;AC", {With(Op::Configure, 'U', Number(1)), Plain(Op::Configure, 'V')}, 0},
      {"CONF:VOLT 1;AC", {With(Op::Configure, 'U', Number(1))}, scpi::kUndefinedHeader},
      {"CONF:VOLT:AC;:READ?", {Plain(Op::Configure, 'V'), Plain(Op::Read)}, 0},
      {"CONF:RES;READ?", {Plain(Op::Configure, 'R'), Plain(Op::Read)}, 0},
      {"*IDN?;FOO;*RST", {Plain(Op::Identify)}, scpi::kUndefinedHeader},
      {"*IDN?;", {Plain(Op::Identify)}, 0},
      {"*IDN?;;*IDN?", {Plain(Op::Identify)}, scpi::kSyntaxError},
      {"", {}, 0},
      {"   \t", {}, 0},
      {"CONF::VOLT", {}, scpi::kSyntaxError},
      {"*", {}, scpi::kSyntaxError},
      // Bytes no command has: the whole line is refused.
      {"*IDN?\x01", {}, scpi::kInvalidCharacter},
      {"*IDN?;FUNC \"\xc3\xa9\"", {}, scpi::kInvalidCharacter},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.line);
    const scpi::ParsedLine parsed = scpi::ParseLine(c.line);
    EXPECT_EQ(parsed.commands, c.commands);
    EXPECT_EQ(parsed.error ? parsed.error->code : 0, c.error);
  }
}

struct SettingCase {
  const char* line;
  scpi::MeterSetting present;
  scpi::MeterSetting wanted;  // ignored when `error` is set
  int error;
};

TEST(ScpiMeter, SettingsAskedFor) {
  const scpi::MeterSetting volts2{'U', '1', false, '2'};
  const SettingCase cases[] = {
      // The smallest range that holds the number, its sign ignored.
      {"CONF:VOLT 2", volts2, {'U', '1', false, '2'}, 0},
      {"CONF:VOLT 2.5", volts2, {'U', '2', false, '2'}, 0},
      {"CONF:VOLT -150", volts2, {'U', '3', false, '2'}, 0},
      {"CONF:VOLT 0", volts2, {'U', '0', false, '2'}, 0},
      {"CONF:VOLT 1001", volts2, {}, scpi::kDataOutOfRange},
      {"CONF:RES 1E9", volts2, {'R', '6', false, '2'}, 0},
      {"CONF:FRES 1E7", volts2, {}, scpi::kDataOutOfRange},
      {"CONF:CURR 0.001", volts2, {'I', '1', false, '2'}, 0},
      {"CONF:CURR 3", volts2, {}, scpi::kDataOutOfRange},
      {"CONF:FREQ 1E6", volts2, {'F', '0', false, '2'}, 0},
      // MIN, MAX, DEF and AUTO; DEF keeps what the function key keeps.
      {"CONF:RES MIN", volts2, {'R', '0', false, '2'}, 0},
      {"CONF:RES MAX", volts2, {'R', '6', false, '2'}, 0},
      {"CONF:RES", {'R', '5', false, '2'}, {'R', '5', false, '2'}, 0},
      {"CONF:FRES", {'R', '5', false, '2'}, {'Z', '0', false, '2'}, 0},
      {"CONF:VOLT", {'F', '0', false, '2'}, {'U', '4', false, '2'}, 0},
      {"CONF:VOLT AUTO", volts2, {'U', '1', true, '2'}, 0},
      {"CONF:VOLT DEF", {'U', '1', true, '2'}, {'U', '1', true, '2'}, 0},
      {"CONF:VOLT 20", {'U', '1', true, '2'}, {'U', '2', false, '2'}, 0},
      // Resolution: the fewest digits fine enough on the chosen range.
      {"CONF:VOLT 2,1E-3", volts2, {'U', '1', false, '0'}, 0},
      {"CONF:VOLT 2,1E-4", volts2, {'U', '1', false, '1'}, 0},
      {"CONF:VOLT 2,1E-5", volts2, {'U', '1', false, '2'}, 0},
      {"CONF:VOLT 2,1E-6", volts2, {}, scpi::kDataOutOfRange},
      {"CONF:VOLT 2,MAX", volts2, {'U', '1', false, '0'}, 0},
      {"CONF:VOLT 2,MIN", {'U', '1', false, '0'}, {'U', '1', false, '2'}, 0},
      {"CONF:FREQ DEF,1E-9", volts2, {'F', '0', false, '2'}, 0},
      // FUNCtion keeps range and resolution as the key does.
      {"FUNC 'RES'", {'U', '3', false, '1'}, {'R', '3', false, '1'}, 0},
      {"FUNC 'CURR'", {'U', '3', false, '1'}, {'I', '1', false, '1'}, 0},
  };
  for (const SettingCase& c : cases) {
    SCOPED_TRACE(c.line);
    const scpi::ParsedLine parsed = scpi::ParseLine(c.line);
    ASSERT_EQ(parsed.commands.size(), 1u);
    scpi::MeterSetting wanted;
    scpi::Error error;
    const bool made = scpi::ConfigureSetting(parsed.commands[0], c.present, wanted, error);
    EXPECT_EQ(made, c.error == 0);
    if (made) {
      EXPECT_EQ(wanted, c.wanted);
    } else {
      EXPECT_EQ(error.code, c.error);
    }
  }
}

TEST(ScpiMeter, AnswersAsNr3) {
  EXPECT_EQ(scpi::FormatNumber(1234.567), "+1.23456700E+03");
  EXPECT_EQ(scpi::FormatNumber(-0.000123), "-1.23000000E-04");
  EXPECT_EQ(scpi::FormatNumber(0), "+0.00000000E+00");
  EXPECT_EQ(scpi::ConfigureAnswer({'U', '0', false, '0'}), "\"VOLT +2.00000000E-01,+1.00000000E-04\"");
  EXPECT_EQ(scpi::ConfigureAnswer({'T', '0', false, '2'}), "\"PER\"");
  EXPECT_EQ(scpi::ErrorAnswer({scpi::kUndefinedHeader, "A\"B"}), "-113,\"Undefined header;A\"\"B\"");
}

}  // namespace
