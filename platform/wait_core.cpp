#include "platform/wait_core.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

#include "platform/last_error.h"

namespace platform::detail {

std::mutex& SyncMutex() {
  static std::mutex mutex;
  return mutex;
}

void Waiter::NotifyLocked() {
  if (descriptor < 0) {
    wake.notify_one();
    return;
  }
  if (kicked) return;
  kicked = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(descriptor, &one, sizeof one);
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

// The calling thread's wake descriptor for polling waits: made at its
// first such wait and closed when the thread ends; -1 when none could be
// made (the wait then looks again every few milliseconds).
int ThreadWakeDescriptor() {
  struct Descriptor {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~Descriptor() {
      if (fd >= 0) close(fd);
    }
  };
  thread_local Descriptor descriptor;
  return descriptor.fd;
}

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
void PollDevices(std::unique_lock<std::mutex>& lock, Waiter& waiter,
                 std::span<std::shared_ptr<DeviceDriver>> drivers, const Deadline& deadline) {
  const int wake = ThreadWakeDescriptor();
  waiter.descriptor = wake;
  waiter.kicked = false;
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
  if (ready > 0 && (fds[0].revents & POLLIN)) {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t got = read(wake, &count, sizeof count);
  }
  for (std::size_t i = 0; i < drivers.size(); ++i) {
    if (!begun[i]) continue;
    const short seen = ready > 0 ? fds[i + 1].revents : 0;
    drivers[i]->EndPoll(
        DeviceReady{(seen & POLLIN) != 0, (seen & POLLOUT) != 0, (seen & (POLLHUP | POLLERR)) != 0});
  }
  for (std::shared_ptr<DeviceDriver>& driver : drivers) driver.reset();
  lock.lock();
  waiter.descriptor = -1;
}

}  // namespace

bool WaitLocked(std::unique_lock<std::mutex>& lock, std::span<Waitable* const> watch,
                const std::function<bool()>& ready, const Deadline& deadline) {
  if (ready()) return true;
  if (deadline.Passed()) return false;
  Waiter waiter;
  WaiterRegistration registration(watch, &waiter);
  Drivers drivers;
  for (;;) {
    const std::size_t devices = CollectDriversLocked(watch, drivers);
    if (devices != 0) {
      PollDevices(lock, waiter, std::span(drivers.data(), devices), deadline);
      if (ready()) return true;
      if (deadline.Passed()) return ready();
    } else if (deadline.Infinite()) {
      waiter.wake.wait(lock);
      if (ready()) return true;
    } else if (waiter.wake.wait_until(lock, deadline.At()) == std::cv_status::timeout) {
      return ready();
    } else if (ready()) {
      return true;
    }
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
