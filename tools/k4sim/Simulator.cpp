#include "tools/k4sim/Simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "tools/k4sim/Pty.h"

namespace k4sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxReceivedLog = 1 << 20;
constexpr std::size_t kMaxSentLines = 100000;
// About four seconds of a 9600-baud line: more than any client that reads
// at all lets pile up, little enough that a pty with no one on it stays
// bounded.
constexpr std::size_t kMaxPendingOutput = 4096;

std::string ByteName(unsigned char c) {
  switch (c) {
    case '\n': return "LF";
    case '\r': return "CR";
    case '\0': return "NUL";
    default: return (c >= 0x20 && c < 0x7f) ? std::string(1, static_cast<char>(c)) : "-";
  }
}

}  // namespace

class Simulator::Engine {
 public:
  explicit Engine(Options options);
  ~Engine() { Stop(); }

  void Stop();
  const Pty& Port() const { return pty_; }

  std::string Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<std::string> SentLines() const {
    std::lock_guard lock(mutex_);
    return sentLines_;
  }
  CounterSet Counters() const;
  InstrumentState State() const {
    std::lock_guard lock(mutex_);
    return instrument_.State();
  }
  void SetSilent(bool silent);
  bool Silent() const {
    std::lock_guard lock(mutex_);
    return silent_;
  }

 private:
  void Run();
  void ReadInput();
  void HandleByte(char c, Clock::time_point now, std::vector<std::string>& executed);
  void LogByte(unsigned char c, Clock::time_point now);
  void SendDueAnswers(Clock::time_point now);
  void TickLines(Clock::time_point now);
  void FollowSchedule(Clock::time_point now);
  std::string MakeLineText();
  void Queue(const std::string& bytes);
  void Flush();
  int PollTimeoutMs(Clock::time_point now) const;
  bool Chance(double rate);

  const Options options_;
  const Clock::time_point start_;
  Pty pty_;
  UniqueFd wake_;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log_{nullptr, &std::fclose};
  std::atomic<bool> stopping_{false};

  // Guards instrument_, counters_, received_, sentLines_, silent_ and
  // silenceSet_.
  // Writer: the I/O thread (and SetSilent for the silence flags); readers:
  // any thread through the getters. Never held across poll or a callback.
  mutable std::mutex mutex_;
  Instrument instrument_;
  CounterSet counters_;
  std::string received_;
  std::vector<std::string> sentLines_;
  bool silent_ = false;
  bool silenceSet_ = false;  // SetSilent has overridden the schedule

  // I/O thread only.
  std::deque<std::pair<Clock::time_point, char>> answers_;
  std::string output_;
  Clock::time_point nextLine_;
  std::mt19937_64 faultRng_;
  bool inputBroken_ = false;

  std::thread thread_;  // last: starts once everything above exists
};

Simulator::Engine::Engine(Options options)
    : options_(std::move(options)),
      start_(Clock::now()),
      instrument_(options_.seed),
      nextLine_(start_ + options_.lineInterval),
      faultRng_(options_.seed ^ 0x6b34u) {
  wake_ = UniqueFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (wake_.Get() < 0) throw std::system_error(errno, std::generic_category(), "k4sim: eventfd");
  if (options_.comNumber > 0) pty_.Link(options_.dosdevices, options_.comNumber);
  if (!options_.logPath.empty()) {
    log_.reset(std::fopen(options_.logPath.c_str(), "a"));
    if (!log_) {
      throw std::system_error(errno, std::generic_category(),
                              "k4sim: cannot open log " + options_.logPath);
    }
  }
  thread_ = std::thread([this] { Run(); });
}

void Simulator::Engine::Stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_.Get(), &one, sizeof one);
    thread_.join();
  }
  pty_.Unlink();
  log_.reset();
}

CounterSet Simulator::Engine::Counters() const {
  std::lock_guard lock(mutex_);
  CounterSet counters = counters_;
  counters.commandLines = instrument_.CommandLines();
  counters.rejectedPairs = instrument_.RejectedPairs();
  counters.rejectedLines = instrument_.RejectedLines();
  return counters;
}

void Simulator::Engine::SetSilent(bool silent) {
  {
    std::lock_guard lock(mutex_);
    silent_ = silent;
    silenceSet_ = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wake_.Get(), &one, sizeof one);
}

void Simulator::Engine::Run() {
  while (!stopping_) {
    Clock::time_point now = Clock::now();
    FollowSchedule(now);
    SendDueAnswers(now);
    TickLines(now);
    Flush();

    // A hung-up master reports POLLHUP whatever is asked; leave it out then,
    // or poll would never sleep.
    pollfd fds[2] = {{wake_.Get(), POLLIN, 0},
                     {inputBroken_ ? -1 : pty_.MasterFd(), POLLIN, 0}};
    if (!output_.empty()) fds[1].events |= POLLOUT;
    const int ready = poll(fds, 2, PollTimeoutMs(Clock::now()));
    if (ready < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] const ssize_t n = read(wake_.Get(), &count, sizeof count);
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) ReadInput();
  }
}

int Simulator::Engine::PollTimeoutMs(Clock::time_point now) const {
  Clock::time_point due = nextLine_;
  if (!answers_.empty()) due = std::min(due, answers_.front().first);
  if (options_.silentAfter) {
    const Clock::time_point off = start_ + *options_.silentAfter;
    if (now < off) due = std::min(due, off);
    if (options_.silentFor && now < off + *options_.silentFor) {
      due = std::min(due, off + *options_.silentFor);
    }
  }
  if (due <= now) return 0;
  // Round up, so that a wake-up never comes a fraction of a millisecond
  // early and spins once more.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
  return static_cast<int>(std::min<std::int64_t>(wait.count(), 60000));
}

void Simulator::Engine::ReadInput() {
  std::vector<std::string> executed;
  char buffer[256];
  for (;;) {
    const ssize_t n = read(pty_.MasterFd(), buffer, sizeof buffer);
    if (n > 0) {
      const Clock::time_point now = Clock::now();
      for (ssize_t i = 0; i < n; ++i) HandleByte(buffer[i], now, executed);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // EIO cannot happen while our own slave descriptor is open; if it does
    // anyway, stop listening rather than spin on a hung-up master.
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) inputBroken_ = true;
    break;
  }
  if (log_) std::fflush(log_.get());
  if (options_.onCommandLine) {
    for (const std::string& line : executed) options_.onCommandLine(line);
  }
}

void Simulator::Engine::HandleByte(char c, Clock::time_point now,
                                   std::vector<std::string>& executed) {
  LogByte(static_cast<unsigned char>(c), now);
  std::lock_guard lock(mutex_);
  ++counters_.received;
  if (received_.size() < kMaxReceivedLog) received_ += c;
  if (silent_) {
    ++counters_.deafBytes;
    return;
  }
  if (c == '!' && now < start_ + options_.probeAfter) {
    ++counters_.probesIgnored;
    return;
  }
  const std::string line = instrument_.CommandBuffer();
  const std::uint64_t before = instrument_.CommandLines();
  if (instrument_.Receive(c) == InputKind::LineEnd && instrument_.CommandLines() != before) {
    executed.push_back(line);
  }
  answers_.emplace_back(now + options_.answerDelay, c);
}

void Simulator::Engine::LogByte(unsigned char c, Clock::time_point now) {
  if (!log_) return;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::fprintf(log_.get(), "%10.3f %02X %s\n", seconds, c, ByteName(c).c_str());
}

void Simulator::Engine::SendDueAnswers(Clock::time_point now) {
  while (!answers_.empty() && answers_.front().first <= now) {
    const char c = answers_.front().second;
    answers_.pop_front();
    std::unique_lock lock(mutex_);
    if (silent_) continue;
    ++counters_.answers;
    if (c == '!') ++counters_.probes;
    std::string bytes(1, c);
    // The echoed LF closes the line in progress; a fresh reading with the
    // settings just made follows it at once, so nothing else can come
    // between that LF and a whole reading.
    if (c == '\n' && instrument_.State().output == '1') {
      bytes += MakeLineText();
      nextLine_ = now + options_.lineInterval;
    }
    lock.unlock();
    Queue(bytes);
  }
}

void Simulator::Engine::TickLines(Clock::time_point now) {
  if (now < nextLine_) return;
  nextLine_ += options_.lineInterval;
  if (nextLine_ <= now) nextLine_ = now + options_.lineInterval;
  std::unique_lock lock(mutex_);
  if (silent_ || instrument_.State().output != '1') return;
  std::string bytes;
  if (Chance(options_.dropLfRate)) {
    ++counters_.linesWithoutLf;
  } else {
    bytes = "\n";
  }
  bytes += MakeLineText();
  lock.unlock();
  Queue(bytes);
}

// Called with mutex_ held.
std::string Simulator::Engine::MakeLineText() {
  std::string text = instrument_.NextReadingText();
  ++counters_.lines;
  if (Chance(options_.cutLineRate)) {
    text.resize(std::uniform_int_distribution<std::size_t>(1, 6)(faultRng_));
    ++counters_.cutLines;
  }
  if (sentLines_.size() < kMaxSentLines) sentLines_.push_back(text);
  if (Chance(options_.garbageRate)) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string burst(std::uniform_int_distribution<std::size_t>(1, 8)(faultRng_), '?');
    for (char& g : burst) {
      do {
        g = static_cast<char>(byte(faultRng_));
      } while (g == '\n' || g == '!');
    }
    const std::size_t at = std::uniform_int_distribution<std::size_t>(0, text.size())(faultRng_);
    text.insert(at, burst);
    ++counters_.garbageBursts;
  }
  return text;
}

bool Simulator::Engine::Chance(double rate) {
  if (rate <= 0.0) return false;
  return std::uniform_real_distribution<double>(0.0, 1.0)(faultRng_) < rate;
}

void Simulator::Engine::FollowSchedule(Clock::time_point now) {
  if (!options_.silentAfter) return;
  const Clock::time_point off = start_ + *options_.silentAfter;
  const bool back = options_.silentFor && now >= off + *options_.silentFor;
  std::lock_guard lock(mutex_);
  if (!silenceSet_) silent_ = now >= off && !back;
}

void Simulator::Engine::Queue(const std::string& bytes) {
  if (output_.size() + bytes.size() > kMaxPendingOutput) {
    std::lock_guard lock(mutex_);
    counters_.droppedBytes += bytes.size();
    return;
  }
  output_ += bytes;
}

void Simulator::Engine::Flush() {
  while (!output_.empty()) {
    const ssize_t n = write(pty_.MasterFd(), output_.data(), output_.size());
    if (n > 0) {
      output_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      // Cannot happen while our own slave descriptor is open; dropping the
      // output keeps a broken master from making poll spin on POLLOUT.
      std::lock_guard lock(mutex_);
      counters_.droppedBytes += output_.size();
      output_.clear();
    }
    break;  // EAGAIN: no one is reading the slave; poll says when to retry
  }
}

Simulator::Simulator(Options options) : engine_(std::make_unique<Engine>(std::move(options))) {
  slavePath_ = engine_->Port().SlavePath();
  linkPath_ = engine_->Port().LinkPath();
}

Simulator::~Simulator() = default;

std::string Simulator::Received() const { return engine_->Received(); }
std::vector<std::string> Simulator::SentLines() const { return engine_->SentLines(); }
CounterSet Simulator::Counters() const { return engine_->Counters(); }
InstrumentState Simulator::State() const { return engine_->State(); }
void Simulator::SetSilent(bool silent) { engine_->SetSilent(silent); }
bool Simulator::Silent() const { return engine_->Silent(); }
void Simulator::Stop() { engine_->Stop(); }

}  // namespace k4sim
