// The program's command line.
//
//   tesmar [--port N] [--record FILE] [--trace[=FILE]] [--log[=FILE]]
//   tesmar --headless --count N [--function U|V|I|J|R|Z|F|T] [--range D]
//          [--resolution 0|1|2] [--csv FILE|-] [--timeout SEC] [--port N]
//          [--trace[=FILE]] [--log[=FILE]]
//   tesmar [--headless] --serve[=[ADDR:]PORT] [--port N] [--timeout SEC] ...
//   tesmar --help
//
// --trace and --log switch the port's character trace or dispatch log on
// from the start; the file (default SIO.TRC / SIO.LOG in the current
// folder) is written when the port closes. Their file is given only as
// --trace=FILE, so that the option may stand before any other.
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

#include "app/ServeAddress.h"

namespace app {

// What the port should record for someone diagnosing the link.
struct TPortDiagnostics {
  std::optional<std::string> traceFile;  // trace on, written to this file
  std::optional<std::string> logFile;    // dispatch log on, written to this file
};

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
  TPortDiagnostics diagnostics;
  // --serve[=[ADDR:]PORT]: the SCPI server (ScpiServer.h).
  std::optional<TServeAddress> serve;
};

// Parses argv[1..]; on a mistake returns nullopt and sets `error`.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error);
// The text of --help.
std::string HelpText();

}  // namespace app
