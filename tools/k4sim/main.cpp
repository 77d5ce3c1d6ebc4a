// k4sim: the K4-18/3 simulator as a program. See Usage() below and
// Simulator.h for what it does on the line.
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "tools/k4sim/Simulator.h"

namespace {

constexpr const char* kUsage = R"(Usage: k4sim [OPTION]...
Simulates a K4-18/3 multimeter on a pseudo-terminal. Prints the slave's path
(e.g. /dev/pts/7) as the first line on standard output, then runs until
SIGINT or SIGTERM, and removes its COM link on the way out.

The line: every character received is answered at once by the same
character ('!' by '!', which also clears the command buffer). Command lines
of letter-argument pairs closed by LF set the instrument: function letters
U V I J R Z F T with a range digit; G trigger, B output (B0 stops the
measurement lines), Y, M, A auto-range, W filter, S sound, H display format
(0 3.5, 1 4.5, 2 5.5 digits), N periodic zero, K0 auto-calibration,
Q external zero, L backlight, X0 general reset. Measurement lines follow
each other at the line interval in fixed columns, the unit in column 10:
"+1.23456 V U1" (5.5 digits), "+1.234   V U1" (3.5 digits), "+50.0012 Hz F0"
(frequency and period always carry six digits); each LF is followed at once
by a whole reading, so answers only ever land in a line's tail.

Options:
  --com N            link the slave as COMn: the symbolic link comN in the
                     dosdevices folder (1..256)
  --dosdevices DIR   the folder for --com; default
                     $XDG_CONFIG_HOME/tesmar/dosdevices (~/.config/...);
                     created if missing. An existing comN is replaced only
                     if it is a dangling link.
  --seed N           seed of the readings' noise and of the faults (1)
  --interval MS      time between measurement lines (250)
  --log FILE         append every received byte to FILE, one line each:
                     seconds since start, hex code, character or name
  --verbose          report the link and each executed command line on
                     standard error
  --help             show this text

Faults:
  --probe-after SEC  ignore '!' (no answer) for the first SEC seconds
  --silent-after SEC fall silent after SEC seconds: no answers, no lines,
                     received bytes are only logged
  --silent-for SEC   with --silent-after: speak again after SEC seconds
  --slow-pacing MS   send each answer MS milliseconds late
  --garbage RATE     put 1..8 random bytes (never LF or '!') into a line,
                     with probability RATE (0..1) per line
  --no-lf RATE       leave out the LF before a line, probability per line
  --cut-lines RATE   cut a line to 1..6 characters, probability per line

Signals: SIGUSR1 makes the simulator fall silent, SIGUSR2 makes it speak
again; SIGINT, SIGTERM and SIGHUP end it.
)";

struct Arguments {
  k4sim::Options options;
  bool verbose = false;
  bool help = false;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "k4sim: " << message << "\nTry 'k4sim --help'.\n";
  std::exit(2);
}

long long ParseInteger(std::string_view option, std::string_view text, long long lo, long long hi) {
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < lo || value > hi) {
    Fail(std::string(option) + " wants a whole number from " + std::to_string(lo) + " to " +
         std::to_string(hi) + ", not '" + std::string(text) + "'");
  }
  return value;
}

double ParseNumber(std::string_view option, const std::string& text, double lo, double hi) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= lo && value <= hi)) {
    char range[64];
    std::snprintf(range, sizeof range, " wants a number from %g to %g, not '", lo, hi);
    Fail(std::string(option) + range + text + "'");
  }
  return value;
}

std::chrono::milliseconds Seconds(std::string_view option, const std::string& text) {
  return std::chrono::milliseconds(
      static_cast<long long>(ParseNumber(option, text, 0.0, 86400.0 * 365) * 1000.0 + 0.5));
}

std::string DefaultDosdevices() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return std::string(config) + "/tesmar/dosdevices";
  const char* home = std::getenv("HOME");
  if (!home || !*home) Fail("--com without --dosdevices needs HOME or XDG_CONFIG_HOME");
  return std::string(home) + "/.config/tesmar/dosdevices";
}

bool IsValueOption(std::string_view name) {
  for (const char* known : {"--com", "--dosdevices", "--seed", "--interval", "--log",
                            "--probe-after", "--silent-after", "--silent-for", "--slow-pacing",
                            "--garbage", "--no-lf", "--cut-lines"}) {
    if (name == known) return true;
  }
  return false;
}

void ApplyOption(Arguments& args, std::string_view name, const std::string& value) {
  k4sim::Options& o = args.options;
  using std::chrono::milliseconds;
  if (name == "--com") {
    o.comNumber = static_cast<int>(ParseInteger(name, value, 1, 256));
  } else if (name == "--dosdevices") {
    if (value.empty()) Fail("--dosdevices wants a folder");
    o.dosdevices = value;
  } else if (name == "--seed") {
    o.seed = static_cast<std::uint64_t>(ParseInteger(name, value, 0, INT64_MAX));
  } else if (name == "--interval") {
    o.lineInterval = milliseconds(ParseInteger(name, value, 1, 3600000));
  } else if (name == "--log") {
    o.logPath = value;
  } else if (name == "--probe-after") {
    o.probeAfter = Seconds(name, value);
  } else if (name == "--silent-after") {
    o.silentAfter = Seconds(name, value);
  } else if (name == "--silent-for") {
    o.silentFor = Seconds(name, value);
  } else if (name == "--slow-pacing") {
    o.answerDelay = milliseconds(ParseInteger(name, value, 0, 3600000));
  } else if (name == "--garbage") {
    o.garbageRate = ParseNumber(name, value, 0.0, 1.0);
  } else if (name == "--no-lf") {
    o.dropLfRate = ParseNumber(name, value, 0.0, 1.0);
  } else if (name == "--cut-lines") {
    o.cutLineRate = ParseNumber(name, value, 0.0, 1.0);
  }
}

Arguments Parse(int argc, char** argv) {
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      args.help = true;
      continue;
    }
    if (arg == "--verbose" || arg == "-v") {
      args.verbose = true;
      continue;
    }
    const std::string_view name = arg.substr(0, arg.find('='));
    if (!IsValueOption(name)) Fail("unknown option " + std::string(arg));
    std::string value;
    if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
      value = std::string(arg.substr(eq + 1));
      arg = arg.substr(0, eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      Fail(std::string(arg) + " wants a value");
    }
    ApplyOption(args, arg, value);
  }
  if (args.options.silentFor && !args.options.silentAfter) Fail("--silent-for needs --silent-after");
  if (args.options.comNumber > 0 && args.options.dosdevices.empty()) {
    args.options.dosdevices = DefaultDosdevices();
  }
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args = Parse(argc, argv);
  if (args.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  // Block the signals before the simulator's thread exists, so that it
  // inherits the mask and only sigwait below ever takes them.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (args.verbose) {
    args.options.onCommandLine = [](const std::string& line) {
      std::fprintf(stderr, "k4sim: command %s\n", line.c_str());
    };
  }
  std::optional<k4sim::Simulator> simulator;
  try {
    simulator.emplace(std::move(args.options));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("%s\n", simulator->SlavePath().c_str());
  std::fflush(stdout);
  if (args.verbose && !simulator->LinkPath().empty()) {
    std::fprintf(stderr, "k4sim: linked as %s\n", simulator->LinkPath().c_str());
  }

  for (;;) {
    int s = 0;
    if (sigwait(&signals, &s) != 0) continue;
    if (s == SIGUSR1 || s == SIGUSR2) {
      simulator->SetSilent(s == SIGUSR1);
      if (args.verbose) std::fprintf(stderr, "k4sim: %s\n", s == SIGUSR1 ? "silent" : "speaking");
      continue;
    }
    break;
  }
  simulator->Stop();
  return 0;
}
