// The command line: what is accepted, and the one sentence for each mistake.
#include <gtest/gtest.h>

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

  line = app::ParseCommandLine({"--record", "run.csv", "--port=2"}, error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->record, "run.csv");
  EXPECT_EQ(line->port, 2);

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

  line = app::ParseCommandLine({"--help", "--nonsense-is-ignored-after-help"}, error);
  EXPECT_FALSE(line);
  line = app::ParseCommandLine({"--help"}, error);
  ASSERT_TRUE(line);
  EXPECT_TRUE(line->help);
  for (const char* option : {"--record", "--headless", "--count", "--function", "--range",
                             "--resolution", "--csv", "--port", "--timeout", "--help"})
    EXPECT_NE(app::HelpText().find(option), std::string::npos) << option;
}

TEST(CommandLine, RefusesMistakesWithASentence) {
  struct Case {
    Args args;
    const char* says;
  };
  const std::vector<Case> cases{
      {{"--bogus"}, "unknown option --bogus"},
      {{"--headless"}, "needs --count"},
      {{"--headless", "--count"}, "--count needs a value"},
      {{"--headless", "--count", "0"}, "from 1"},
      {{"--headless", "--count", "12x"}, "from 1"},
      {{"--headless", "--count", "3", "--function", "Q"}, "one of U V I J R Z F T"},
      {{"--headless", "--count", "3", "--function", "UV"}, "one of U V I J R Z F T"},
      {{"--headless", "--count", "3", "--range", "7"}, "from 0 to 6"},
      {{"--headless", "--count", "3", "--function", "I", "--range", "0"}, "not a range of function I"},
      {{"--headless", "--count", "3", "--range", "5"}, "not a range of function U"},
      {{"--headless", "--count", "3", "--function", "Z", "--range", "6"}, "not a range of function Z"},
      {{"--headless", "--count", "3", "--resolution", "3"}, "--resolution takes"},
      {{"--headless", "--count", "3", "--timeout", "0"}, "--timeout takes"},
      {{"--headless", "--count", "3", "--record", "x.csv"}, "--record is for the window"},
      {{"--count", "3"}, "belong to --headless"},
      {{"--port", "0"}, "from 1 to 256"},
      {{"--port", "257"}, "from 1 to 256"},
      {{"--record", ""}, "takes a file name"},
      {{"--headless=1"}, "takes no value"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(app::ParseCommandLine(c.args, error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << "got: " << error;
  }
}

}  // namespace
