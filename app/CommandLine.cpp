#include "app/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <string_view>

namespace app {
namespace {

bool ParseLong(const std::string& text, long low, long high, long& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

bool ParseSeconds(const std::string& text, double high, double& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value > 0 && value <= high;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// The range digits the panel allows per function.
std::string_view Ranges(char function) {
  switch (function) {
    case 'U':
    case 'V':
    case 'Z': return "01234";
    case 'R': return "0123456";
    case 'I':
    case 'J': return "1";
    default: return "0";
  }
}

enum class Value { none, required, optional };
// Which run an option belongs to.
enum class Mode { any, window, headless };

using Apply = std::function<bool(CommandLine&, const std::string&, std::string&)>;

struct Option {
  std::string_view name;
  Value value;
  Mode mode;
  // Stores the value; false when it is not acceptable (error says why).
  Apply apply;
  // What an optional value is when the option stands without "=VALUE".
  const char* fallback = nullptr;
};

Apply Flag(bool CommandLine::*field) {
  return [field](CommandLine& c, const std::string&, std::string&) { return c.*field = true; };
}

// An option naming the file of a port recording.
Apply DiagnosticFile(std::optional<std::string> TPortDiagnostics::*field, const char* mistake) {
  return [field, mistake](CommandLine& c, const std::string& v, std::string& e) {
    if (v.empty()) return e = mistake, false;
    c.diagnostics.*field = v;
    return true;
  };
}

// An option whose value is one character of `allowed`.
Apply OneOf(std::string_view allowed, std::optional<char> CommandLine::*field, const char* mistake) {
  return [allowed, field, mistake](CommandLine& c, const std::string& v, std::string& e) {
    if (v.size() != 1 || allowed.find(v[0]) == std::string_view::npos) return e = mistake, false;
    c.*field = v[0];
    return true;
  };
}

bool ApplyPort(CommandLine& c, const std::string& v, std::string& e) {
  long n = 0;
  const std::string upper = Upper(v);
  const std::string number = upper.rfind("COM", 0) == 0 ? upper.substr(3) : upper;
  if (ParseLong(number, 1, 256, n)) {
    c.port = static_cast<int>(n);
    c.portDevice.clear();
    return true;
  }
  if (v.find('/') != std::string::npos) {
    c.port = 0;
    c.portDevice = v;
    return true;
  }
  e = "--port takes a COM number from 1 to 256 (2 or COM2) or a device such as /dev/ttyUSB0";
  return false;
}

const std::vector<Option>& Options() {
  static const std::vector<Option> options{
      {"--help", Value::none, Mode::any, Flag(&CommandLine::help)},
      {"-h", Value::none, Mode::any, Flag(&CommandLine::help)},
      {"--version", Value::none, Mode::any, Flag(&CommandLine::version)},
      {"--list-ports", Value::none, Mode::any, Flag(&CommandLine::listPorts)},
      {"--headless", Value::none, Mode::any, Flag(&CommandLine::headless)},
      {"--port", Value::required, Mode::any, ApplyPort},
      {"--record", Value::required, Mode::window,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (v.empty()) return e = "--record takes a file name", false;
         c.record = v;
         return true;
       }},
      {"--lang", Value::required, Mode::window,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (v != "ru" && v != "en") return e = "--lang takes ru or en", false;
         c.language = v;
         return true;
       }},
      {"--no-settings", Value::none, Mode::window, Flag(&CommandLine::noSettings)},
      {"--count", Value::required, Mode::headless,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (!ParseLong(v, 0, 1000000000, c.count))
           return e = "--count takes a number of readings (0: until stopped)", false;
         return true;
       }},
      {"--duration", Value::required, Mode::headless,
       [](CommandLine& c, const std::string& v, std::string& e) {
         double seconds = 0;
         if (!ParseSeconds(v, 1e9, seconds)) return e = "--duration takes seconds, more than 0", false;
         c.durationSeconds = seconds;
         return true;
       }},
      {"--function", Value::required, Mode::headless,
       [](CommandLine& c, const std::string& v, std::string& e) {
         c.function = FunctionLetter(v);
         if (!c.function)
           e = "--function takes one of U V I J R Z F T, a SCPI name (VOLT, VOLT:AC, CURR, "
               "CURR:AC, RES, FRES, FREQ, PER) or dcv acv dci aci res fres freq per";
         return c.function.has_value();
       }},
      {"--range", Value::required, Mode::headless,
       OneOf("0123456", &CommandLine::range, "--range takes a range digit from 0 to 6")},
      {"--resolution", Value::required, Mode::headless,
       OneOf("012", &CommandLine::resolution, "--resolution takes 0 (3.5 digits), 1 (4.5) or 2 (5.5)")},
      {"--csv", Value::required, Mode::headless,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (v.empty()) return e = "--csv takes a file name or -", false;
         c.csv = v;
         return true;
       }},
      {"--format", Value::required, Mode::headless,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (v == "csv")
           c.format = record::RowFormat::csv;
         else if (v == "jsonl")
           c.format = record::RowFormat::jsonl;
         else
           return e = "--format takes csv or jsonl", false;
         return true;
       }},
      {"--timeout", Value::required, Mode::headless,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (!ParseSeconds(v, 3600, c.timeoutSeconds))
           return e = "--timeout takes seconds, more than 0 and at most 3600", false;
         return true;
       }},
      {"--trace", Value::optional, Mode::any,
       DiagnosticFile(&TPortDiagnostics::traceFile, "--trace= needs a file name"), "SIO.TRC"},
      {"--log", Value::optional, Mode::any,
       DiagnosticFile(&TPortDiagnostics::logFile, "--log= needs a file name"), "SIO.LOG"},
      {"--serve", Value::optional, Mode::any,
       [](CommandLine& c, const std::string& v, std::string& e) {
         return ParseServeAddress(v, c.serve.emplace(), e);
       },
       kDefaultServeAddress},
  };
  return options;
}

// What the options say together; `used` are the options given, in order.
bool CheckTogether(const CommandLine& c, const std::vector<const Option*>& used, std::string& error) {
  for (const Option* o : used) {
    // A server's queries wait for the instrument as a headless run does.
    const bool serverTimeout = c.serve && o->name == "--timeout";
    if (o->mode == Mode::headless && !c.headless && !serverTimeout) {
      error = std::string(o->name) + " belongs to --headless";
      return false;
    }
    if (o->mode == Mode::window && c.headless) {
      error = std::string(o->name) + " is for the window; with --headless use --csv FILE";
      return false;
    }
  }
  if (c.serve && (c.count > 0 || c.durationSeconds || c.function || c.range || c.resolution || c.csv != "-" ||
                  c.format != record::RowFormat::csv)) {
    error =
        "--serve takes its settings from its clients; --count, --duration, --function, --range, "
        "--resolution, --csv and --format belong to a measurement run";
    return false;
  }
  const char function = c.function.value_or('U');
  if (c.range && Ranges(function).find(*c.range) == std::string_view::npos) {
    error = std::string("range ") + *c.range + " is not a range of function " + function +
            " (ranges: " + std::string(Ranges(function)) + ")";
    return false;
  }
  return true;
}

}  // namespace

std::optional<char> FunctionLetter(const std::string& name) {
  if (name.size() == 1 && std::string_view("UVIJRZFT").find(name[0]) != std::string_view::npos)
    return name[0];
  // SCPI headers match their short form or their whole long form, in any
  // case; ":DC" is the optional node of the DC functions.
  static const struct {
    const char* name;
    char function;
  } kNames[] = {
      {"VOLT", 'U'},    {"VOLTAGE", 'U'},    {"VOLT:DC", 'U'},    {"VOLTAGE:DC", 'U'}, {"DCV", 'U'},
      {"VOLT:AC", 'V'}, {"VOLTAGE:AC", 'V'}, {"ACV", 'V'},        {"CURR", 'I'},       {"CURRENT", 'I'},
      {"CURR:DC", 'I'}, {"CURRENT:DC", 'I'}, {"DCI", 'I'},        {"CURR:AC", 'J'},    {"CURRENT:AC", 'J'},
      {"ACI", 'J'},     {"RES", 'R'},        {"RESISTANCE", 'R'}, {"FRES", 'Z'},       {"FRESISTANCE", 'Z'},
      {"FREQ", 'F'},    {"FREQUENCY", 'F'},  {"PER", 'T'},        {"PERIOD", 'T'},
  };
  const std::string upper = Upper(name);
  for (const auto& entry : kNames)
    if (upper == entry.name) return entry.function;
  return std::nullopt;
}

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error) {
  CommandLine line;
  std::vector<const Option*> used;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    const Option* option = nullptr;
    for (const Option& o : Options())
      if (o.name == name) option = &o;
    if (option == nullptr) {
      error = "unknown option " + name + " (see --help)";
      return std::nullopt;
    }
    if (option->value == Value::optional && !inlineValue) {
      value = option->fallback;
    } else if (option->value == Value::required && !inlineValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value (see --help)";
        return std::nullopt;
      }
      value = args[++i];
    } else if (option->value == Value::none && inlineValue) {
      error = name + " takes no value";
      return std::nullopt;
    }
    if (!option->apply(line, value, error)) return std::nullopt;
    used.push_back(option);
  }
  const bool informational = line.help || line.version || line.listPorts;
  if (!informational && !CheckTogether(line, used, error)) return std::nullopt;
  return line;
}

std::string HelpText() {
  return R"(Usage: tesmar [--port P] [--record FILE] [--lang ru|en] [--no-settings]
                     [--trace[=FILE]] [--log[=FILE]]
       tesmar --headless [--count N] [--duration SEC] [--function F] [--range D]
              [--resolution R] [--csv FILE|-] [--format csv|jsonl] [--timeout SEC]
              [--port P] [--trace[=FILE]] [--log[=FILE]]
       tesmar --list-ports | --version | --help
The remote front panel of the K4-18/3 multimeter on a serial line.

  --port P          the port: a COM number (2 or COM2) or its device
                    (/dev/ttyUSB0, a /dev/serial/by-id link); default COM1
  --list-ports      list the COM numbers, their devices and adapters, and exit

With a window:
  --record FILE     start recording readings into the CSV file FILE at once
                    (the "Запись" menu starts and stops recordings later)
  --lang ru|en      the windows' language (default: English under an English
                    locale, LANG=en_*, Russian otherwise)
  --no-settings     start from the defaults; the settings remembered in
                    $XDG_CONFIG_HOME/tesmar/tesmar.conf are neither read nor
                    written

Without a window (no display needed):
  --headless        bring the link up, set the instrument, take readings and
                    print them as rows, until --count or --duration is
                    reached or until Ctrl+C, SIGTERM or SIGHUP
  --count N         the number of readings to take (0: until stopped)
  --duration SEC    stop after SEC seconds
  --function F      U DC volts, V AC volts, I DC amps, J AC amps,
                    R ohms 2-wire, Z ohms 4-wire, F frequency, T period;
                    or VOLT VOLT:AC CURR CURR:AC RES FRES FREQ PER (long
                    forms too), or dcv acv dci aci res fres freq per
                    (default U; the function and range are always set)
  --range D         range digit: U V Z 0..4 (200 mV .. 1000 V, 200 Ω .. 2 MΩ),
                    R 0..6 (200 Ω .. 2 GΩ), I J 1 (2 A), F T 0
  --resolution R    0: 3.5 digits, 1: 4.5 digits, 2: 5.5 digits
  --csv FILE|-      where the rows go (default -, standard output)
  --format F        csv (default, a header line first) or jsonl (one JSON
                    object a line, the same fields)
  --timeout SEC     how long the instrument may stay silent, at the start
                    and between two readings, beyond the panel's own
                    reading interval (default 5)

Fields: time (ISO 8601 local, milliseconds), elapsed_s, value (SI units),
unit (V A Ω Hz s), function, range, resolution, raw (the display text),
status (ok, overload, unreadable), segment (changes with the settings).

Exit status: 0 done (all readings taken, the duration over, or stopped by
a signal); 1 the program could not end in order within 2 s of a signal;
2 a mistake on the command line, or no display for the window; 3 the port
cannot be opened; 4 the instrument did not answer in time; 5 the rows,
the trace or the log cannot be written.

Diagnosing the link (with or without a window):
  --trace[=FILE]    record every character sent and received from the start;
                    written to FILE (default SIO.TRC) when the port closes
  --log[=FILE]      record the dispatch log from the start; written to FILE
                    (default SIO.LOG) when the port closes

Ctrl+C, SIGTERM or SIGHUP closes the panel as closing its window does: the
port is closed and the files are written. A second signal ends it at once.

  --version         show the program's version

Serving the meter to SCPI clients (PyVISA), with the window or --headless:
  --serve[=[ADDR:]PORT]  listen on ADDR:PORT (default 127.0.0.1:5025, this
                    machine only; 0.0.0.0 for every interface) until the
                    window closes or, headless, until SIGINT or SIGTERM;
                    --timeout applies to its queries. Exit status 6: the
                    address cannot be served (e.g. the port is in use)

  -h, --help        show this text
)";
}

std::string VersionText() { return std::string("tesmar ") + TESMAR_VERSION + "\n"; }

}  // namespace app
