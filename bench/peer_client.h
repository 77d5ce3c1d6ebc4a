// What our clients of the serial peer harness (a scripted far end on a
// pseudo-terminal, see bench/RESULTS.md) share: the command line, the
// private com1 link to the slave, timing, the RESULT lines and the five
// modes, written once over a port class of each client's own.
//
//   CLIENT SLAVE MODE ARG
//     rtt COUNT   1-byte round trips (20 untimed first)
//     xchg COUNT  the 11-byte set-up command, byte by byte, each echo awaited
//     cold COUNT  open + configure + one xchg exchange + close
//     rx BYTES    one trigger byte, then receive BYTES (prints sum32)
//     tx BYTES    send BYTES (byte k = k mod 256), then wait for the 'K' ack
//
// A client prints one "RESULT key=value ..." line and exits 0, or prints a
// reason on stderr and exits 1 (2: bad arguments, 3: the overall deadline
// passed). Its port gives up on every wait after IoTimeoutMs, so a mute far
// end fails the run.
//
// The slave is reached as "\\.\COM1": a private dosdevices folder with a
// com1 link to SLAVE is made under a temporary XDG_CONFIG_HOME and removed
// again at exit (also on SIGTERM/SIGALRM, since the harness kills hung
// clients).
//
// Thread safety: everything here runs on the program's main thread; Fail
// may be called from any thread (it ends the process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

constexpr unsigned IoTimeoutMs = 5000;
constexpr std::string_view SetupCommand = "CFG:A1B2C3\n";
// The device name that reaches the slave once PrepareClient has run.
constexpr const char* PeerComName = "\\\\.\\COM1";

// Names the client in RESULT lines and messages; call first.
void SetClientName(const char* name);
const char* ClientName();

// Prints "NAME: what" on stderr, removes the private folder and ends the
// process with exit code 1 without running destructors (worker threads may
// still be waiting).
[[noreturn]] void Fail(const std::string& what);

// Makes the private folder with the com1 link to `slave`, points
// XDG_CONFIG_HOME at it (before the first open: names are resolved against
// the environment then), and installs the signal handlers and the overall
// deadline.
void PrepareClient(const char* slave);
// Removes the private folder.
void FinishClient();

// Monotonic seconds, and user + system CPU seconds of the whole process
// (worker threads count).
double NowS();
double CpuS();

void ReportLatency(const char* mode, const std::vector<double>& samples, double cpu);
// `data` (rx) adds sum32, the sum of the received bytes mod 2^32.
void ReportThroughput(const char* mode, std::size_t bytes, double secs, double cpu,
                      const std::vector<std::uint8_t>* data);

// The five modes over a port class. Port() opens and configures the
// slave (failing through Fail); Write sends all of `count` bytes; ReadExact
// waits until exactly `count` bytes have been read. The destructor closes.
template <typename Port>
class PeerModes {
 public:
  static void Exchange(Port& port) {
    for (char c : SetupCommand) {
      const auto out = static_cast<std::uint8_t>(c);
      std::uint8_t in = 0;
      port.Write(&out, 1);
      port.ReadExact(&in, 1);
      if (in != out) Fail("exchange: wrong answer byte");
    }
  }

  static void Rtt(std::size_t count) {
    constexpr std::size_t kWarmup = 20;
    Port port;
    std::vector<double> samples(count);
    double cpu0 = 0;
    for (std::size_t i = 0; i < count + kWarmup; ++i) {
      if (i == kWarmup) cpu0 = CpuS();
      const auto out = static_cast<std::uint8_t>(i);  // every byte value in turn
      std::uint8_t in = 0;
      const double t0 = NowS();
      port.Write(&out, 1);
      port.ReadExact(&in, 1);
      const double t1 = NowS();
      if (in != out) Fail("rtt: wrong answer byte");
      if (i >= kWarmup) samples[i - kWarmup] = t1 - t0;
    }
    ReportLatency("rtt", samples, CpuS() - cpu0);
  }

  static void Xchg(std::size_t count) {
    Port port;
    std::vector<double> samples(count);
    for (int i = 0; i < 2; ++i) Exchange(port);
    const double cpu0 = CpuS();
    for (double& sample : samples) {
      const double t0 = NowS();
      Exchange(port);
      sample = NowS() - t0;
    }
    ReportLatency("xchg", samples, CpuS() - cpu0);
  }

  static void Cold(std::size_t count) {
    std::vector<double> samples(count);
    double cpu0 = 0;
    for (std::size_t i = 0; i < count + 2; ++i) {
      if (i == 2) cpu0 = CpuS();
      const double t0 = NowS();
      {
        Port port;
        Exchange(port);
      }
      if (i >= 2) samples[i - 2] = NowS() - t0;
    }
    ReportLatency("cold", samples, CpuS() - cpu0);
  }

  static void Rx(std::size_t bytes) {
    Port port;
    std::vector<std::uint8_t> data(bytes);
    const std::uint8_t trigger = 'G';
    const double cpu0 = CpuS();
    const double t0 = NowS();
    port.Write(&trigger, 1);
    port.ReadExact(data.data(), bytes);
    const double t1 = NowS();
    const double cpu1 = CpuS();
    ReportThroughput("rx", bytes, t1 - t0, cpu1 - cpu0, &data);
  }

  static void Tx(std::size_t bytes) {
    Port port;
    std::vector<std::uint8_t> data(bytes);
    for (std::size_t k = 0; k < bytes; ++k) data[k] = static_cast<std::uint8_t>(k);
    std::uint8_t ack = 0;
    const double cpu0 = CpuS();
    const double t0 = NowS();
    port.Write(data.data(), bytes);
    port.ReadExact(&ack, 1);
    const double t1 = NowS();
    const double cpu1 = CpuS();
    if (ack != 'K') Fail("tx: bad ack from the sink");
    ReportThroughput("tx", bytes, t1 - t0, cpu1 - cpu0, nullptr);
  }

  // Runs MODE with ARG (argv[2], argv[3]); false for an unknown mode.
  static bool Run(std::string_view mode, std::size_t n) {
    if (mode == "rtt") {
      Rtt(n);
    } else if (mode == "xchg") {
      Xchg(n);
    } else if (mode == "cold") {
      Cold(n);
    } else if (mode == "rx") {
      Rx(n);
    } else if (mode == "tx") {
      Tx(n);
    } else {
      return false;
    }
    return true;
  }
};

// Checks ARG of "CLIENT SLAVE MODE ARG" (1 .. 2^32-1); 0 after printing the
// usage when it is not.
std::size_t ParseCount(int argc, char** argv, const char* usage);

// The whole main of a client: parses the command line, prepares, runs the
// mode and reports. Returns the exit code.
template <typename Port>
int PeerClientMain(const char* name, int argc, char** argv) {
  SetClientName(name);
  const std::string usage =
      std::string("usage: ") + name + " SLAVE rtt|xchg|cold COUNT | rx|tx BYTES";
  const std::size_t n = ParseCount(argc, argv, usage.c_str());
  if (n == 0) return 2;
  PrepareClient(argv[1]);
  if (!PeerModes<Port>::Run(argv[2], n)) Fail("unknown mode");
  FinishClient();
  return 0;
}

}  // namespace bench
