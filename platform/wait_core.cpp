#include "platform/wait_core.h"

#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

#include "platform/last_error.h"

namespace platform::detail {

namespace {

// The wake-ups this thread asked for while it held the sync lock, handed
// out when it lets go of it. Each names the thread's parker and how it
// sleeps in the round the notification was for.
struct PendingKick {
  std::shared_ptr<Parker> parker;
  bool descriptor;
};

// Set while this thread's wait state below is destroyed, when the thread
// ends or exit() runs on it. Code that runs on the thread after that (the
// static destructors, after exit()) must not touch the state: it then
// kicks under the lock and sleeps on a parker of the wait's own. A plain
// bool, so it stays readable until the thread is gone.
thread_local bool threadEnding = false;

struct ThreadWaitState {
  std::vector<PendingKick> pendingKicks;
  // This thread's parker, made at its first wait (Parker::Current).
  std::shared_ptr<Parker> parker;
  ThreadWaitState() = default;
  ThreadWaitState(const ThreadWaitState&) = delete;
  ThreadWaitState& operator=(const ThreadWaitState&) = delete;
  ~ThreadWaitState() { threadEnding = true; }
};
thread_local ThreadWaitState threadState;

}  // namespace

SyncLock& SyncMutex() {
  static SyncLock lock;
  return lock;
}

void SyncLock::unlock() {
  mutex_.unlock();
  if (threadEnding) return;
  // A kick meant for a round the sleeper has left already only makes its
  // next sleep look once more: every round re-checks under the lock.
  std::vector<PendingKick>& kicks = threadState.pendingKicks;
  for (PendingKick& kick : kicks) kick.parker->Kick(kick.descriptor);
  kicks.clear();
}

Parker::~Parker() {
  if (descriptor_ >= 0) close(descriptor_);
}

std::shared_ptr<Parker> Parker::Current() {
  if (threadEnding) return std::make_shared<Parker>();
  if (!threadState.parker) threadState.parker = std::make_shared<Parker>();
  return threadState.parker;
}

void Parker::ReleaseCurrent() {
  if (!threadEnding) threadState.parker.reset();
}

namespace {

constexpr std::uint32_t kIdle = 0;
constexpr std::uint32_t kKicked = 1;
constexpr std::uint32_t kSleeping = 2;

// A thread's sleep is one futex word: a kick costs a system call only when
// the thread sleeps, and a woken thread takes no lock to leave.
void FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected,
               const std::optional<std::chrono::steady_clock::time_point>& deadline) {
  timespec at{};
  if (deadline) {
    const auto since = deadline->time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    at.tv_sec = static_cast<time_t>(seconds.count());
    at.tv_nsec = static_cast<long>(std::chrono::nanoseconds(since - seconds).count());
  }
  // The steady clock is CLOCK_MONOTONIC, the clock of FUTEX_WAIT_BITSET.
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_BITSET_PRIVATE, expected,
          deadline ? &at : nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
}

void FutexWakeOne(std::atomic<std::uint32_t>& word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

void Parker::Kick(bool descriptor) {
  if (descriptor) {
    // The sleeper made its descriptor before the round whose notification
    // this is, and published it with the sync lock.
    if (descriptor_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(descriptor_, &one, sizeof one);
    return;
  }
  if (state_.exchange(kKicked) == kSleeping) FutexWakeOne(state_);
}

bool Parker::Sleep(const std::optional<std::chrono::steady_clock::time_point>& deadline) {
  for (;;) {
    std::uint32_t seen = kIdle;
    if (!state_.compare_exchange_strong(seen, kSleeping)) {
      // A kick came first (seen is kKicked): take it.
      state_.store(kIdle);
      return true;
    }
    FutexWait(state_, kSleeping, deadline);
    seen = kSleeping;
    if (state_.compare_exchange_strong(seen, kIdle)) {
      // Not kicked: a time-out, or a wake-up of the futex's own.
      if (deadline && std::chrono::steady_clock::now() >= *deadline) return false;
    }
  }
}

int Parker::Descriptor() {
  std::call_once(made_, [this] { descriptor_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); });
  return descriptor_;
}

void Parker::Drain() {
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t got = read(descriptor_, &count, sizeof count);
}

void Waiter::NotifyLocked() {
  if (kicked) return;
  if (threadEnding) {
    // This thread's wait state is gone: the kick goes out under the lock;
    // the waiter, still registered, holds its parker.
    kicked = true;
    parker->Kick(polling);
    return;
  }
  // A thread that changes what it waits for itself is awake, and looks
  // again before it sleeps.
  if (parker == threadState.parker) return;
  kicked = true;
  threadState.pendingKicks.push_back(PendingKick{parker, polling});
}

void Waitable::NotifyLocked() {
  for (Waiter* waiter : waiters_) waiter->NotifyLocked();
}

void Waitable::RemoveWaiterLocked(Waiter* waiter) {
  auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
  if (it != waiters_.end()) waiters_.erase(it);
}

Deadline::Deadline(DWORD milliseconds) {
  if (milliseconds != INFINITE)
    at_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

bool Deadline::Passed() const { return at_ && std::chrono::steady_clock::now() >= *at_; }

namespace {

// Registers a waiter with every watched object for the duration of a wait,
// and takes it off again however the wait ends.
class WaiterRegistration {
 public:
  WaiterRegistration(std::span<Waitable* const> watch, Waiter* waiter)
      : watch_(watch), waiter_(waiter) {
    for (Waitable* object : watch_) object->AddWaiterLocked(waiter_);
  }
  ~WaiterRegistration() {
    for (Waitable* object : watch_) object->RemoveWaiterLocked(waiter_);
  }
  WaiterRegistration(const WaiterRegistration&) = delete;
  WaiterRegistration& operator=(const WaiterRegistration&) = delete;

 private:
  std::span<Waitable* const> watch_;
  Waiter* waiter_;
};

// A wait watches at most MAXIMUM_WAIT_OBJECTS objects and a message queue.
constexpr std::size_t kMostDevices = MAXIMUM_WAIT_OBJECTS + 1;
using Drivers = std::array<std::shared_ptr<DeviceDriver>, kMostDevices>;

std::size_t CollectDriversLocked(std::span<Waitable* const> watch, Drivers& drivers) {
  std::size_t count = 0;
  for (Waitable* object : watch) {
    if (count == drivers.size()) break;
    std::shared_ptr<DeviceDriver> driver = object->DriverLocked();
    if (!driver) continue;
    if (std::find(drivers.begin(), drivers.begin() + count, driver) != drivers.begin() + count) {
      continue;
    }
    drivers[count++] = std::move(driver);
  }
  return count;
}

int PollTimeout(const std::optional<std::chrono::steady_clock::time_point>& due, bool fallback) {
  if (!due) return fallback ? 5 : -1;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now()).count();
  const int timeout = static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
  return fallback ? std::min(timeout, 5) : timeout;
}

// One round of a wait that drives devices: the sync lock is left, the
// devices' descriptors are polled with the thread's wake descriptor until
// one is ready, a watched object changes or something falls due, and the
// devices move what they have. Returns with the lock held again and the
// drivers let go before it is taken: a port closed meanwhile may have been
// held by this thread alone, and its end joins threads that take the lock.
void PollDevices(std::unique_lock<SyncLock>& lock, Waiter& waiter,
                 std::span<std::shared_ptr<DeviceDriver>> drivers, const Deadline& deadline) {
  // Without a wake descriptor the wait looks again every few milliseconds.
  const int wake = waiter.parker->Descriptor();
  waiter.polling = true;
  lock.unlock();

  std::array<pollfd, kMostDevices + 1> fds{};
  std::array<bool, kMostDevices> begun{};
  fds[0] = {wake, POLLIN, 0};
  std::optional<std::chrono::steady_clock::time_point> due;
  if (!deadline.Infinite()) due = deadline.At();
  for (std::size_t i = 0; i < drivers.size(); ++i) {
    DevicePoll poll;
    begun[i] = drivers[i]->BeginPoll(poll);
    const auto events = static_cast<short>((poll.input ? POLLIN : 0) | (poll.output ? POLLOUT : 0));
    fds[i + 1] = {begun[i] ? poll.descriptor : -1, events, 0};
    if (begun[i] && poll.due && (!due || *poll.due < *due)) due = poll.due;
  }
  const int ready = poll(fds.data(), drivers.size() + 1, PollTimeout(due, wake < 0));
  if (ready > 0 && (fds[0].revents & POLLIN)) waiter.parker->Drain();
  for (std::size_t i = 0; i < drivers.size(); ++i) {
    if (!begun[i]) continue;
    const short seen = ready > 0 ? fds[i + 1].revents : 0;
    drivers[i]->EndPoll(
        DeviceReady{(seen & POLLIN) != 0, (seen & POLLOUT) != 0, (seen & (POLLHUP | POLLERR)) != 0});
  }
  for (std::shared_ptr<DeviceDriver>& driver : drivers) driver.reset();
  lock.lock();
  waiter.polling = false;
}

}  // namespace

bool WaitLocked(std::unique_lock<SyncLock>& lock, std::span<Waitable* const> watch,
                const std::function<bool()>& ready, const Deadline& deadline) {
  if (ready()) return true;
  if (deadline.Passed()) return false;
  Waiter waiter;
  WaiterRegistration registration(watch, &waiter);
  Drivers drivers;
  std::optional<std::chrono::steady_clock::time_point> until;
  if (!deadline.Infinite()) until = deadline.At();
  for (;;) {
    // One notification per round: a change after the re-check below
    // notifies again.
    waiter.kicked = false;
    const std::size_t devices = CollectDriversLocked(watch, drivers);
    bool woke = true;
    if (devices != 0) {
      PollDevices(lock, waiter, std::span(drivers.data(), devices), deadline);
    } else {
      lock.unlock();
      woke = waiter.parker->Sleep(until);
      lock.lock();
    }
    if (ready()) return true;
    if (!woke || deadline.Passed()) return false;
  }
}

void Event::Set() {
  std::lock_guard lock(SyncMutex());
  SetLocked();
}

void Event::SetLocked() {
  state_ = true;
  NotifyLocked();
}

void Event::BindLocked(std::weak_ptr<DeviceDriver> driver) {
  boundTo_ = driver.lock().get();
  driver_ = std::move(driver);
  NotifyLocked();
}

void Event::UnbindLocked(const DeviceDriver* driver) {
  if (boundTo_ != driver) return;
  boundTo_ = nullptr;
  driver_.reset();
}

void Event::Reset() {
  std::lock_guard lock(SyncMutex());
  state_ = false;
}

std::optional<std::size_t> WaitForObjects(std::span<Waitable* const> objects, bool waitAll,
                                          Waitable* extra, const Deadline& deadline,
                                          const std::function<bool()>& extraReady) {
  std::optional<std::size_t> hit;
  auto ready = [&] {
    if (waitAll && !objects.empty()) {
      if (std::all_of(objects.begin(), objects.end(),
                      [](Waitable* object) { return object->IsSignalledLocked(); })) {
        for (Waitable* object : objects) object->ConsumeLocked();
        hit = 0;
        return true;
      }
    } else if (!waitAll) {
      for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i]->IsSignalledLocked()) {
          objects[i]->ConsumeLocked();
          hit = i;
          return true;
        }
      }
    }
    if (extra != nullptr && (extraReady ? extraReady() : extra->IsSignalledLocked())) {
      hit = objects.size();
      return true;
    }
    return false;
  };
  std::vector<Waitable*> watch(objects.begin(), objects.end());
  if (extra != nullptr) watch.push_back(extra);
  std::unique_lock lock(SyncMutex());
  WaitLocked(lock, watch, ready, deadline);
  return hit;
}

std::optional<std::vector<std::shared_ptr<Waitable>>> ResolveWaitHandles(DWORD count,
                                                                         const HANDLE* handles,
                                                                         bool waitAll) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && handles == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    auto object = LookupHandleAs<Waitable>(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return std::nullopt;
    }
    // Waiting for all of a set that names one object twice could never
    // consume it twice; the system refuses such a set, and so do we.
    if (waitAll && std::find(objects.begin(), objects.end(), object) != objects.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return std::nullopt;
    }
    objects.push_back(std::move(object));
  }
  return objects;
}

DWORD WaitResult(const std::optional<std::size_t>& index) {
  return index ? WAIT_OBJECT_0 + static_cast<DWORD>(*index) : WAIT_TIMEOUT;
}

}  // namespace platform::detail
