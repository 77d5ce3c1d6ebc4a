// Threads as kernel objects: a thread's handle is signalled when its body
// has returned, so it can be waited for like an event.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <functional>

#include "platform/handles.h"
#include "platform/win_types.h"

namespace platform {

// The seven priority steps. Applied best effort (nice values where the
// process may lower or raise them); a refused change never fails the call.
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// Starts body on a new thread. Returns its handle (0 with the last error on
// failure) and stores its id when threadId is not null. The caller closes
// the handle; the thread runs on whether or not the handle is open.
HANDLE CreateThread(std::function<void()> body, DWORD* threadId);

BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// A small number that names the calling thread for as long as it runs.
DWORD GetCurrentThreadId();

// The program's main (window) thread: the thread that first called
// SetMainThreadId, normally at start-up.
void SetMainThreadId(DWORD threadId);
DWORD GetMainThreadId();

// Runs call on the main thread while the calling thread waits for it to
// finish; on the main thread itself it runs call directly. The main thread
// runs it when it next retrieves messages (see messages.h), so it must keep
// its message loop going. An exception thrown by call is carried back and
// rethrown in the caller.
void Synchronize(const std::function<void()>& call);

}  // namespace platform
