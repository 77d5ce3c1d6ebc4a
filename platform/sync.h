// Events, waits, re-entrant critical sections, interlocked counters and
// Sleep, with the semantics of the system interface the layers above were
// written for.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/handles.h"
#include "platform/thread_safety.h"
#include "platform/win_types.h"

namespace platform {

// An event object; manual-reset events stay set until reset, auto-reset
// events release exactly one waiter and reset themselves. Returns 0 with the
// last error set on failure. The security attributes and name are accepted
// for the interface's sake; named events are not shared between processes.
HANDLE CreateEventA(const void* security, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits for an event or a thread (signalled when it has ended).
// Returns WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the last error.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// Waits for one (waitAll FALSE: the lowest signalled index wins) or all of
// up to MAXIMUM_WAIT_OBJECTS objects. Returns WAIT_OBJECT_0 + i,
// WAIT_TIMEOUT, or WAIT_FAILED with the last error.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);

// A re-entrant lock: the thread that holds it may enter it again and must
// leave it as often as it entered.
class TESMAR_CAPABILITY("mutex") CriticalSection {
 public:
  void Enter() TESMAR_ACQUIRE() { mutex_.lock(); }
  bool TryEnter() TESMAR_TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  void Leave() TESMAR_RELEASE() { mutex_.unlock(); }

  // Lockable names, so std::lock_guard and std::scoped_lock work (the
  // thread-safety analysis sees only CriticalSectionLock).
  void lock() TESMAR_ACQUIRE() { Enter(); }
  void unlock() TESMAR_RELEASE() { Leave(); }
  bool try_lock() TESMAR_TRY_ACQUIRE(true) { return TryEnter(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for its scope; the guard the thread-safety
// analysis understands.
class TESMAR_SCOPED_CAPABILITY CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) TESMAR_ACQUIRE(section)
      : section_(section) {
    section.Enter();
  }
  ~CriticalSectionLock() TESMAR_RELEASE() TESMAR_NO_THREAD_SAFETY_ANALYSIS { section_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& section_;
};

inline void EnterCriticalSection(CriticalSection& section) TESMAR_ACQUIRE(section) {
  section.Enter();
}
inline void LeaveCriticalSection(CriticalSection& section) TESMAR_RELEASE(section) {
  section.Leave();
}

// Interlocked counters: the new value is returned.
inline LONG InterlockedIncrement(std::atomic<LONG>& value) { return ++value; }
inline LONG InterlockedDecrement(std::atomic<LONG>& value) { return --value; }
inline LONG InterlockedExchange(std::atomic<LONG>& value, LONG exchange) {
  return value.exchange(exchange);
}

// Suspends the calling thread; Sleep(0) gives up the rest of its time slice.
void Sleep(DWORD milliseconds);

}  // namespace platform
