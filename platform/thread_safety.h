// Lock annotations that Clang's thread-safety analysis checks
// (-Wthread-safety) and that expand to nothing under other compilers.
// Mark a lock type TESMAR_CAPABILITY("mutex"), the fields it guards
// TESMAR_GUARDED_BY(lock), and functions that expect a lock held
// TESMAR_REQUIRES(lock) or that take it themselves TESMAR_EXCLUDES(lock).
// Re-entrant locks are checked as plain ones: a function that may be
// called with its lock held takes it through a *Locked variant that
// TESMAR_REQUIRES it, instead of entering the lock a second time.
#pragma once

#if defined(__clang__)
#define TESMAR_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TESMAR_THREAD_ANNOTATION(x)
#endif

#define TESMAR_CAPABILITY(name) TESMAR_THREAD_ANNOTATION(capability(name))
#define TESMAR_SCOPED_CAPABILITY TESMAR_THREAD_ANNOTATION(scoped_lockable)
#define TESMAR_GUARDED_BY(lock) TESMAR_THREAD_ANNOTATION(guarded_by(lock))
#define TESMAR_PT_GUARDED_BY(lock) TESMAR_THREAD_ANNOTATION(pt_guarded_by(lock))
#define TESMAR_ACQUIRED_BEFORE(...) TESMAR_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define TESMAR_ACQUIRED_AFTER(...) TESMAR_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define TESMAR_REQUIRES(...) TESMAR_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define TESMAR_ACQUIRE(...) TESMAR_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TESMAR_RELEASE(...) TESMAR_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TESMAR_TRY_ACQUIRE(...) TESMAR_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TESMAR_EXCLUDES(...) TESMAR_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define TESMAR_ASSERT_CAPABILITY(lock) TESMAR_THREAD_ANNOTATION(assert_capability(lock))
#define TESMAR_RETURN_CAPABILITY(lock) TESMAR_THREAD_ANNOTATION(lock_returned(lock))
#define TESMAR_NO_THREAD_SAFETY_ANALYSIS TESMAR_THREAD_ANNOTATION(no_thread_safety_analysis)
