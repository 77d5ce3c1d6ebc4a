// The tty back end: one Linux serial device through termios.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/com_names.h"
#include "platform/error_text.h"
#include "platform/serial.h"
#include "platform/serial_backend.h"
#include "platform/serial_parmrk.h"
#include "platform/serial_termios2.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_RINGTE;
constexpr DWORD kShadowModemStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
// The most one read of a tty returns: its line discipline holds 4096
// bytes and hands out one less.
constexpr std::size_t kLineBufferRead = 4095;

// The per-process table of claimed devices. flock and TIOCEXCL keep other
// processes out, but neither refuses a second open by this process (flock
// locks belong to the open file description, and TIOCEXCL lets root in).
// A character device is known by its device number, so two paths to it (a
// comN link and the node) are the same port.
class Claims {
 public:
  using Key = std::pair<dev_t, ino_t>;
  static Key KeyOf(const struct stat& info) {
    return S_ISCHR(info.st_mode) ? Key{info.st_rdev, 0} : Key{info.st_dev, info.st_ino};
  }
  static bool Claim(Key key) {
    std::lock_guard lock(Table().mutex);
    return Table().held.insert(key).second;
  }
  static void Release(Key key) {
    std::lock_guard lock(Table().mutex);
    Table().held.erase(key);
  }

 private:
  struct State {
    std::mutex mutex;  // guards held
    std::set<Key> held;
  };
  static State& Table() {
    static State state;
    return state;
  }
};

// The signal that interrupts a thread blocked in TIOCMIWAIT, which nothing
// else can wake. The handler does nothing; its only effect is EINTR.
int WakeSignal() {
  static const int signal = [] {
    const int number = SIGRTMIN + 7;
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the ioctl must return
    sigaction(number, &action, nullptr);
    return number;
  }();
  return signal;
}

DWORD ErrorOf(int err) {
  // EIO from an open device means its hardware went away.
  return err == EIO ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(err);
}

bool IsPseudoTerminal(const struct stat& info) {
  // Slaves of /dev/ptmx have majors 136..143.
  return S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136 && major(info.st_rdev) <= 143;
}

// The tty back end has no thread for input: the threads that wait for the
// port's operations poll the descriptor and call Pull (serial_port.h). Two
// threads of its own exist only on demand: a write helper, once a write had
// to wait for room (it alone watches for room and keeps pending writes
// going), and a modem-line watcher, once the event mask asks for modem
// events on a device that has modem lines (a tty gives no descriptor event
// for them).
class PosixSerialBackend final : public SerialBackend {
 public:
  static std::unique_ptr<SerialBackend> Open(const std::filesystem::path& path, DWORD& error);
  ~PosixSerialBackend() override;

  void Start(std::weak_ptr<SerialEvents> events) override;
  int Descriptor() const override { return fd_; }
  void Pull(bool hangup) override;
  void PullUnlessPulling() override;
  void Stop() override;
  DWORD ApplyState(const DCB& dcb) override;
  DWORD ApplyEventMask(DWORD mask) override;
  DWORD Transmit(std::span<const BYTE> data, std::size_t& accepted) override;
  void WatchWritable(bool on) override;
  DWORD Purge(DWORD flags) override;
  DWORD Escape(DWORD function) override;
  DWORD ModemStatus(DWORD& status) override;
  DWORD OutputQueued() override;
  void DeadlineChanged() override {}

 private:
  DWORD Acquire(const std::filesystem::path& path);
  DWORD MakeRaw();
  // The input flags that make the line discipline mark line errors and
  // breaks in the data (serial_parmrk.h), or none where no line can err.
  tcflag_t MarkFlags() const;
  DWORD CheckReadBack(const TtyLine& wanted);
  DWORD SetLine(int bit, bool on);
  void Release();
  void Wake();

  // Input, under pullMutex_.
  void PullLocked(bool hangup);
  bool Drain();
  void DropPurged(std::size_t& filled);
  void Deliver(std::span<const BYTE> raw);
  DWORD ClassifyErrors(const DecodedInput& input);

  // Write helper.
  void RunWriter();
  // Modem-line thread.
  void RunModemWatch();
  void StopModemWatch();

  int fd_ = -1;    // closed by Stop under pullMutex_, after the helpers ended
  int wake_ = -1;  // eventfd: wakes the write helper (Stop, WatchWritable)
  std::optional<Claims::Key> claim_;
  bool pty_ = false;
  bool modemLines_ = false;  // TIOCMGET works
  bool counters_ = false;    // TIOCGICOUNT works
  std::weak_ptr<SerialEvents> events_;  // set by Start, before any other call

  std::atomic<bool> stopping_{false};
  std::atomic<bool> watchWritable_{false};
  std::atomic<bool> purgeInput_{false};
  std::atomic<bool> parityOn_{false};
  std::atomic<bool> modemWaitWorks_{true};

  // Guards the reading of input, so that two pulling threads cannot put
  // it out of order, and the descriptor's end (`open_` false after Stop).
  std::mutex pullMutex_;
  bool open_ = true;                 // guarded by pullMutex_
  std::vector<BYTE> raw_;            // guarded by pullMutex_; read buffer, sized once
  ParmrkDecoder decoder_;            // guarded by pullMutex_
  DecodedInput decoded_;             // guarded by pullMutex_
  serial_icounter_struct counts_{};  // guarded by pullMutex_

  // Started under the port's lock (WatchWritable, ApplyEventMask), joined
  // by Stop only.
  std::thread writer_;
  std::thread modemThread_;
  std::mutex modemMutex_;  // guards modemStop_ and modemDone_
  std::condition_variable modemDoneChanged_;
  bool modemStop_ = false;
  bool modemDone_ = false;
};

std::unique_ptr<SerialBackend> PosixSerialBackend::Open(const std::filesystem::path& path,
                                                        DWORD& error) {
  // Acquire and configure first; the caller owns the device only when all of
  // it worked. On failure the destructor releases what was acquired.
  std::unique_ptr<PosixSerialBackend> backend(new PosixSerialBackend());
  error = backend->Acquire(path);
  if (error == 0) error = backend->MakeRaw();
  if (error == 0) error = backend->ApplyState(DefaultControlBlock());
  if (error != 0) return nullptr;
  return backend;
}

DWORD PosixSerialBackend::Acquire(const std::filesystem::path& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // A directory is no more a port than a regular file is (below).
  if (fd_ < 0) return errno == EISDIR ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(errno);
  if (!isatty(fd_)) return ERROR_FILE_NOT_FOUND;
  struct stat info {};
  if (fstat(fd_, &info) != 0) return Win32ErrorFromErrno(errno);
  if (!Claims::Claim(Claims::KeyOf(info))) return ERROR_SHARING_VIOLATION;
  claim_ = Claims::KeyOf(info);
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return Win32ErrorFromErrno(errno);
  // TIOCEXCL refuses later opens by other non-root processes; where the
  // driver does not have it, the lock above still keeps polite ones out.
  ioctl(fd_, TIOCEXCL);
  pty_ = IsPseudoTerminal(info);
  int lines = 0;
  modemLines_ = ioctl(fd_, TIOCMGET, &lines) == 0;
  counters_ = ioctl(fd_, TIOCGICOUNT, &counts_) == 0;
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) return Win32ErrorFromErrno(errno);
  return 0;
}

DWORD PosixSerialBackend::MakeRaw() {
  TtyLine line;
  if (int err = ReadTtyLine(fd_, line)) return ErrorOf(err);
  // Raw bytes in and out; the receiver marks errors (PARMRK) and keeps the
  // eighth bit (no ISTRIP); reads never wait in the driver (VMIN=VTIME=0):
  // a pull takes what has arrived and goes.
  line.iflag = MarkFlags();
  line.oflag = 0;
  line.lflag = 0;
  line.cflag |= CLOCAL | CREAD;
  line.cc[VMIN] = 0;
  line.cc[VTIME] = 0;
  if (int err = WriteTtyLine(fd_, line)) return ErrorOf(err);
  return 0;
}

tcflag_t PosixSerialBackend::MarkFlags() const {
  // A pseudo-terminal has no line: its input never carries a parity or
  // framing error or a break, so there is nothing to mark. Marking would
  // still cost: the line discipline then takes every character apart
  // instead of copying a block, and a stream from a pseudo-terminal
  // arrived at less than half the rate.
  return pty_ ? 0 : INPCK | PARMRK;
}

PosixSerialBackend::~PosixSerialBackend() {
  Stop();
  Release();
}

void PosixSerialBackend::Release() {
  std::lock_guard lock(pullMutex_);
  open_ = false;
  if (fd_ >= 0) {
    ioctl(fd_, TIOCNXCL);
    close(fd_);  // also drops the flock
    fd_ = -1;
  }
  if (claim_) Claims::Release(*claim_);
  claim_.reset();
  if (wake_ >= 0) close(wake_);
  wake_ = -1;
}

void PosixSerialBackend::Start(std::weak_ptr<SerialEvents> events) {
  events_ = std::move(events);
  // What the driver holds at once: a read of the tty gives at most 4095
  // bytes, so a batch is several reads handed on together.
  std::lock_guard lock(pullMutex_);
  raw_.resize(64 * 1024);
}

void PosixSerialBackend::Stop() {
  if (stopping_.exchange(true)) return;
  if (writer_.joinable()) {
    Wake();
    // The helper's own report may end in the port's close.
    if (writer_.get_id() == std::this_thread::get_id()) {
      writer_.detach();
    } else {
      writer_.join();
    }
  }
  StopModemWatch();
  Release();
}

void PosixSerialBackend::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(wake_, &one, sizeof one);
}

DWORD PosixSerialBackend::ApplyState(const DCB& dcb) {
  const DWORD dtrControl = dcb.Flags & DCB_fDtrControlMask;
  const DWORD rtsControl = dcb.Flags & DCB_fRtsControlMask;
  // Linux has no DTR/DSR handshake, DSR sensitivity or RTS toggling.
  if (dtrControl == DCB_fDtrControlHandshake || (dcb.Flags & DCB_fOutxDsrFlow) ||
      (dcb.Flags & DCB_fDsrSensitivity) || rtsControl == DCB_fRtsControlToggle) {
    return ERROR_NOT_SUPPORTED;
  }
  TtyLine old;
  if (int err = ReadTtyLine(fd_, old)) return ErrorOf(err);

  TtyLine wanted = old;
  wanted.baud = dcb.BaudRate;
  wanted.cflag &= ~(kFraming | CRTSCTS);
  wanted.cflag |= CLOCAL | CREAD;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  wanted.cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case ODDPARITY: wanted.cflag |= PARENB | PARODD; break;
    case EVENPARITY: wanted.cflag |= PARENB; break;
    case MARKPARITY: wanted.cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: wanted.cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // With five data bits the UART's "two stop bits" are one and a half.
  if (dcb.StopBits != ONESTOPBIT) wanted.cflag |= CSTOPB;
  if ((dcb.Flags & DCB_fOutxCtsFlow) || rtsControl == DCB_fRtsControlHandshake) {
    wanted.cflag |= CRTSCTS;
  }
  wanted.iflag = MarkFlags() | ((dcb.Flags & DCB_fOutX) ? IXON : 0) | ((dcb.Flags & DCB_fInX) ? IXOFF : 0);
  wanted.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
  wanted.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);

  DWORD error = 0;
  if (int err = WriteTtyLine(fd_, wanted); err != 0) {
    error = err == EINVAL ? ERROR_INVALID_PARAMETER : ErrorOf(err);
  } else {
    error = CheckReadBack(wanted);
  }
  if (error != 0) {
    WriteTtyLine(fd_, old);
    return error;
  }
  parityOn_ = dcb.Parity != NOPARITY;
  if (dtrControl != DCB_fDtrControlHandshake) {
    if (DWORD e = SetLine(TIOCM_DTR, dtrControl == DCB_fDtrControlEnable)) return e;
  }
  if (rtsControl != DCB_fRtsControlHandshake) {
    if (DWORD e = SetLine(TIOCM_RTS, rtsControl == DCB_fRtsControlEnable)) return e;
  }
  return 0;
}

DWORD PosixSerialBackend::CheckReadBack(const TtyLine& wanted) {
  TtyLine actual;
  if (int err = ReadTtyLine(fd_, actual)) return ErrorOf(err);
  // A UART makes its rate from a divided clock: within 3 % the line works,
  // beyond that the driver could not make the rate asked for.
  const DWORD baud = wanted.baud;
  const DWORD actualBaud = actual.baud;
  const std::uint64_t difference = actualBaud > baud ? actualBaud - baud : baud - actualBaud;
  if (difference * 100 > std::uint64_t{baud} * 3) return ERROR_INVALID_PARAMETER;
  const tcflag_t inputFlow = IXON | IXOFF;
  if ((actual.iflag & inputFlow) != (wanted.iflag & inputFlow)) {
    return ERROR_INVALID_PARAMETER;
  }
  // A pseudo-terminal has no line: it always reports 8 data bits, no parity
  // and no hardware flow, whatever was set. The port keeps what was set.
  if (pty_) return 0;
  const tcflag_t line = kFraming | CRTSCTS;
  if ((actual.cflag & line) != (wanted.cflag & line)) return ERROR_INVALID_PARAMETER;
  return 0;
}

DWORD PosixSerialBackend::SetLine(int bit, bool on) {
  if (!modemLines_) return 0;  // no modem lines: the level is a shadow only
  if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) return ErrorOf(errno);
  return 0;
}

DWORD PosixSerialBackend::ApplyEventMask(DWORD mask) {
  // Started once asked for and kept until the close: it only reports, and
  // the port drops events its mask no longer holds.
  if ((mask & kModemEvents) != 0 && modemLines_ && modemWaitWorks_ && !modemThread_.joinable() &&
      !stopping_) {
    WakeSignal();
    modemThread_ = std::thread([this] { RunModemWatch(); });
  }
  return 0;
}

DWORD PosixSerialBackend::Transmit(std::span<const BYTE> data, std::size_t& accepted) {
  accepted = 0;
  const ssize_t written = write(fd_, data.data(), data.size());
  if (written >= 0) {
    accepted = static_cast<std::size_t>(written);
    return 0;
  }
  if (errno == EAGAIN || errno == EINTR) return 0;
  return ErrorOf(errno);
}

void PosixSerialBackend::WatchWritable(bool on) {
  if (watchWritable_.exchange(on) == on || !on || stopping_) return;
  if (writer_.joinable()) {
    Wake();
  } else {
    writer_ = std::thread([this] { RunWriter(); });
  }
}

DWORD PosixSerialBackend::Purge(DWORD flags) {
  if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
    if (tcflush(fd_, TCOFLUSH) != 0) return ErrorOf(errno);
  }
  if (flags & PURGE_RXCLEAR) {
    if (tcflush(fd_, TCIFLUSH) != 0) return ErrorOf(errno);
    purgeInput_ = true;
  }
  return 0;
}

DWORD PosixSerialBackend::Escape(DWORD function) {
  switch (function) {
    case SETRTS: return SetLine(TIOCM_RTS, true);
    case CLRRTS: return SetLine(TIOCM_RTS, false);
    case SETDTR: return SetLine(TIOCM_DTR, true);
    case CLRDTR: return SetLine(TIOCM_DTR, false);
    case SETXOFF: return tcflow(fd_, TCOOFF) == 0 ? 0 : ErrorOf(errno);
    case SETXON: return tcflow(fd_, TCOON) == 0 ? 0 : ErrorOf(errno);
    case SETBREAK:
    case CLRBREAK:
      // The pseudo-terminal driver accepts break requests and does nothing.
      if (pty_) return ERROR_NOT_SUPPORTED;
      if (ioctl(fd_, function == SETBREAK ? TIOCSBRK : TIOCCBRK) != 0) return ErrorOf(errno);
      return 0;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

DWORD PosixSerialBackend::ModemStatus(DWORD& status) {
  if (!modemLines_) {
    status = kShadowModemStatus;
    return 0;
  }
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) return ErrorOf(errno);
  status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
           ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CD) ? MS_RLSD_ON : 0);
  return 0;
}

DWORD PosixSerialBackend::OutputQueued() {
  int queued = 0;
  if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<DWORD>(queued);
}

// --- Input ----------------------------------------------------------------

void PosixSerialBackend::Pull(bool hangup) {
  // A second puller waits for the first rather than returning at once: a
  // poll that saw input and came back without it would poll again at once,
  // and on a shared CPU spin away the time the first puller needs.
  std::lock_guard lock(pullMutex_);
  PullLocked(hangup);
}

void PosixSerialBackend::PullUnlessPulling() {
  // The dispatch thread's status and read calls and the event thread's
  // next wait each pull; on one CPU, queuing behind each other's reads
  // cost a round of futex wake-ups per character.
  std::unique_lock lock(pullMutex_, std::try_to_lock);
  if (lock.owns_lock()) PullLocked(false);
}

void PosixSerialBackend::PullLocked(bool hangup) {
  if (!open_) return;
  // Data that came before a hang-up is delivered before the hang-up.
  const bool alive = Drain();
  if (alive && !hangup) return;
  if (auto events = events_.lock()) events->Vanished();
}

bool PosixSerialBackend::Drain() {
  // What the driver holds is read to the end (or until the buffer is full)
  // and handed on as one block: a hand-over costs the port's lock and the
  // completion of waits each time. The read that finds nothing ends it.
  // At most one buffer a pull, and no more than the port has room for: the
  // rest waits in the driver, and the thread that pulled goes on to
  // complete what this input ends. (0xFF comes doubled, so the decoded
  // input is never longer than what was read.)
  auto sink = events_.lock();
  if (!sink) return true;
  const std::size_t limit = std::min(raw_.size(), sink->InputRoom());
  std::size_t filled = 0;
  bool alive = true;
  while (filled < limit) {
    DropPurged(filled);
    const ssize_t got = read(fd_, raw_.data() + filled, limit - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) break;
    if (got < 0) {
      alive = false;  // EIO: the device is gone
      break;
    }
    if (got == 0) break;  // VMIN=VTIME=0 reads 0 when nothing is left
    filled += static_cast<std::size_t>(got);
    // A read that did not fill the line discipline's buffer emptied it:
    // asking again would read 0 and cost a system call per wake-up.
    if (static_cast<std::size_t>(got) < kLineBufferRead) break;
  }
  DropPurged(filled);
  Deliver(std::span(raw_.data(), filled));
  return alive;
}

void PosixSerialBackend::DropPurged(std::size_t& filled) {
  // Input read before a purge was seen is purged with the rest; what is
  // read after it came after the driver's queue was emptied.
  if (!purgeInput_.exchange(false)) return;
  decoder_.Reset();
  filled = 0;
}

void PosixSerialBackend::Deliver(std::span<const BYTE> raw) {
  if (raw.empty()) return;
  auto events = events_.lock();
  if (!events) return;
  // The common case, nothing marked and no 0xFF, goes to the port as read;
  // so does everything from a device that marks nothing.
  if (MarkFlags() == 0 || (decoder_.Plain() && std::memchr(raw.data(), 0xFF, raw.size()) == nullptr)) {
    events->DeliverInput(raw, {}, counters_ ? ClassifyErrors(DecodedInput{}) : 0);
    return;
  }
  decoded_.Clear();
  decoder_.Feed(raw, decoded_);
  if (decoded_.bytes.empty() && decoded_.breaks == 0) return;
  events->DeliverInput(decoded_.bytes, decoded_.marked, ClassifyErrors(decoded_));
}

DWORD PosixSerialBackend::ClassifyErrors(const DecodedInput& input) {
  DWORD errors = 0;
  serial_icounter_struct now{};
  if (counters_ && ioctl(fd_, TIOCGICOUNT, &now) == 0) {
    // The driver's counters tell a framing from a parity error, a break
    // from a NUL with a parity error, and report overruns, which leave no
    // mark in the data.
    if (now.frame != counts_.frame) errors |= CE_FRAME;
    if (now.parity != counts_.parity) errors |= CE_RXPARITY;
    if (now.brk != counts_.brk) errors |= CE_BREAK;
    if (now.overrun != counts_.overrun || now.buf_overrun != counts_.buf_overrun) {
      errors |= CE_OVERRUN;
    }
    counts_ = now;
  }
  // Without counters a marked character is a parity error when parity is
  // checked and can only be a framing error when it is not.
  if (!input.marked.empty() && (errors & (CE_FRAME | CE_RXPARITY)) == 0) {
    errors |= parityOn_ ? CE_RXPARITY : CE_FRAME;
  }
  if (input.breaks != 0) errors |= CE_BREAK;
  return errors;
}

void PosixSerialBackend::StopModemWatch() {
  if (!modemThread_.joinable()) return;
  std::unique_lock lock(modemMutex_);
  modemStop_ = true;
  // A signal sent just before the thread enters TIOCMIWAIT is lost, so it
  // is repeated until the thread has left.
  while (!modemDone_) {
    pthread_kill(modemThread_.native_handle(), WakeSignal());
    modemDoneChanged_.wait_for(lock, std::chrono::milliseconds(1));
  }
  lock.unlock();
  modemThread_.join();
  lock.lock();
  modemStop_ = false;
  modemDone_ = false;
}

// --- Write helper ---------------------------------------------------------

void PosixSerialBackend::RunWriter() {
  // Sleeps on the wake descriptor alone while no write waits for room (a
  // hung-up descriptor would otherwise end every poll at once).
  while (!stopping_) {
    const bool watching = watchWritable_;
    pollfd fds[2] = {{watching ? fd_ : -1, POLLOUT, 0}, {wake_, POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] ssize_t got = read(wake_, &count, sizeof count);
    }
    if (stopping_) return;
    if (fds[0].revents & (POLLOUT | POLLHUP | POLLERR)) {
      if (auto events = events_.lock()) events->Writable();
    }
  }
}

DWORD ModemEventsBetween(int before, int after, const serial_icounter_struct* oldCounts,
                         const serial_icounter_struct* newCounts) {
  DWORD events = 0;
  const int changed = before ^ after;
  if ((changed & TIOCM_CTS) || (newCounts && newCounts->cts != oldCounts->cts)) events |= EV_CTS;
  if ((changed & TIOCM_DSR) || (newCounts && newCounts->dsr != oldCounts->dsr)) events |= EV_DSR;
  if ((changed & TIOCM_CD) || (newCounts && newCounts->dcd != oldCounts->dcd)) events |= EV_RLSD;
  // The driver counts ring pulses at their trailing edge.
  const bool pulse = newCounts && newCounts->rng != oldCounts->rng;
  if (pulse || ((changed & TIOCM_RNG) && (after & TIOCM_RNG))) events |= EV_RING;
  if (pulse || ((changed & TIOCM_RNG) && !(after & TIOCM_RNG))) events |= EV_RINGTE;
  return events;
}

void PosixSerialBackend::RunModemWatch() {
  int lines = 0;
  ioctl(fd_, TIOCMGET, &lines);
  serial_icounter_struct counts{};
  const bool counted = counters_ && ioctl(fd_, TIOCGICOUNT, &counts) == 0;
  for (;;) {
    {
      std::lock_guard lock(modemMutex_);
      if (modemStop_) break;
    }
    if (ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0) {
      if (errno == EINTR) continue;
      if (errno == EIO) {
        if (auto events = events_.lock()) events->Vanished();
      } else {
        modemWaitWorks_ = false;  // the driver cannot report line changes
      }
      break;
    }
    int now = 0;
    serial_icounter_struct newCounts{};
    if (ioctl(fd_, TIOCMGET, &now) != 0) continue;
    const bool haveCounts = counted && ioctl(fd_, TIOCGICOUNT, &newCounts) == 0;
    const DWORD events =
        ModemEventsBetween(lines, now, &counts, haveCounts ? &newCounts : nullptr);
    lines = now;
    if (haveCounts) counts = newCounts;
    if (auto sink = events_.lock(); sink && events != 0) sink->DeliverEvents(events);
  }
  std::lock_guard lock(modemMutex_);
  modemDone_ = true;
  modemDoneChanged_.notify_all();
}

}  // namespace

std::unique_ptr<SerialBackend> OpenTtySerial(int comNumber, DWORD& error) {
  std::optional<std::filesystem::path> device = ResolveComDevice(comNumber);
  if (!device) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  return PosixSerialBackend::Open(*device, error);
}

}  // namespace platform
