#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>

#include "platform/last_error.h"
#include "platform/thread.h"
#include "platform/win32.h"

namespace platform {

namespace {

std::atomic<DWORD> g_mainThreadId{0};
// The main thread's hidden window that runs Synchronize's calls: a sent
// message is what the system delivers to a thread only while it retrieves
// messages, and what the sender's thread may serve its own meanwhile.
std::atomic<::HWND> g_callWindow{nullptr};

constexpr char kCallWindowClass[] = "tesmarSynchronizeWindow";
constexpr UINT kCallMessage = WM_APP + 1;
constexpr LRESULT kCallRan = 1;

struct Call {
  const std::function<void()>* call;
  std::exception_ptr error;
};

LRESULT CALLBACK CallWindowProc(::HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kCallMessage) return ::DefWindowProcA(window, message, wParam, lParam);
  auto* call = reinterpret_cast<Call*>(lParam);
  try {
    (*call->call)();
  } catch (...) {
    call->error = std::current_exception();
  }
  return kCallRan;
}

// On the main thread: its queue, and the window Synchronize sends to.
void MakeCallWindow() {
  ::MSG ignored;
  ::PeekMessageA(&ignored, nullptr, 0, 0, PM_NOREMOVE);
  ::WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = CallWindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kCallWindowClass;
  ::RegisterClassA(&windowClass);
  g_callWindow.store(::CreateWindowExA(0, kCallWindowClass, "", 0, 0, 0, 0, 0, win32::MessageOnlyParent(),
                                       nullptr, windowClass.hInstance, nullptr));
}

struct ThreadStart {
  std::function<void()> body;
};

::DWORD WINAPI ThreadMain(void* parameter) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  try {
    start->body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "thread %lu ended by an exception: %s\n", ::GetCurrentThreadId(), e.what());
  } catch (...) {
    std::fprintf(stderr, "thread %lu ended by an exception\n", ::GetCurrentThreadId());
  }
  // The system destroys the thread's windows and queue before it signals
  // the thread's handle.
  return 0;
}

}  // namespace

HANDLE CreateThread(std::function<void()> body, DWORD* threadId) {
  std::unique_ptr<ThreadStart> start;
  try {
    start = std::make_unique<ThreadStart>(ThreadStart{std::move(body)});
  } catch (const std::bad_alloc&) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  ::DWORD id = 0;
  ::HANDLE thread = ::CreateThread(nullptr, 0, ThreadMain, start.get(), 0, &id);
  if (thread == nullptr) return 0;
  start.release();  // the thread owns it now
  if (threadId != nullptr) *threadId = id;
  return win32::Ours(thread);
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  return ::SetThreadPriority(win32::Native(thread), priority);
}

int GetThreadPriority(HANDLE thread) { return ::GetThreadPriority(win32::Native(thread)); }

DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }

void SetMainThreadId(DWORD threadId) {
  DWORD none = 0;
  // Only the main thread itself can make its queue and window; the
  // program's start-up names it from there.
  if (g_mainThreadId.compare_exchange_strong(none, threadId) && threadId == ::GetCurrentThreadId())
    MakeCallWindow();
}

DWORD GetMainThreadId() { return g_mainThreadId.load(); }

void Synchronize(const std::function<void()>& call) {
  DWORD mainId = GetMainThreadId();
  if (mainId == 0 || mainId == ::GetCurrentThreadId()) {
    call();
    return;
  }
  Call record{&call, nullptr};
  ::HWND window = g_callWindow.load();
  // The window went with the main thread: the send fails at once.
  if (window == nullptr ||
      ::SendMessageA(window, kCallMessage, 0, reinterpret_cast<LPARAM>(&record)) != kCallRan)
    throw std::runtime_error("Synchronize: the main thread has ended");
  if (record.error) std::rethrow_exception(record.error);
}

}  // namespace platform
