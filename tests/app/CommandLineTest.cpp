// The command line: what is accepted, and the one sentence for each mistake.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, AcceptsTheWindowAndTheHeadlessForms) {
  std::string error;
  auto line = app::ParseCommandLine({}, error);
  ASSERT_TRUE(line);
  EXPECT_FALSE(line->headless);
  EXPECT_EQ(line->port, 0);

  EXPECT_TRUE(line->language.empty());
  EXPECT_FALSE(line->noSettings);

  line = app::ParseCommandLine({"--record", "run.csv", "--port=2", "--lang", "en", "--no-settings"}, error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->record, "run.csv");
  EXPECT_EQ(line->port, 2);
  EXPECT_EQ(line->language, "en");
  EXPECT_TRUE(line->noSettings);

  line = app::ParseCommandLine({"--headless", "--count", "20", "--function", "R", "--range", "6",
                                "--resolution", "0", "--csv", "-", "--timeout", "2.5"},
                               error);
  ASSERT_TRUE(line) << error;
  EXPECT_TRUE(line->headless);
  EXPECT_EQ(line->count, 20);
  EXPECT_EQ(line->function, 'R');
  EXPECT_EQ(line->range, '6');
  EXPECT_EQ(line->resolution, '0');
  EXPECT_EQ(line->csv, "-");
  EXPECT_EQ(line->timeoutSeconds, 2.5);

  // A run until stopped, for a time, in JSON Lines, on a device.
  line = app::ParseCommandLine(
      {"--headless", "--duration", "90", "--format", "jsonl", "--port", "/dev/serial/by-id/usb-X-if00-port0"},
      error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->count, 0);
  EXPECT_EQ(line->durationSeconds, 90.0);
  EXPECT_EQ(line->format, record::RowFormat::jsonl);
  EXPECT_EQ(line->port, 0);
  EXPECT_EQ(line->portDevice, "/dev/serial/by-id/usb-X-if00-port0");
  line = app::ParseCommandLine({"--headless", "--count", "0", "--port", "com7"}, error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->port, 7);
  for (const char* informational : {"--version", "--list-ports"}) {
    line = app::ParseCommandLine({informational, "--count", "3"}, error);
    ASSERT_TRUE(line) << informational << ": " << error;
  }

  line = app::ParseCommandLine({"--help", "--nonsense-is-ignored-after-help"}, error);
  EXPECT_FALSE(line);
  line = app::ParseCommandLine({"--help"}, error);
  ASSERT_TRUE(line);
  EXPECT_TRUE(line->help);
  for (const char* option :
       {"--record", "--headless", "--count", "--function", "--range", "--resolution", "--csv", "--port",
        "--timeout", "--help", "--version", "--list-ports", "--duration", "--format", "jsonl", "SIGHUP"})
    EXPECT_NE(app::HelpText().find(option), std::string::npos) << option;
}

TEST(CommandLine, RefusesMistakesWithASentence) {
  struct Case {
    Args args;
    const char* says;
  };
  const std::vector<Case> cases{
      {{"--bogus"}, "unknown option --bogus"},
      {{"--headless", "--count"}, "--count needs a value"},
      {{"--headless", "--count", "-1"}, "--count takes a number of readings"},
      {{"--headless", "--count", "12x"}, "--count takes a number of readings"},
      {{"--headless", "--duration", "0"}, "--duration takes seconds"},
      {{"--headless", "--duration", "1h"}, "--duration takes seconds"},
      {{"--headless", "--format", "json"}, "--format takes csv or jsonl"},
      {{"--headless", "--count", "3", "--function", "Q"}, "one of U V I J R Z F T"},
      {{"--headless", "--count", "3", "--function", "UV"}, "one of U V I J R Z F T"},
      {{"--headless", "--function", "VOLTA"}, "a SCPI name"},
      {{"--headless", "--function", "RES:AC"}, "a SCPI name"},
      {{"--headless", "--function", "u"}, "a SCPI name"},
      {{"--headless", "--count", "3", "--range", "7"}, "from 0 to 6"},
      {{"--headless", "--count", "3", "--function", "I", "--range", "0"}, "not a range of function I"},
      {{"--headless", "--count", "3", "--range", "5"}, "not a range of function U"},
      {{"--headless", "--count", "3", "--function", "Z", "--range", "6"}, "not a range of function Z"},
      {{"--headless", "--count", "3", "--resolution", "3"}, "--resolution takes"},
      {{"--headless", "--count", "3", "--timeout", "0"}, "--timeout takes"},
      {{"--headless", "--count", "3", "--record", "x.csv"}, "--record is for the window"},
      // Every option of the headless run is refused with the window, as
      // it would be ignored there.
      {{"--count", "3"}, "--count belongs to --headless"},
      {{"--csv", "x.csv"}, "--csv belongs to --headless"},
      {{"--timeout", "2"}, "--timeout belongs to --headless"},
      {{"--port", "2", "--format", "csv"}, "--format belongs to --headless"},
      {{"--duration", "5"}, "--duration belongs to --headless"},
      {{"--port", "0"}, "from 1 to 256"},
      {{"--port", "257"}, "from 1 to 256"},
      {{"--port", "COM0"}, "from 1 to 256"},
      {{"--port", "ttyUSB0"}, "or a device such as /dev/ttyUSB0"},
      {{"--version=1"}, "takes no value"},
      {{"--record", ""}, "takes a file name"},
      {{"--headless=1"}, "takes no value"},
      {{"--tracefile"}, "unknown option --tracefile"},
      {{"--trace="}, "--trace= needs a file name"},
      {{"--log="}, "--log= needs a file name"},
      {{"--lang", "de"}, "--lang takes ru or en"},
      {{"--lang"}, "--lang needs a value"},
      {{"--no-settings=1"}, "takes no value"},
      {{"-x"}, "unknown option -x"},
      {{"COM2"}, "unknown option COM2"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(app::ParseCommandLine(c.args, error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << "got: " << error;
  }
}

TEST(CommandLine, FunctionsByLetterAndBySCPIName) {
  struct Case {
    const char* name;
    char function;
  };
  const std::vector<Case> cases = {
      {"U", 'U'},          {"VOLT", 'U'},    {"voltage", 'U'},     {"Volt:DC", 'U'}, {"VOLTAGE:DC", 'U'},
      {"dcv", 'U'},        {"VOLT:AC", 'V'}, {"voltage:ac", 'V'},  {"acv", 'V'},     {"CURR", 'I'},
      {"CURRent:DC", 'I'}, {"dci", 'I'},     {"CURR:AC", 'J'},     {"aci", 'J'},     {"RES", 'R'},
      {"resistance", 'R'}, {"FRES", 'Z'},    {"FRESistance", 'Z'}, {"fres", 'Z'},    {"FREQ", 'F'},
      {"frequency", 'F'},  {"PER", 'T'},     {"period", 'T'},      {"T", 'T'},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto line = app::ParseCommandLine({"--headless", "--function", c.name}, error);
    ASSERT_TRUE(line) << c.name << ": " << error;
    EXPECT_EQ(line->function, c.function) << c.name;
  }
}

TEST(CommandLine, DiagnosticOptionsAndTheirDefaultFiles) {
  struct Case {
    Args args;
    std::optional<std::string> trace, log;
    bool help;
  };
  const std::vector<Case> cases = {
      {{}, std::nullopt, std::nullopt, false},
      {{"--trace"}, "SIO.TRC", std::nullopt, false},
      {{"--log"}, std::nullopt, "SIO.LOG", false},
      {{"--trace=/tmp/a b.trc", "--log=x.log"}, "/tmp/a b.trc", "x.log", false},
      // The file follows only after "=": the next argument is an option.
      {{"--trace", "--port", "2"}, "SIO.TRC", std::nullopt, false},
      {{"--headless", "--count", "1", "--log"}, std::nullopt, "SIO.LOG", false},
      {{"-h", "--trace"}, "SIO.TRC", std::nullopt, true},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto parsed = app::ParseCommandLine(c.args, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->diagnostics.traceFile, c.trace);
    EXPECT_EQ(parsed->diagnostics.logFile, c.log);
    EXPECT_EQ(parsed->help, c.help);
  }
  const std::string help = app::HelpText();
  for (const char* option : {"--trace[=FILE]", "--log[=FILE]", "SIO.TRC", "SIO.LOG", "SIGTERM", "-h"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

}  // namespace
