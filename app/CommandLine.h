// The program's command line.
//
//   tesmar [--port P] [--record FILE] [--lang ru|en] [--no-settings]
//          [--trace[=FILE]] [--log[=FILE]]
//   tesmar --headless [--count N] [--duration SEC] [--function F] [--range D]
//          [--resolution 0|1|2] [--csv FILE|-] [--format csv|jsonl]
//          [--timeout SEC] [--port P] [--trace[=FILE]] [--log[=FILE]]
//   tesmar [--headless] --serve[=[ADDR:]PORT] [--port P] [--timeout SEC] ...
//   tesmar --list-ports | --version | --help
//
// --port takes a COM number (2, COM2) or the device itself (/dev/ttyUSB0,
// a /dev/serial/by-id link); a device is turned into the COM number that
// leads to it when the program starts (Ports.h), not here.
//
// --trace and --log switch the port's character trace or dispatch log on
// from the start; the file (default SIO.TRC / SIO.LOG in the current
// folder) is written when the port closes. Their file is given only as
// --trace=FILE, so that the option may stand before any other.
//
// ParseCommandLine checks every option and its value (a range the function
// lacks, an option of the other mode, an unknown option, a missing value)
// and says what is wrong in one sentence; nothing is opened or started
// here. A further option is one entry of the table in CommandLine.cpp (its
// name, its value, the mode it belongs to and what it stores), one field
// here and its lines in HelpText.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/ServeAddress.h"
#include "record/CsvRow.h"

namespace app {

// What the port should record for someone diagnosing the link.
struct TPortDiagnostics {
  std::optional<std::string> traceFile;  // trace on, written to this file
  std::optional<std::string> logFile;    // dispatch log on, written to this file
};

struct CommandLine {
  bool help = false;
  bool version = false;
  bool listPorts = false;
  int port = 0;            // COM number; 0: the layout's (COM1) or portDevice
  std::string portDevice;  // --port named a device instead of a number
  std::string record;  // with the window: record into this file from the start
  std::string language;     // "ru" or "en"; empty: the locale's
  bool noSettings = false;  // neither read nor write the user's settings
  // Headless measurement.
  bool headless = false;
  long count = 0;                         // readings to take; 0: until stopped
  std::optional<double> durationSeconds;  // stop after this long
  std::optional<char> function;
  std::optional<char> range;
  std::optional<char> resolution;
  std::string csv = "-";
  record::RowFormat format = record::RowFormat::csv;
  // How long the instrument may stay silent beyond the reading interval.
  double timeoutSeconds = 5.0;
  TPortDiagnostics diagnostics;
  // --serve[=[ADDR:]PORT]: the SCPI server (ScpiServer.h).
  std::optional<TServeAddress> serve;
};

// Parses argv[1..]; on a mistake returns nullopt and sets `error`.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error);
// The instrument's function letter (U V I J R Z F T) for a name the command
// line accepts: the letter itself, a SCPI name in its long or short form
// (VOLTage[:DC], VOLT:AC, CURRent[:DC], CURR:AC, RESistance, FRESistance,
// FREQuency, PERiod; any case), or dcv acv dci aci res fres freq per.
std::optional<char> FunctionLetter(const std::string& name);
// The text of --help.
std::string HelpText();
// The text of --version.
std::string VersionText();

}  // namespace app
