#include "app/CommandLine.h"

#include <charconv>
#include <functional>
#include <string_view>

namespace app {
namespace {

bool ParseLong(const std::string& text, long low, long high, long& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

bool ParseSeconds(const std::string& text, double& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value > 0 && value <= 3600;
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

struct Option {
  std::string_view name;
  Value value;
  // Stores the value; false when it is not acceptable (error says why).
  std::function<bool(CommandLine&, const std::string&, std::string&)> apply;
  // What an optional value is when the option stands without "=VALUE".
  const char* fallback = nullptr;
};

// An option naming the file of a port recording.
std::function<bool(CommandLine&, const std::string&, std::string&)> DiagnosticFile(
    std::optional<std::string> TPortDiagnostics::*field, const char* mistake) {
  return [field, mistake](CommandLine& c, const std::string& v, std::string& e) {
    if (v.empty()) return e = mistake, false;
    c.diagnostics.*field = v;
    return true;
  };
}

// An option whose value is one character of `allowed`.
std::function<bool(CommandLine&, const std::string&, std::string&)> OneOf(
    std::string_view allowed, std::optional<char> CommandLine::*field, const char* mistake) {
  return [allowed, field, mistake](CommandLine& c, const std::string& v, std::string& e) {
    if (v.size() != 1 || allowed.find(v[0]) == std::string_view::npos) return e = mistake, false;
    c.*field = v[0];
    return true;
  };
}

const std::vector<Option>& Options() {
  static const std::vector<Option> options{
      {"--help", Value::none, [](CommandLine& c, const std::string&, std::string&) { return c.help = true; }},
      {"-h", Value::none, [](CommandLine& c, const std::string&, std::string&) { return c.help = true; }},
      {"--headless", Value::none,
       [](CommandLine& c, const std::string&, std::string&) { return c.headless = true; }},
      {"--port", Value::required,
       [](CommandLine& c, const std::string& v, std::string& e) {
         long n = 0;
         if (!ParseLong(v, 1, 256, n)) return e = "--port takes a COM number from 1 to 256", false;
         c.port = static_cast<int>(n);
         return true;
       }},
      {"--record", Value::required,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (v.empty()) return e = "--record takes a file name", false;
         c.record = v;
         return true;
       }},
      {"--count", Value::required,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (!ParseLong(v, 1, 1000000000, c.count))
           return e = "--count takes a number of readings from 1", false;
         return true;
       }},
      {"--function", Value::required,
       OneOf("UVIJRZFT", &CommandLine::function, "--function takes one of U V I J R Z F T")},
      {"--range", Value::required,
       OneOf("0123456", &CommandLine::range, "--range takes a range digit from 0 to 6")},
      {"--resolution", Value::required,
       OneOf("012", &CommandLine::resolution, "--resolution takes 0 (3.5 digits), 1 (4.5) or 2 (5.5)")},
      {"--csv", Value::required,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (v.empty()) return e = "--csv takes a file name or -", false;
         c.csv = v;
         return true;
       }},
      {"--timeout", Value::required,
       [](CommandLine& c, const std::string& v, std::string& e) {
         if (!ParseSeconds(v, c.timeoutSeconds))
           return e = "--timeout takes seconds, more than 0 and at most 3600", false;
         return true;
       }},
      {"--trace", Value::optional, DiagnosticFile(&TPortDiagnostics::traceFile, "--trace= needs a file name"),
       "SIO.TRC"},
      {"--log", Value::optional, DiagnosticFile(&TPortDiagnostics::logFile, "--log= needs a file name"),
       "SIO.LOG"},
      {"--serve", Value::optional,
       [](CommandLine& c, const std::string& v, std::string& e) {
         return ParseServeAddress(v, c.serve.emplace(), e);
       },
       kDefaultServeAddress},
  };
  return options;
}

// What the options say together.
bool CheckTogether(const CommandLine& c, std::string& error) {
  const bool measuring = c.count > 0 || c.function || c.range || c.resolution;
  if (!c.headless && measuring) {
    error = "--count, --function, --range and --resolution belong to --headless";
    return false;
  }
  if (c.serve && (c.count > 0 || c.function || c.range || c.resolution || c.csv != "-")) {
    error =
        "--serve takes its settings from its clients; --count, --function, --range, "
        "--resolution and --csv belong to a measurement run";
    return false;
  }
  if (c.headless && c.count == 0 && !c.serve) {
    error = "--headless needs --count N";
    return false;
  }
  if (c.headless && !c.record.empty()) {
    error = "--record is for the window; with --headless use --csv FILE";
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

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error) {
  CommandLine line;
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
  }
  if (!line.help && !CheckTogether(line, error)) return std::nullopt;
  return line;
}

std::string HelpText() {
  return R"(Usage: tesmar [--port N] [--record FILE] [--trace[=FILE]] [--log[=FILE]]
       tesmar --headless --count N [--function F] [--range D] [--resolution R]
              [--csv FILE|-] [--timeout SEC] [--port N] [--trace[=FILE]] [--log[=FILE]]
The remote front panel of the K4-18/3 multimeter on a serial line.

With a window:
  --port N          use COM N (1..256) instead of the layout's COM1
  --record FILE     start recording readings into the CSV file FILE at once
                    (the "Запись" menu starts and stops recordings later)

Without a window (no display needed):
  --headless        bring the link up, set the instrument, take N readings,
                    print them as CSV rows and exit
  --count N         the number of readings to take
  --function F      U DC volts, V AC volts, I DC amps, J AC amps,
                    R ohms 2-wire, Z ohms 4-wire, F frequency, T period
  --range D         range digit: U V Z 0..4 (200 mV .. 1000 V, 200 Ω .. 2 MΩ),
                    R 0..6 (200 Ω .. 2 GΩ), I J 1 (2 A), F T 0
  --resolution R    0: 3.5 digits, 1: 4.5 digits, 2: 5.5 digits
  --csv FILE|-      where the rows go (default -, standard output)
  --timeout SEC     how long the instrument may stay silent, at the start
                    and between two readings, beyond the panel's own
                    reading interval (default 5)

CSV columns: time (ISO 8601 local, milliseconds), elapsed_s, value (SI
units), unit (V A Ω Hz s), function, range, resolution, raw (the display
text), status (ok, overload, unreadable), segment (changes with the
settings). A header line comes first.

Exit status: 0 all readings taken; 2 a mistake on the command line; 3 the
port cannot be opened; 4 the instrument did not answer in time; 5 the CSV
file cannot be written.

Diagnosing the link (with or without a window):
  --trace[=FILE]    record every character sent and received from the start;
                    written to FILE (default SIO.TRC) when the port closes
  --log[=FILE]      record the dispatch log from the start; written to FILE
                    (default SIO.LOG) when the port closes

With a window, Ctrl+C or SIGTERM closes the panel as closing its window
does: the port is closed and the files are written.

Serving the meter to SCPI clients (PyVISA), with the window or --headless:
  --serve[=[ADDR:]PORT]  listen on ADDR:PORT (default 127.0.0.1:5025, this
                    machine only; 0.0.0.0 for every interface) until the
                    window closes or, headless, until SIGINT or SIGTERM;
                    --timeout applies to its queries. Exit status 6: the
                    address cannot be served (e.g. the port is in use)

  -h, --help        show this text
)";
}

}  // namespace app
