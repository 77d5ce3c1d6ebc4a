// A client for the serial peer harness (a scripted far end on a pseudo-
// terminal) that talks through our own serial functions only, so their cost
// can be set beside plain termios and other serial stacks measured in the
// same run.
//
//   serial_peer_client SLAVE MODE ARG
//     rtt COUNT   1-byte round trips (20 untimed first)
//     xchg COUNT  the 11-byte set-up command, byte by byte, each echo awaited
//     cold COUNT  open + configure + one xchg exchange + close
//     rx BYTES    one trigger byte, then receive BYTES (prints sum32)
//     tx BYTES    send BYTES (byte k = k mod 256), then wait for the 'K' ack
//
// Prints one "RESULT key=value ..." line and exits 0, or prints a reason on
// stderr and exits 1 (2: bad arguments, 3: the overall deadline passed).
// Every wait gives up after 5 s, so a mute far end fails the run.
//
// The slave is reached as "\\.\COM1": a private dosdevices folder with a
// com1 link to SLAVE is made under a temporary XDG_CONFIG_HOME and removed
// again at exit (also on SIGTERM/SIGALRM, since the harness kills hung
// clients). The port is used the way the device layer uses it: overlapped
// handle, the event mask of its event thread, read time-outs that return at
// once, WaitCommEvent for EV_RXCHAR and then ReadFile of what has arrived,
// and overlapped writes finished with GetOverlappedResult.
#include <signal.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"
#include "platform/last_error.h"
#include "platform/serial.h"
#include "platform/sync.h"

namespace {

using namespace platform;

constexpr const char* kClient = "tesmar";
constexpr std::size_t kWarmupRtt = 20;
constexpr DWORD kIoTimeoutMs = 5000;
constexpr unsigned kDeadlineS = 60;
constexpr std::string_view kCommand = "CFG:A1B2C3\n";
// The event thread's mask: received characters, modem lines, break, errors
// and ring. A pseudo-terminal only ever raises EV_RXCHAR.
constexpr DWORD kEventMask = 0x1F9;
// Receive queue. The port drains the device at once and drops what does not
// fit (CE_RXOVER); a pseudo-terminal is not paced, so the blast of the rx
// mode needs room for what arrives between two reads of this thread.
constexpr DWORD kInQueue = 1u << 20;
constexpr DWORD kOutQueue = 4096;

// --- The private dosdevices folder ------------------------------------------
// Plain arrays, so the signal handler can remove them with unlink/rmdir.

char gRoot[256];
char gTesmar[300];
char gFolder[320];
char gLink[340];

void RemoveFolder() {
  if (gRoot[0] == '\0') return;
  unlink(gLink);
  rmdir(gFolder);
  rmdir(gTesmar);
  rmdir(gRoot);
  gRoot[0] = '\0';
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", kClient, what.c_str());
  RemoveFolder();
  std::fflush(stderr);
  _exit(1);  // the port's event thread may still be waiting: no destructors
}

[[noreturn]] void FailWithError(const std::string& what) {
  Fail(what + " failed (error " + std::to_string(GetLastError()) + ")");
}

void OnSignal(int signal) {
  static const char message[] = "tesmar: overall deadline exceeded or killed\n";
  [[maybe_unused]] ssize_t written = write(2, message, sizeof message - 1);
  RemoveFolder();
  _exit(signal == SIGALRM ? 3 : 128 + signal);
}

void MakeFolder(const char* slave) {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp == nullptr || tmp[0] != '/') tmp = "/tmp";
  std::snprintf(gRoot, sizeof gRoot, "%s/tesmar-peer-XXXXXX", tmp);
  if (mkdtemp(gRoot) == nullptr) {
    gRoot[0] = '\0';
    Fail("cannot make a temporary folder");
  }
  std::snprintf(gTesmar, sizeof gTesmar, "%s/tesmar", gRoot);
  std::snprintf(gFolder, sizeof gFolder, "%s/dosdevices", gTesmar);
  std::snprintf(gLink, sizeof gLink, "%s/com1", gFolder);
  if (mkdir(gTesmar, 0700) != 0 || mkdir(gFolder, 0700) != 0 || symlink(slave, gLink) != 0) {
    Fail("cannot make the com1 link");
  }
  // Before the first open: names are resolved against the environment then.
  setenv("XDG_CONFIG_HOME", gRoot, 1);
}

// --- Timing and statistics, as the harness's C clients do them --------------

double NowS() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// User + system time of the whole process: the port's event thread counts.
double CpuS() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Nearest rank on the sorted samples; q in [0, 1].
double Quantile(std::vector<double> samples, double q) {
  std::sort(samples.begin(), samples.end());
  return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1) + 0.5)];
}

void ReportLatency(const char* mode, const std::vector<double>& samples, double cpu) {
  const auto n = samples.size();
  std::printf("RESULT client=%s mode=%s n=%zu value=%.2f p99_us=%.2f cpu=%.3f\n", kClient, mode,
              n, Quantile(samples, 0.5) * 1e6, Quantile(samples, 0.99) * 1e6,
              cpu / static_cast<double>(n) * 1e6);
}

void ReportThroughput(const char* mode, std::size_t bytes, double secs, double cpu,
                      const std::vector<BYTE>* data) {
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("RESULT client=%s mode=%s n=%zu value=%.2f secs=%.6f cpu=%.5f", kClient, mode,
              bytes, mb / secs, secs, cpu / mb);
  if (data != nullptr) {
    std::uint32_t sum = 0;
    for (BYTE b : *data) sum += b;
    std::printf(" sum32=%" PRIu32, sum);
  }
  std::printf("\n");
}

// --- The port ----------------------------------------------------------------

class Port {
 public:
  Port();
  ~Port();
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  void Write(const BYTE* data, std::size_t count);
  // Waits for received characters and returns how many were read (> 0).
  std::size_t ReadSome(BYTE* buffer, std::size_t capacity);
  void ReadExact(BYTE* buffer, std::size_t count);
  void Exchange();

 private:
  void Configure();
  void Await(OVERLAPPED& overlapped, DWORD* transferred, const char* what);
  void WaitForInput();

  HANDLE port_ = INVALID_HANDLE_VALUE;
  OVERLAPPED wait_{};
  OVERLAPPED read_{};
  OVERLAPPED write_{};
  DWORD events_ = 0;
};

Port::Port() {
  port_ = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED, 0);
  if (port_ == INVALID_HANDLE_VALUE) FailWithError("CreateFileA(\\\\.\\COM1)");
  for (OVERLAPPED* o : {&wait_, &read_, &write_}) {
    o->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (o->hEvent == 0) FailWithError("CreateEventA");
  }
  Configure();
}

Port::~Port() {
  CloseHandle(port_);
  for (OVERLAPPED* o : {&wait_, &read_, &write_}) CloseHandle(o->hEvent);
}

void Port::Configure() {
  if (!SetupComm(port_, kInQueue, kOutQueue)) FailWithError("SetupComm");
  DCB dcb{};
  if (!GetCommState(port_, &dcb)) FailWithError("GetCommState");
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  // Binary, no parity check, no flow control of either kind, DTR and RTS up.
  dcb.Flags = DCB_fBinary | DCB_fDtrControlEnable | DCB_fRtsControlEnable;
  if (!SetCommState(port_, &dcb)) FailWithError("SetCommState");
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;  // reads return at once with what is there
  if (!SetCommTimeouts(port_, &timeouts)) FailWithError("SetCommTimeouts");
  if (!SetCommMask(port_, kEventMask)) FailWithError("SetCommMask");
  if (!PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR)) FailWithError("PurgeComm");
}

// Finishes an operation that returned ERROR_IO_PENDING, within the I/O limit.
void Port::Await(OVERLAPPED& overlapped, DWORD* transferred, const char* what) {
  const DWORD waited = WaitForSingleObject(overlapped.hEvent, kIoTimeoutMs);
  if (waited == WAIT_TIMEOUT) Fail(std::string(what) + ": no answer within 5 s");
  if (waited != WAIT_OBJECT_0) FailWithError(std::string(what) + " wait");
  if (!GetOverlappedResult(port_, &overlapped, transferred, FALSE)) {
    FailWithError(std::string(what) + " GetOverlappedResult");
  }
}

void Port::Write(const BYTE* data, std::size_t count) {
  DWORD written = 0;
  if (!WriteFile(port_, data, static_cast<DWORD>(count), &written, &write_)) {
    if (GetLastError() != ERROR_IO_PENDING) FailWithError("WriteFile");
    Await(write_, &written, "WriteFile");
  }
  if (written != count) Fail("WriteFile: short write");
}

void Port::WaitForInput() {
  for (;;) {
    if (!WaitCommEvent(port_, &events_, &wait_)) {
      if (GetLastError() != ERROR_IO_PENDING) FailWithError("WaitCommEvent");
      DWORD unused = 0;
      Await(wait_, &unused, "WaitCommEvent");
    }
    if (events_ & EV_ERR) Fail("line error reported");
    if (events_ & EV_RXCHAR) return;
  }
}

std::size_t Port::ReadSome(BYTE* buffer, std::size_t capacity) {
  for (;;) {
    WaitForInput();
    DWORD got = 0;
    if (!ReadFile(port_, buffer, static_cast<DWORD>(capacity), &got, &read_)) {
      if (GetLastError() != ERROR_IO_PENDING) FailWithError("ReadFile");
      Await(read_, &got, "ReadFile");
    }
    // An event kept from an earlier arrival may find its bytes already read.
    if (got > 0) return got;
  }
}

void Port::ReadExact(BYTE* buffer, std::size_t count) {
  for (std::size_t done = 0; done < count;) done += ReadSome(buffer + done, count - done);
}

void Port::Exchange() {
  for (char c : kCommand) {
    const BYTE out = static_cast<BYTE>(c);
    BYTE in = 0;
    Write(&out, 1);
    ReadExact(&in, 1);
    if (in != out) Fail("exchange: wrong answer byte");
  }
}

// --- Modes ---------------------------------------------------------------------

void RunRtt(std::size_t count) {
  Port port;
  std::vector<double> samples(count);
  double cpu0 = 0;
  for (std::size_t i = 0; i < count + kWarmupRtt; ++i) {
    if (i == kWarmupRtt) cpu0 = CpuS();
    const BYTE out = static_cast<BYTE>(i);  // every byte value in turn
    BYTE in = 0;
    const double t0 = NowS();
    port.Write(&out, 1);
    port.ReadExact(&in, 1);
    const double t1 = NowS();
    if (in != out) Fail("rtt: wrong answer byte");
    if (i >= kWarmupRtt) samples[i - kWarmupRtt] = t1 - t0;
  }
  ReportLatency("rtt", samples, CpuS() - cpu0);
}

void RunXchg(std::size_t count) {
  Port port;
  std::vector<double> samples(count);
  for (int i = 0; i < 2; ++i) port.Exchange();
  const double cpu0 = CpuS();
  for (double& sample : samples) {
    const double t0 = NowS();
    port.Exchange();
    sample = NowS() - t0;
  }
  ReportLatency("xchg", samples, CpuS() - cpu0);
}

void RunCold(std::size_t count) {
  std::vector<double> samples(count);
  double cpu0 = 0;
  for (std::size_t i = 0; i < count + 2; ++i) {
    if (i == 2) cpu0 = CpuS();
    const double t0 = NowS();
    {
      Port port;
      port.Exchange();
    }
    if (i >= 2) samples[i - 2] = NowS() - t0;
  }
  ReportLatency("cold", samples, CpuS() - cpu0);
}

void RunRx(std::size_t bytes) {
  Port port;
  std::vector<BYTE> data(bytes);
  const BYTE trigger = 'G';
  const double cpu0 = CpuS();
  const double t0 = NowS();
  port.Write(&trigger, 1);
  port.ReadExact(data.data(), bytes);
  const double t1 = NowS();
  const double cpu1 = CpuS();
  ReportThroughput("rx", bytes, t1 - t0, cpu1 - cpu0, &data);
}

void RunTx(std::size_t bytes) {
  Port port;
  std::vector<BYTE> data(bytes);
  for (std::size_t k = 0; k < bytes; ++k) data[k] = static_cast<BYTE>(k);
  BYTE ack = 0;
  const double cpu0 = CpuS();
  const double t0 = NowS();
  port.Write(data.data(), bytes);
  port.ReadExact(&ack, 1);
  const double t1 = NowS();
  const double cpu1 = CpuS();
  if (ack != 'K') Fail("tx: bad ack from the sink");
  ReportThroughput("tx", bytes, t1 - t0, cpu1 - cpu0, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: serial_peer_client SLAVE rtt|xchg|cold COUNT | rx|tx BYTES\n");
    return 2;
  }
  const std::string_view mode = argv[2];
  char* end = nullptr;
  const unsigned long long n = std::strtoull(argv[3], &end, 10);
  if (n == 0 || *end != '\0' || n > 0xFFFFFFFFull) {
    std::fprintf(stderr, "%s: COUNT/BYTES must be a number from 1 to 2^32-1\n", kClient);
    return 2;
  }
  signal(SIGALRM, OnSignal);
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  alarm(kDeadlineS);
  MakeFolder(argv[1]);

  if (mode == "rtt") {
    RunRtt(n);
  } else if (mode == "xchg") {
    RunXchg(n);
  } else if (mode == "cold") {
    RunCold(n);
  } else if (mode == "rx") {
    RunRx(n);
  } else if (mode == "tx") {
    RunTx(n);
  } else {
    Fail("unknown mode");
  }
  std::fflush(stdout);
  RemoveFolder();
  return 0;
}
