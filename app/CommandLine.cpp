#include "app/CommandLine.h"

#include <string_view>

namespace app {

namespace {

constexpr const char* kDefaultTraceFile = "SIO.TRC";
constexpr const char* kDefaultLogFile = "SIO.LOG";

// For "--name" or "--name=VALUE": the value (or `fallback`); nothing when
// the argument is another option. "--name=" names no file and is refused.
std::optional<std::string> OptionFile(std::string_view argument, std::string_view name,
                                      const char* fallback) {
  if (argument.substr(0, name.size()) != name) return std::nullopt;
  const std::string_view rest = argument.substr(name.size());
  if (rest.empty()) return std::string(fallback);
  if (rest.front() != '=') return std::nullopt;
  if (rest.size() == 1) throw ECommandLineError(std::string(name) + "= needs a file name");
  return std::string(rest.substr(1));
}

}  // namespace

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
  TCommandLine result;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      result.help = true;
    } else if (auto trace = OptionFile(argument, "--trace", kDefaultTraceFile)) {
      result.diagnostics.traceFile = std::move(trace);
    } else if (auto log = OptionFile(argument, "--log", kDefaultLogFile)) {
      result.diagnostics.logFile = std::move(log);
    } else {
      throw ECommandLineError("unknown option '" + std::string(argument) + "'");
    }
  }
  return result;
}

std::string CommandLineHelp() {
  return "Usage: tesmar [OPTION]...\n"
         "The remote front panel of the K4-18/3 multimeter on serial port COM1.\n"
         "\n"
         "  --trace[=FILE]  record every character sent and received from the start;\n"
         "                  written to FILE (default SIO.TRC) when the port closes\n"
         "  --log[=FILE]    record the dispatch log from the start; written to FILE\n"
         "                  (default SIO.LOG) when the port closes\n"
         "  -h, --help      show this help and exit\n"
         "\n"
         "Ctrl+C or SIGTERM closes the panel as closing its window does: the port is\n"
         "closed and the files are written.\n";
}

}  // namespace app
