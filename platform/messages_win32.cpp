// The message calls on Windows: the system's own. An exception a window
// procedure throws is raised from the call of ours that led into it
// (DispatchMessageA, SendMessageA, PeekMessageA, GetMessageA,
// PumpOneMessage, ...) on the window's own thread: the system carries no
// exception back to another thread's sender, as the Linux stand-in does.
#include <exception>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/last_error.h"
#include "platform/messages.h"
#include "platform/thread.h"
#include "platform/win32.h"

namespace platform {

namespace {

using win32::NativeWindow;
using win32::OurWindow;

// An exception a window procedure threw, kept for the thread until the
// call of ours that led into the procedure returns: it must not travel
// through the system's own frames between DispatchMessage (or a sent
// message's delivery) and the procedure.
thread_local std::exception_ptr t_procedureError;

void RethrowProcedureError() {
  if (t_procedureError) std::rethrow_exception(std::exchange(t_procedureError, nullptr));
}

// Every class registered here has this procedure; the caller's own is kept
// in the class's extra bytes (slot 0). Messages that arrive before it is
// there, while the class is being set up, get the default handling.
LRESULT CALLBACK ClassProcedure(::HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto procedure = reinterpret_cast<platform::WNDPROC>(::GetClassLongPtrA(window, 0));
  if (procedure == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);
  try {
    return procedure(OurWindow(window), message, wParam, lParam);
  } catch (...) {
    t_procedureError = std::current_exception();
    return 0;
  }
}

HINSTANCE Instance(platform::HANDLE instance) {
  return instance != 0 ? static_cast<HINSTANCE>(win32::Native(instance)) : ::GetModuleHandleA(nullptr);
}

// The wake hooks of SetQueueWakeHook. Messages from other processes do not
// pass here; the hooks serve this process's own posts and sends, which is
// what the framework's loop waits for.
struct WakeHooks {
  std::mutex mutex;
  std::unordered_map<DWORD, std::function<void()>> hooks;
};

WakeHooks& Hooks() {
  static WakeHooks hooks;
  return hooks;
}

void WakeThread(DWORD threadId) {
  std::function<void()> hook;
  {
    std::lock_guard lock(Hooks().mutex);
    auto found = Hooks().hooks.find(threadId);
    if (found == Hooks().hooks.end()) return;
    hook = found->second;
  }
  hook();
}

void WakeOwner(::HWND window) {
  if (DWORD owner = ::GetWindowThreadProcessId(window, nullptr); owner != 0) WakeThread(owner);
}

void FromNative(const ::MSG& native, MSG* message) {
  if (message == nullptr) return;
  message->hwnd = OurWindow(native.hwnd);
  message->message = native.message;
  message->wParam = native.wParam;
  message->lParam = native.lParam;
  message->time = native.time;
}

::MSG ToNative(const MSG& message) {
  ::MSG native{};
  native.hwnd = NativeWindow(message.hwnd);
  native.message = message.message;
  native.wParam = message.wParam;
  native.lParam = message.lParam;
  native.time = message.time;
  return native;
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
      *windowClass->lpszClassName == '\0' || windowClass->lpfnWndProc == nullptr ||
      windowClass->cbWndExtra < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ::WNDCLASSA native{};
  native.style = windowClass->style;
  native.lpfnWndProc = ClassProcedure;
  native.cbClsExtra = static_cast<int>(sizeof(LONG_PTR)) + windowClass->cbClsExtra;
  native.cbWndExtra = windowClass->cbWndExtra;
  native.hInstance = Instance(windowClass->hInstance);
  native.lpszClassName = windowClass->lpszClassName;
  ATOM atom = ::RegisterClassA(&native);
  if (atom == 0) return 0;
  // A class's extra bytes are reached only through one of its windows.
  ::HWND first = ::CreateWindowExA(0, windowClass->lpszClassName, "", 0, 0, 0, 0, 0,
                                   win32::MessageOnlyParent(), nullptr, native.hInstance, nullptr);
  if (first == nullptr) {
    const DWORD error = ::GetLastError();
    ::UnregisterClassA(windowClass->lpszClassName, native.hInstance);
    ::SetLastError(error);
    return 0;
  }
  ::SetClassLongPtrA(first, 0, reinterpret_cast<LONG_PTR>(windowClass->lpfnWndProc));
  ::DestroyWindow(first);
  return atom;
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HANDLE menu, HANDLE instance, void* param) {
  ::HWND window =
      ::CreateWindowExA(exStyle, className, windowName, style, x, y, width, height, NativeWindow(parent),
                        static_cast<HMENU>(win32::Native(menu)), Instance(instance), param);
  RethrowProcedureError();
  return OurWindow(window);
}

BOOL DestroyWindow(HWND window) {
  BOOL done = ::DestroyWindow(NativeWindow(window));
  RethrowProcedureError();
  return done;
}

BOOL IsWindow(HWND window) { return ::IsWindow(NativeWindow(window)); }

LONG_PTR SetWindowLongPtrA(HWND window, int offset, LONG_PTR value) {
  return ::SetWindowLongPtrA(NativeWindow(window), offset, value);
}

LONG_PTR GetWindowLongPtrA(HWND window, int offset) {
  return ::GetWindowLongPtrA(NativeWindow(window), offset);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcA(NativeWindow(window), message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!::PostMessageA(NativeWindow(window), message, wParam, lParam)) return FALSE;
  if (window == 0) {
    WakeThread(::GetCurrentThreadId());
  } else {
    WakeOwner(NativeWindow(window));
  }
  return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!::PostThreadMessageA(threadId, message, wParam, lParam)) return FALSE;
  WakeThread(threadId);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  ::PostQuitMessage(exitCode);
  WakeThread(::GetCurrentThreadId());
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, INFINITE, &result);
  return static_cast<LRESULT>(result);
}

LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, DWORD_PTR* result) {
  ::HWND native = NativeWindow(window);
  const DWORD owner = ::GetWindowThreadProcessId(native, nullptr);
  if (owner != 0 && owner != ::GetCurrentThreadId()) WakeThread(owner);
  ::DWORD_PTR answer = 0;
  LRESULT sent = ::SendMessageTimeoutA(native, message, wParam, lParam, flags, timeoutMs, &answer);
  RethrowProcedureError();
  if (sent != 0 && result != nullptr) *result = answer;
  return sent;
}

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  ::MSG native{};
  BOOL found = ::PeekMessageA(&native, NativeWindow(window), filterMin, filterMax, removeFlags);
  RethrowProcedureError();
  if (found) FromNative(native, message);
  return found;
}

BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
  ::MSG native{};
  BOOL got = ::GetMessageA(&native, NativeWindow(window), filterMin, filterMax);
  RethrowProcedureError();
  if (got != -1) FromNative(native, message);
  return got;
}

BOOL TranslateMessage(const MSG* message) {
  if (message == nullptr) return FALSE;
  ::MSG native = ToNative(*message);
  return ::TranslateMessage(&native);
}

LRESULT DispatchMessageA(const MSG* message) {
  if (message == nullptr) return 0;
  ::MSG native = ToNative(*message);
  LRESULT result = ::DispatchMessageA(&native);
  RethrowProcedureError();
  return result;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds,
                                DWORD wakeMask) {
  if (count > MAXIMUM_WAIT_OBJECTS - 1 || (count > 0 && objects == nullptr)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<::HANDLE> handles;
  handles.reserve(count);
  for (DWORD i = 0; i < count; ++i) handles.push_back(win32::Native(objects[i]));
  // Messages already waiting count, not only those new since the last look.
  DWORD flags = MWMO_INPUTAVAILABLE | (waitAll ? MWMO_WAITALL : 0);
  return ::MsgWaitForMultipleObjectsEx(count, handles.data(), milliseconds, wakeMask, flags);
}

bool PumpOneMessage() {
  // The system hands pending sent messages to their windows inside
  // PeekMessage, before it looks at the posted ones.
  const bool sentWaiting = (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
  ::MSG native{};
  if (!::PeekMessageA(&native, nullptr, 0, 0, PM_REMOVE)) {
    RethrowProcedureError();
    return sentWaiting;
  }
  if (native.message == WM_QUIT) {
    // An outer loop still has to see the quit request.
    ::PostQuitMessage(static_cast<int>(native.wParam));
    RethrowProcedureError();
    return false;
  }
  ::TranslateMessage(&native);
  ::DispatchMessageA(&native);
  RethrowProcedureError();
  return true;
}

void SetQueueWakeHook(DWORD threadId, std::function<void()> hook) {
  std::lock_guard lock(Hooks().mutex);
  if (hook) {
    Hooks().hooks[threadId] = std::move(hook);
  } else {
    Hooks().hooks.erase(threadId);
  }
}

bool HasPendingMessages() { return HIWORD(::GetQueueStatus(QS_ALLINPUT)) != 0; }

}  // namespace platform
