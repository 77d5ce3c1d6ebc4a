// The program's command line.
//
//   tesmar [--port N] [--record FILE]
//   tesmar --headless --count N [--function U|V|I|J|R|Z|F|T] [--range D]
//          [--resolution 0|1|2] [--csv FILE|-] [--timeout SEC] [--port N]
//   tesmar --help
//
// ParseCommandLine checks every option and its value (a range the function
// lacks, a count of 0, an unknown option, a missing value) and says what is
// wrong in one sentence; nothing is opened or started here. Further
// options are added as one entry of the table in CommandLine.cpp and one
// field here.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

struct CommandLine {
  bool help = false;
  int port = 0;  // COM number; 0: the layout's (COM1)
  std::string record;  // with the window: record into this file from the start
  // Headless measurement.
  bool headless = false;
  long count = 0;
  std::optional<char> function;
  std::optional<char> range;
  std::optional<char> resolution;
  std::string csv = "-";
  // How long the instrument may stay silent beyond the reading interval.
  double timeoutSeconds = 5.0;
};

// Parses argv[1..]; on a mistake returns nullopt and sets `error`.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error);
// The text of --help.
std::string HelpText();

}  // namespace app
