// The one wait mechanism behind events, thread handles, message queues and
// sent messages (internal to the platform layer).
//
// Every waitable object keeps its state under one process-wide lock, the
// sync lock. A waiting thread registers a waiter (naming its parker) with
// each object it watches and sleeps until one of them changes; the object
// that changes wakes exactly the threads that watch it, once the sync lock
// is free again.
// Keeping all states under one lock is what makes "wait for all" and "wait
// for the objects or a message" atomic without lock ordering between
// objects. The lock is held only for state changes and checks, never while
// user code (window procedures, thread bodies, hooks) runs.
//
// Devices without a thread of their own. An object can be bound to a
// DeviceDriver (an event named by a pending overlapped operation of a
// serial port): a thread that waits for it does not sleep on its futex
// word but polls the device's descriptor together with a wake descriptor
// of its own, and when the device is ready it moves the device's input or
// output itself, which completes the operation in that thread. A change of
// any watched object wakes such a thread through its wake descriptor.
//
// Thread safety: every function may be called from any thread; the *Locked
// members require the caller to hold SyncMutex().
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/handles.h"
#include "platform/win_types.h"

namespace platform::detail {

// The sync lock. Guards the state of every Waitable and its waiter list.
// Wake-ups asked for while it is held (Waiter::NotifyLocked) are handed
// out by unlock, after the lock is free: a woken thread that ran at once
// (as it does on the waker's CPU) would otherwise find the lock still held
// and sleep on it again, two more switches per wake.
class SyncLock {
 public:
  void lock() { mutex_.lock(); }
  bool try_lock() { return mutex_.try_lock(); }
  void unlock();

 private:
  std::mutex mutex_;
};

SyncLock& SyncMutex();

// How one thread sleeps in a wait: on a futex word of its own, or in poll()
// on its wake descriptor while it drives devices. Made at a thread's
// first wait and shared with the threads that wake it, so a wake handed
// out after the sync lock is free never meets a thread that has ended.
class Parker {
 public:
  Parker() = default;
  ~Parker();
  Parker(const Parker&) = delete;
  Parker& operator=(const Parker&) = delete;

  // The calling thread's parker (a parker of its own for a wait that runs
  // after the thread's wait state has gone, as in a static destructor).
  static std::shared_ptr<Parker> Current();
  // Lets go of the calling thread's parker, for a thread about to end: its
  // wake descriptor is closed now (or once a wake-up in flight is done
  // with it), not after the thread's handle is signalled.
  static void ReleaseCurrent();
  // Wakes the sleep, or the next one when none is under way.
  void Kick(bool descriptor);
  // Sleeps until kicked or until `deadline` (none: no limit); false on the
  // time-out.
  bool Sleep(const std::optional<std::chrono::steady_clock::time_point>& deadline);
  // The wake descriptor for poll() (an eventfd, made at its first use), or
  // -1 when none could be made; Drain takes what woke it.
  int Descriptor();
  void Drain();

 private:
  // kIdle, kKicked (a kick not yet taken) or kSleeping.
  std::atomic<std::uint32_t> state_{0};
  std::once_flag made_;
  int descriptor_ = -1;  // written once under made_
};

// One waiting thread, for the span of one wait. While it polls devices,
// `polling` is set and a notification goes to its wake descriptor.
struct Waiter {
  std::shared_ptr<Parker> parker = Parker::Current();
  bool polling = false;  // guarded by SyncMutex()
  bool kicked = false;   // guarded by SyncMutex(); once per round
  void NotifyLocked();
};

// What a waiting thread watches for one device: a descriptor (-1: none),
// whether input and output are awaited, and the moment the device next has work
// due without any descriptor event (a read time-out).
struct DevicePoll {
  int descriptor = -1;
  bool input = true;
  bool output = false;
  std::optional<std::chrono::steady_clock::time_point> due;
};

// What the poll saw on a device's descriptor.
struct DeviceReady {
  bool input = false;
  bool output = false;
  bool hangup = false;
};

// A device that waiting threads drive. Called without the sync lock, from
// any number of threads at once. A device closed while a thread polls it
// has completed every operation first, which wakes that thread; its
// EndPoll then does nothing.
class DeviceDriver {
 public:
  virtual ~DeviceDriver() = default;
  // What to watch; false when there is nothing (the device is closed).
  virtual bool BeginPoll(DevicePoll& poll) = 0;
  // After the poll: moves what the device has ready and services what has
  // fallen due.
  virtual void EndPoll(const DeviceReady& ready) = 0;
};

class Waitable : public KernelObject {
 public:
  // True when a wait for this object would be satisfied now.
  virtual bool IsSignalledLocked() const = 0;
  // A satisfied wait took the object (auto-reset events reset here).
  virtual void ConsumeLocked() {}
  // The device a waiter drives while it waits for this object, if any.
  virtual std::shared_ptr<DeviceDriver> DriverLocked() const { return nullptr; }

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
bool WaitLocked(std::unique_lock<SyncLock>& lock, std::span<Waitable* const> watch,
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
  void SetLocked();
  void ResetLocked() { state_ = false; }
  // Binds the event to the device whose pending operation will set it, so
  // that its waiters drive that device (and wakes them to look); Unbind
  // undoes it when the binding is still `driver`'s.
  void BindLocked(std::weak_ptr<DeviceDriver> driver);
  void UnbindLocked(const DeviceDriver* driver);
  std::shared_ptr<DeviceDriver> DriverLocked() const override { return driver_.lock(); }

 private:
  const bool manualReset_;
  bool state_;                             // guarded by SyncMutex()
  std::weak_ptr<DeviceDriver> driver_;     // guarded by SyncMutex()
  const DeviceDriver* boundTo_ = nullptr;  // guarded by SyncMutex()
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
