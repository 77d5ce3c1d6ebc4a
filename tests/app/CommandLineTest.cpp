#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <vector>


namespace {

app::TCommandLine Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "tesmar");
  return app::ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, DiagnosticOptionsAndTheirDefaultFiles) {
  struct Case {
    std::vector<const char*> args;
    std::optional<std::string> trace, log;
    bool help;
  };
  const std::vector<Case> cases = {
      {{}, std::nullopt, std::nullopt, false},
      {{"--trace"}, "SIO.TRC", std::nullopt, false},
      {{"--log"}, std::nullopt, "SIO.LOG", false},
      {{"--trace=/tmp/a b.trc", "--log=x.log"}, "/tmp/a b.trc", "x.log", false},
      {{"--help"}, std::nullopt, std::nullopt, true},
      {{"-h", "--trace"}, "SIO.TRC", std::nullopt, true},
  };
  for (const Case& c : cases) {
    const app::TCommandLine parsed = Parse(c.args);
    EXPECT_EQ(parsed.diagnostics.traceFile, c.trace);
    EXPECT_EQ(parsed.diagnostics.logFile, c.log);
    EXPECT_EQ(parsed.help, c.help);
  }
  for (std::vector<const char*> bad : {std::vector<const char*>{"--tracefile"},
                                       {"--trace="}, {"-x"}, {"COM2"}}) {
    EXPECT_THROW(Parse(bad), app::ECommandLineError) << bad[0];
  }
  const std::string help = app::CommandLineHelp();
  for (const char* option : {"--trace[=FILE]", "--log[=FILE]", "--help", "SIO.TRC", "SIO.LOG", "SIGTERM"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

}  // namespace
