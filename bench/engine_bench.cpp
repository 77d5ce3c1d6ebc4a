// The communications engine measured as a client of the serial peer
// harness (bench/peer_client.h), and two measurements of its own.
//
//   engine_bench SLAVE rtt|xchg|cold COUNT | rx|tx BYTES
//   engine_bench --arrival COUNT    byte on the pty -> announced to a receiver
//   engine_bench --idle SECONDS     CPU of an open port with no traffic
//   engine_bench SLAVE cold-parts COUNT   the cold mode's open, exchange
//                                         and close timed apart
//
// The port is used as the port component uses the device layer: a
// TSioWin32Dispatcher opened on "\\.\COM1" at 115200 8N1 without flow
// control, WriteBlock to send, and the avail trigger (length 1) announcing
// received characters to a method receiver. The receiver runs on the
// dispatch thread and takes what is announced with ReadBlock, so reads are
// counted as the delivery's own; the main thread sleeps on a condition
// variable until the receiver has taken what it waits for. Nothing polls.
//
// --arrival writes single bytes to the master side of a pseudo-terminal of
// its own after an idle gap of 2 ms and reports how long until the
// receiver is called (CharAvailable is true from the moment the dispatch
// thread has filled its ring, just before the call) and until the main
// thread is awake; beside it, the same for a plain termios read blocked on
// a second pseudo-terminal. --idle reports the process's CPU time and
// context switches per second while the open port waits.
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/peer_client.h"
#include "device/SioWin32.h"
#include "dispatcher/SioDispatchRecords.h"
#include "platform/thread.h"

namespace {

using bench::Fail;
using platform::BYTE;

// The receive queue of the serial layer. It drains the device at once and
// drops what does not fit; a pseudo-terminal is not paced, so the blast of
// the rx mode needs room for what arrives while the dispatch thread is
// behind. The dispatcher's own input ring is fixed (InRingSize).
constexpr platform::DWORD kInQueue = 1u << 20;
constexpr std::int32_t kDtrAndRts = 0x03;

class EnginePort {
 public:
  // The output ring; main makes it hold a whole tx block, as an application
  // that queues a file at once would size it.
  static inline platform::DWORD outQueue = 4096;

  EnginePort();
  ~EnginePort() { dispatcher_->CloseLine(); }
  EnginePort(const EnginePort&) = delete;
  EnginePort& operator=(const EnginePort&) = delete;

  void Write(const BYTE* data, std::size_t count);
  void ReadExact(BYTE* buffer, std::size_t count);
  // Waits until at least one character has been taken by the receiver and
  // returns the moment the receiver was called for it.
  double AwaitAnnouncement();

 private:
  // The method receiver, on the dispatch thread.
  void OnTrigger(platform::UINT message);
  // Takes what the receiver was announced; mutex_ held.
  void TakeAnnounced(double now);

  std::unique_ptr<device::TSioWin32Dispatcher> dispatcher_;
  std::mutex mutex_;  // guards everything below; taken before the dispatcher's locks
  std::condition_variable taken_;
  BYTE* target_ = nullptr;     // where ReadExact wants bytes, or null
  std::size_t wanted_ = 0;     // bytes ReadExact still waits for
  std::vector<BYTE> spill_;    // taken while no ReadExact waited
  double announcedAt_ = 0;     // NowS() at the last avail announcement
};

EnginePort::EnginePort() : dispatcher_(std::make_unique<device::TSioWin32Dispatcher>(nullptr)) {
  dispatcher_->OnThreadException = [](std::exception_ptr) { Fail("a worker thread failed"); };
  const auto opened = dispatcher_->OpenLine(bench::PeerComName, 115200, 0, 8, 1, kInQueue,
                                            outQueue, kDtrAndRts);
  if (opened != 0) Fail("OpenLine failed (" + std::to_string(opened) + ")");
  dispatcher_->SetAvailLength(1);
  const auto id = dispatcher_->AddMethodReceiver(
      [this](platform::UINT message, platform::WPARAM, platform::LPARAM) { OnTrigger(message); },
      false);
  if (id <= 0) Fail("AddMethodReceiver failed (" + std::to_string(id) + ")");
}

void EnginePort::OnTrigger(platform::UINT message) {
  if (message != dispatcher::MsgTriggerAvail) return;
  const double now = bench::NowS();
  // The main thread is woken after the lock is let go: woken under it, it
  // would run on this CPU at once only to sleep on the lock again.
  {
    std::lock_guard lock(mutex_);
    TakeAnnounced(now);
  }
  taken_.notify_all();
}

void EnginePort::TakeAnnounced(double now) {
  announcedAt_ = now;
  for (;;) {
    const std::int32_t untaken = dispatcher_->UnreadCount();
    if (untaken <= 0) break;
    if (wanted_ > 0) {
      const auto n = static_cast<std::int32_t>(std::min<std::size_t>(untaken, wanted_));
      if (dispatcher_->ReadBlock(target_, n) != n) Fail("ReadBlock took less than announced");
      target_ += n;
      wanted_ -= static_cast<std::size_t>(n);
    } else {
      const std::size_t old = spill_.size();
      spill_.resize(old + static_cast<std::size_t>(untaken));
      if (dispatcher_->ReadBlock(spill_.data() + old, untaken) != untaken) {
        Fail("ReadBlock took less than announced");
      }
    }
  }
}

void EnginePort::Write(const BYTE* data, std::size_t count) {
  const auto queued = dispatcher_->WriteBlock(data, static_cast<std::int32_t>(count));
  if (queued != 0) Fail("WriteBlock failed (" + std::to_string(queued) + ")");
}

void EnginePort::ReadExact(BYTE* buffer, std::size_t count) {
  std::unique_lock lock(mutex_);
  const std::size_t early = std::min(count, spill_.size());
  std::copy_n(spill_.begin(), early, buffer);
  spill_.erase(spill_.begin(), spill_.begin() + static_cast<std::ptrdiff_t>(early));
  target_ = buffer + early;
  wanted_ = count - early;
  // Every step of progress must come within the I/O limit: a mute far end
  // fails the run.
  while (wanted_ > 0) {
    const std::size_t before = wanted_;
    if (!taken_.wait_for(lock, std::chrono::milliseconds(bench::IoTimeoutMs),
                         [&] { return wanted_ < before; })) {
      Fail("no answer within 5 s (" + std::to_string(count - wanted_) + " of " +
           std::to_string(count) + " bytes)");
    }
  }
  target_ = nullptr;
}

double EnginePort::AwaitAnnouncement() {
  BYTE c = 0;
  ReadExact(&c, 1);
  std::lock_guard lock(mutex_);
  return announcedAt_;
}

// --- --arrival and --idle: a pseudo-terminal of our own -------------------------

struct Pty {
  int master = -1;
  int slave = -1;  // kept open, so the master never reads EIO
  std::string name;

  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) Fail("posix_openpt");
    name = ptsname(master);
    slave = open(name.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) Fail("open " + name);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(slave, TCSANOW, &t);
  }
  ~Pty() {
    close(slave);
    close(master);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double P99(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, v.size() * 99 / 100)];
}

void SendOne(int master, BYTE b) {
  if (write(master, &b, 1) != 1) Fail("write to the pty master");
}

void RunArrival(std::size_t count) {
  constexpr std::size_t kWarmup = 20;
  constexpr auto kGap = std::chrono::milliseconds(2);
  Pty engine;
  Pty plain;
  bench::PrepareClient(engine.name.c_str());
  EnginePort port;
  std::vector<double> receiver, woken, raw;
  for (std::size_t i = 0; i < count + kWarmup; ++i) {
    // Alternating, so that both see the same stretch of the machine's load.
    std::this_thread::sleep_for(kGap);
    const double t0 = bench::NowS();
    SendOne(engine.master, static_cast<BYTE>(i));
    const double announced = port.AwaitAnnouncement();
    const double t1 = bench::NowS();

    std::this_thread::sleep_for(kGap);
    BYTE c = 0;
    const double r0 = bench::NowS();
    SendOne(plain.master, static_cast<BYTE>(i));
    if (read(plain.slave, &c, 1) != 1) Fail("read from the plain pty");
    const double r1 = bench::NowS();
    if (i < kWarmup) continue;
    receiver.push_back((announced - t0) * 1e6);
    woken.push_back((t1 - t0) * 1e6);
    raw.push_back((r1 - r0) * 1e6);
  }
  std::printf(
      "RESULT client=engine mode=arrival n=%zu value=%.1f p99_us=%.1f woken_us=%.1f "
      "woken_p99_us=%.1f raw_us=%.1f raw_p99_us=%.1f\n",
      count, Median(receiver), P99(receiver), Median(woken), P99(woken), Median(raw), P99(raw));
}

void RunIdle(std::size_t seconds) {
  Pty pty;
  bench::PrepareClient(pty.name.c_str());
  EnginePort port;
  std::this_thread::sleep_for(std::chrono::seconds(1));  // start-up settles
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const double cpu0 = bench::CpuS();
  const double t0 = bench::NowS();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = bench::CpuS() - cpu0;
  const double wall = bench::NowS() - t0;
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  const long switches =
      (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);
  std::printf(
      "RESULT client=engine mode=idle n=%zu value=%.4f cpu_s=%.5f switches_per_s=%.1f\n",
      seconds, cpu / wall * 100.0, cpu, static_cast<double>(switches) / wall);
}

// Where a cold cycle's time goes: the open (OpenLine and the trigger set-up),
// the exchange over the open port and the close (CloseLine and the end of
// the workers), each as the median over COUNT cycles.
void RunColdParts(std::size_t count) {
  std::vector<double> open, exchange, close;
  for (std::size_t i = 0; i < count + 2; ++i) {
    const double t0 = bench::NowS();
    auto port = std::make_unique<EnginePort>();
    const double t1 = bench::NowS();
    bench::PeerModes<EnginePort>::Exchange(*port);
    const double t2 = bench::NowS();
    port.reset();
    const double t3 = bench::NowS();
    if (i < 2) continue;
    open.push_back((t1 - t0) * 1e6);
    exchange.push_back((t2 - t1) * 1e6);
    close.push_back((t3 - t2) * 1e6);
  }
  std::printf("RESULT client=engine mode=cold-parts n=%zu open_us=%.1f exchange_us=%.1f close_us=%.1f\n",
              count, Median(open), Median(exchange), Median(close));
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetMainThreadId(platform::GetCurrentThreadId());
  if (argc == 3 && (std::string_view(argv[1]) == "--arrival" ||
                    std::string_view(argv[1]) == "--idle")) {
    bench::SetClientName("engine");
    const long n = std::strtol(argv[2], nullptr, 10);
    if (n <= 0) Fail("COUNT/SECONDS must be a positive number");
    if (std::string_view(argv[1]) == "--arrival") {
      RunArrival(static_cast<std::size_t>(n));
    } else {
      RunIdle(static_cast<std::size_t>(n));
    }
    bench::FinishClient();
    return 0;
  }
  if (argc == 4 && std::string_view(argv[2]) == "cold-parts") {
    bench::SetClientName("engine");
    bench::PrepareClient(argv[1]);
    RunColdParts(static_cast<std::size_t>(std::max(1L, std::strtol(argv[3], nullptr, 10))));
    bench::FinishClient();
    return 0;
  }
  // A tx block is queued whole.
  if (argc == 4 && std::string_view(argv[2]) == "tx") {
    EnginePort::outQueue = std::max<platform::DWORD>(
        EnginePort::outQueue, static_cast<platform::DWORD>(std::strtoul(argv[3], nullptr, 10)));
  }
  return bench::PeerClientMain<EnginePort>("engine", argc, argv);
}
