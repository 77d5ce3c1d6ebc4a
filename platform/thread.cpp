#include "platform/thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/last_error.h"
#include "platform/message_queue.h"
#include "platform/wait_core.h"

namespace platform {

namespace {

std::atomic<DWORD> g_nextThreadId{1};
std::atomic<DWORD> g_mainThreadId{0};
thread_local DWORD t_threadId = 0;

DWORD AllocateThreadId() { return g_nextThreadId.fetch_add(1); }

bool IsPriorityStep(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      return true;
    default:
      return false;
  }
}

// Nice offsets of the seven steps. Linux lets a thread lower its priority
// freely but raise it (or get back to where it was) only with CAP_SYS_NICE
// or a raised RLIMIT_NICE, so a refused change is normal and is ignored.
int NiceOffset(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE: return 19;
    case THREAD_PRIORITY_LOWEST: return 10;
    case THREAD_PRIORITY_BELOW_NORMAL: return 5;
    case THREAD_PRIORITY_ABOVE_NORMAL: return -5;
    case THREAD_PRIORITY_HIGHEST: return -10;
    case THREAD_PRIORITY_TIME_CRITICAL: return -20;
    default: return 0;
  }
}

class ThreadObject : public detail::Waitable {
 public:
  explicit ThreadObject(DWORD id) : id_(id) {}

  DWORD Id() const { return id_; }
  bool IsSignalledLocked() const override { return ended_; }

  // On the new thread, before its body.
  void Started() {
    std::lock_guard lock(priorityMutex_);
    kernelId_ = gettid();
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(kernelId_));
    baseNice_ = errno == 0 ? nice : 0;
    ApplyPriorityLocked();
  }

  // On the thread, after its body and its queue are gone.
  void Ended() {
    {
      // A kernel id is reused once its thread is gone; it must not be
      // re-prioritised after this point.
      std::lock_guard lock(priorityMutex_);
      kernelId_ = 0;
    }
    std::lock_guard lock(detail::SyncMutex());
    ended_ = true;
    NotifyLocked();
  }

  void SetPriority(int priority) {
    std::lock_guard lock(priorityMutex_);
    priority_ = priority;
    ApplyPriorityLocked();
  }

  int Priority() const {
    std::lock_guard lock(priorityMutex_);
    return priority_;
  }

 private:
  void ApplyPriorityLocked() {
    if (kernelId_ == 0) return;
    int nice = std::clamp(baseNice_ + NiceOffset(priority_), -20, 19);
    setpriority(PRIO_PROCESS, static_cast<id_t>(kernelId_), nice);
  }

  const DWORD id_;
  bool ended_ = false;  // guarded by SyncMutex()

  // Guards the requested step and the kernel id it is applied to, for
  // SetThreadPriority callers and the thread itself at start and end.
  mutable std::mutex priorityMutex_;
  int priority_ = THREAD_PRIORITY_NORMAL;
  pid_t kernelId_ = 0;
  int baseNice_ = 0;
};

void RunThread(const std::shared_ptr<ThreadObject>& thread, const std::function<void()>& body) {
  t_threadId = thread->Id();
  thread->Started();
  try {
    body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "thread %u ended by an exception: %s\n", thread->Id(), e.what());
  } catch (...) {
    std::fprintf(stderr, "thread %u ended by an exception\n", thread->Id());
  }
  // The thread's windows and queue go before its handle is signalled, so a
  // thread that waited for it finds nothing of it left.
  detail::ReleaseCurrentThreadQueue();
  detail::Parker::ReleaseCurrent();
  thread->Ended();
}

}  // namespace

HANDLE CreateThread(std::function<void()> body, DWORD* threadId) {
  std::shared_ptr<ThreadObject> thread;
  HANDLE handle = 0;
  try {
    thread = std::make_shared<ThreadObject>(AllocateThreadId());
    handle = RegisterHandle(thread);
    std::thread([thread, body = std::move(body)] { RunThread(thread, body); }).detach();
  } catch (const std::system_error&) {
    if (handle != 0) CloseHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  } catch (const std::bad_alloc&) {
    if (handle != 0) CloseHandle(handle);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (threadId != nullptr) *threadId = thread->Id();
  return handle;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  auto thread = LookupHandleAs<ThreadObject>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!IsPriorityStep(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  thread->SetPriority(priority);
  return TRUE;
}

int GetThreadPriority(HANDLE handle) {
  auto thread = LookupHandleAs<ThreadObject>(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return thread->Priority();
}

DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = AllocateThreadId();
  return t_threadId;
}

void SetMainThreadId(DWORD threadId) {
  DWORD none = 0;
  if (g_mainThreadId.compare_exchange_strong(none, threadId)) detail::QueueOf(threadId, true);
}

DWORD GetMainThreadId() { return g_mainThreadId.load(); }

void Synchronize(const std::function<void()>& call) {
  DWORD mainId = GetMainThreadId();
  if (mainId == 0 || mainId == GetCurrentThreadId()) {
    call();
    return;
  }
  std::shared_ptr<detail::MessageQueue> queue = detail::QueueOf(mainId);
  if (!queue) throw std::runtime_error("Synchronize: the main thread has ended");
  auto sent = std::make_shared<detail::SentMessage>(0, [call] {
    call();
    return LRESULT{0};
  });
  detail::SendAndWait(queue, sent, false, detail::Deadline(INFINITE));
  std::unique_lock lock(detail::SyncMutex());
  if (sent->state != detail::SentState::kDone)
    throw std::runtime_error("Synchronize: the main thread has ended");
  std::exception_ptr error = std::move(sent->error);
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

}  // namespace platform
