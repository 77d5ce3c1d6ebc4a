#include "platform/wait_core.h"

#include <algorithm>

#include "platform/last_error.h"

namespace platform::detail {

std::mutex& SyncMutex() {
  static std::mutex mutex;
  return mutex;
}

void Waitable::NotifyLocked() {
  for (Waiter* waiter : waiters_) waiter->wake.notify_one();
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

}  // namespace

bool WaitLocked(std::unique_lock<std::mutex>& lock, std::span<Waitable* const> watch,
                const std::function<bool()>& ready, const Deadline& deadline) {
  if (ready()) return true;
  if (deadline.Passed()) return false;
  Waiter waiter;
  WaiterRegistration registration(watch, &waiter);
  for (;;) {
    if (deadline.Infinite()) {
      waiter.wake.wait(lock);
    } else if (waiter.wake.wait_until(lock, deadline.At()) == std::cv_status::timeout) {
      return ready();
    }
    if (ready()) return true;
  }
}

void Event::Set() {
  std::lock_guard lock(SyncMutex());
  state_ = true;
  NotifyLocked();
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
