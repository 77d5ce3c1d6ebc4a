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
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

// Starts body on a new thread. Returns its handle (0 with the last error on
// failure) and stores its id when threadId is not null. The caller closes
// the handle; the thread runs on whether or not the handle is open. When
// body returns, the thread's windows and message queue are released first,
// then the handle is signalled. An exception escaping body is written to
// stderr and ends the thread (callers that need more catch it themselves).
HANDLE CreateThread(std::function<void()> body, DWORD* threadId);

// Records one of the seven steps (any other value fails with error 87) and
// applies it as far as the system allows; the thread may already have
// ended. GetThreadPriority reports the step last set, whether or not the
// system granted it; THREAD_PRIORITY_ERROR_RETURN for a bad handle.
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// A small number that names the calling thread for as long as it runs.
DWORD GetCurrentThreadId();

// The program's main (window) thread: the id given by the first call of
// SetMainThreadId, normally at start-up (later calls change nothing); 0
// until then. The first call also creates that thread's message queue, so
// work can be queued for it at once.
void SetMainThreadId(DWORD threadId);
DWORD GetMainThreadId();

// Runs call on the main thread while the calling thread waits for it to
// finish; on the main thread itself, or before any main thread is set, it
// runs call directly. The main thread runs it like a sent message, when it
// next retrieves messages (see messages.h), so it must keep its message
// loop going; a main thread that waits for the caller must pump meanwhile
// (PumpOneMessage, MsgWaitForMultipleObjects). The waiting caller handles
// messages sent to its own thread meanwhile. An exception thrown by call is
// carried back and rethrown in the caller; std::runtime_error when the main
// thread has ended.
void Synchronize(const std::function<void()>& call);

}  // namespace platform
