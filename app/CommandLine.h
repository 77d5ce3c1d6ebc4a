// The program's command line.
//
//   tesmar [--trace[=FILE]] [--log[=FILE]] [--help]
//
// --trace and --log switch the port's character trace or dispatch log on
// from the start; the file (default SIO.TRC / SIO.LOG in the current
// folder) is written when the port closes. Without options the program
// behaves as stored in its layout.
//
// Thread safety: plain functions of their arguments.
#pragma once

#include <optional>
#include <string>

#include "framework/Exception.h"

namespace app {

// What the port should record for someone diagnosing the link.
struct TPortDiagnostics {
  std::optional<std::string> traceFile;  // trace on, written to this file
  std::optional<std::string> logFile;    // dispatch log on, written to this file
};

struct TCommandLine {
  bool help = false;
  TPortDiagnostics diagnostics;
};

// An option the program does not know, or a malformed one; the message
// names it.
class ECommandLineError : public framework::Exception {
 public:
  using framework::Exception::Exception;
};

// Parses argv[1..argc-1].
TCommandLine ParseCommandLine(int argc, const char* const* argv);

// The text --help prints.
std::string CommandLineHelp();

}  // namespace app
