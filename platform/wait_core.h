// The one wait mechanism behind events, thread handles, message queues and
// sent messages (internal to the platform layer).
//
// Every waitable object keeps its state under one process-wide lock, the
// sync lock. A waiting thread registers a waiter (its own condition
// variable) with each object it watches and sleeps until one of them
// changes; the object that changes wakes exactly the threads that watch it.
// Keeping all states under one lock is what makes "wait for all" and "wait
// for the objects or a message" atomic without lock ordering between
// objects. The lock is held only for state changes and checks, never while
// user code (window procedures, thread bodies, hooks) runs.
//
// Thread safety: every function may be called from any thread; the *Locked
// members require the caller to hold SyncMutex().
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/handles.h"
#include "platform/win_types.h"

namespace platform::detail {

// The sync lock. Guards the state of every Waitable and its waiter list.
std::mutex& SyncMutex();

// One waiting thread. Its condition variable is paired with SyncMutex().
struct Waiter {
  std::condition_variable wake;
};

class Waitable : public KernelObject {
 public:
  // True when a wait for this object would be satisfied now.
  virtual bool IsSignalledLocked() const = 0;
  // A satisfied wait took the object (auto-reset events reset here).
  virtual void ConsumeLocked() {}

  // Wakes every thread waiting on this object so it re-checks its
  // condition. Call after changing the state, with the lock held.
  void NotifyLocked();

  void AddWaiterLocked(Waiter* waiter) { waiters_.push_back(waiter); }
  void RemoveWaiterLocked(Waiter* waiter);

 private:
  std::vector<Waiter*> waiters_;  // guarded by SyncMutex()
};

// A point in time on the steady clock after which a wait gives up; none
// for INFINITE.
class Deadline {
 public:
  explicit Deadline(DWORD milliseconds);
  bool Infinite() const { return !at_.has_value(); }
  bool Passed() const;
  const std::chrono::steady_clock::time_point& At() const { return *at_; }

 private:
  std::optional<std::chrono::steady_clock::time_point> at_;
};

// Sleeps, with the sync lock held by lock, until ready() returns true or the
// deadline passes; returns ready()'s last value. Any change of an object in
// watch wakes the sleeper to re-evaluate ready(), which runs under the lock.
bool WaitLocked(std::unique_lock<std::mutex>& lock, std::span<Waitable* const> watch,
                const std::function<bool()>& ready, const Deadline& deadline);

// An event object (also used inside the layer, unregistered).
class Event : public Waitable {
 public:
  Event(bool manualReset, bool initialState) : manualReset_(manualReset), state_(initialState) {}

  bool IsSignalledLocked() const override { return state_; }
  void ConsumeLocked() override {
    if (!manualReset_) state_ = false;
  }

  void Set();
  void Reset();

 private:
  const bool manualReset_;
  bool state_;  // guarded by SyncMutex()
};

// Waits for any (the lowest signalled index wins) or all of objects, plus,
// when extra is given, for extra alone (its index is objects.size(); it is
// not consumed). extraReady, when given, replaces extra's own test (it runs
// under the lock). Returns the index satisfied, or nullopt on time-out.
std::optional<std::size_t> WaitForObjects(std::span<Waitable* const> objects, bool waitAll,
                                          Waitable* extra, const Deadline& deadline,
                                          const std::function<bool()>& extraReady = {});

// Resolves up to MAXIMUM_WAIT_OBJECTS handles to waitable objects. Fails
// (nullopt, last error set) on a count above the maximum, an unknown or
// unwaitable handle, or a duplicate in a wait for all. The caller decides
// whether a count of 0 is acceptable.
std::optional<std::vector<std::shared_ptr<Waitable>>> ResolveWaitHandles(DWORD count,
                                                                         const HANDLE* handles,
                                                                         bool waitAll);

// The wait result code for an index from WaitForObjects.
DWORD WaitResult(const std::optional<std::size_t>& index);

}  // namespace platform::detail
