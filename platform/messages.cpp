#include "platform/messages.h"

#include <cctype>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/message_queue.h"
#include "platform/thread.h"

namespace platform {

namespace {

using detail::CurrentQueue;
using detail::Deadline;
using detail::MessageQueue;
using detail::SyncMutex;

struct WindowClass {
  WNDPROC proc;
  int extraBytes;
};

struct Window {
  HWND handle;
  DWORD owner;
  WNDPROC proc;
  std::vector<LONG_PTR> extra;  // guarded by SyncMutex()
};

// Guarded by SyncMutex(): the registered classes (by lower-case name, as
// class names do not depend on case) and the live windows.
struct WindowRegistry {
  std::unordered_map<std::string, WindowClass> classes;
  std::unordered_map<HWND, std::shared_ptr<Window>> windows;
  ATOM nextAtom = 0xC000;
  HWND nextHandle = 0x10000;
};

WindowRegistry& Windows() {
  static WindowRegistry registry;
  return registry;
}

std::string ClassKey(const char* name) {
  std::string key(name);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

std::shared_ptr<Window> FindWindowLocked(HWND handle) {
  auto& windows = Windows().windows;
  auto it = windows.find(handle);
  return it == windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> FindWindow(HWND handle) {
  std::lock_guard lock(SyncMutex());
  return FindWindowLocked(handle);
}

// Window 0 takes any message of the thread, -1 only thread messages, any
// other value that window's messages; the range 0..0 takes every message.
bool Matches(const MSG& message, HWND window, UINT filterMin, UINT filterMax) {
  if (window == -1 ? message.hwnd != 0 : (window != 0 && message.hwnd != window)) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return message.message >= filterMin && message.message <= filterMax;
}

// The first posted message for the filter; the quit flag counts only when
// no other message is waiting, so a loop finishes the work already queued.
std::optional<MSG> TakePostedLocked(MessageQueue& queue, HWND window, UINT filterMin,
                                    UINT filterMax, bool remove) {
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (!Matches(*it, window, filterMin, filterMax)) continue;
    MSG message = *it;
    if (remove) queue.posted.erase(it);
    return message;
  }
  if (!queue.quit) return std::nullopt;
  MSG quit;
  quit.message = WM_QUIT;
  quit.wParam = static_cast<WPARAM>(queue.quitCode);
  quit.time = GetTickCount();
  if (remove) queue.quit = false;
  return quit;
}

void HandleSentMessages(MessageQueue& queue) {
  while (detail::HandleOneSentMessage(queue)) {
  }
}

BOOL PostToQueue(const std::shared_ptr<MessageQueue>& queue, const MSG& message) {
  bool posted = false;
  if (queue) {
    std::lock_guard lock(SyncMutex());
    posted = detail::PostLocked(*queue, message);
  }
  if (!posted) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  detail::WakeQueueOwner(queue->ThreadId());
  return TRUE;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m;
  m.hwnd = window;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  return m;
}

}  // namespace

namespace detail {

void ForgetThreadWindowsLocked(DWORD threadId) {
  std::erase_if(Windows().windows, [threadId](const auto& entry) { return entry.second->owner == threadId; });
}

}  // namespace detail

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
      *windowClass->lpszClassName == '\0' || windowClass->lpfnWndProc == nullptr ||
      windowClass->cbWndExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard lock(SyncMutex());
  WindowRegistry& registry = Windows();
  auto [it, added] = registry.classes.try_emplace(ClassKey(windowClass->lpszClassName),
                                                  WindowClass{windowClass->lpfnWndProc,
                                                              windowClass->cbWndExtra});
  if (!added) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  return registry.nextAtom++;
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                     int x, int y, int width, int height, HWND parent, HANDLE menu,
                     HANDLE instance, void* param) {
  // The window's messages go to this thread's queue, so it must exist
  // before anyone can post to the window.
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  std::lock_guard lock(SyncMutex());
  WindowRegistry& registry = Windows();
  auto found = className ? registry.classes.find(ClassKey(className)) : registry.classes.end();
  if (found == registry.classes.end()) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return 0;
  }
  const WindowClass& windowClass = found->second;
  auto window = std::make_shared<Window>();
  window->handle = registry.nextHandle;
  registry.nextHandle += 2;
  window->owner = queue->ThreadId();
  window->proc = windowClass.proc;
  window->extra.assign((windowClass.extraBytes + sizeof(LONG_PTR) - 1) / sizeof(LONG_PTR), 0);
  registry.windows.emplace(window->handle, window);
  return window->handle;
}

BOOL DestroyWindow(HWND handle) {
  std::shared_ptr<Window> window = FindWindow(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (window->owner != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::exception_ptr error;
  try {
    window->proc(handle, WM_DESTROY, 0, 0);
  } catch (...) {
    error = std::current_exception();
  }
  // The window goes even when its last handler threw; senders waiting for
  // it are woken now rather than at their limits.
  {
    std::lock_guard lock(SyncMutex());
    Windows().windows.erase(handle);
    detail::DropWindowMessagesLocked(*CurrentQueue(), handle);
  }
  if (error) std::rethrow_exception(error);
  return TRUE;
}

BOOL IsWindow(HWND window) { return FindWindow(window) ? TRUE : FALSE; }

namespace {

// The slot of a window's extra bytes at offset, or null (last error set).
LONG_PTR* ExtraSlotLocked(HWND handle, int offset) {
  std::shared_ptr<Window> window = FindWindowLocked(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  constexpr int kSlot = sizeof(LONG_PTR);
  if (offset < 0 || offset % kSlot != 0 ||
      static_cast<std::size_t>(offset / kSlot) >= window->extra.size()) {
    SetLastError(ERROR_INVALID_INDEX);
    return nullptr;
  }
  // The registry keeps the window alive while the lock is held.
  return &window->extra[offset / kSlot];
}

}  // namespace

LONG_PTR SetWindowLongPtrA(HWND window, int offset, LONG_PTR value) {
  std::lock_guard lock(SyncMutex());
  LONG_PTR* slot = ExtraSlotLocked(window, offset);
  if (slot == nullptr) return 0;
  SetLastError(ERROR_SUCCESS);
  LONG_PTR previous = *slot;
  *slot = value;
  return previous;
}

LONG_PTR GetWindowLongPtrA(HWND window, int offset) {
  std::lock_guard lock(SyncMutex());
  LONG_PTR* slot = ExtraSlotLocked(window, offset);
  if (slot == nullptr) return 0;
  SetLastError(ERROR_SUCCESS);
  return *slot;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  if (handle == 0) return PostToQueue(CurrentQueue(), MakeMessage(0, message, wParam, lParam));
  std::shared_ptr<Window> window = FindWindow(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!PostToQueue(detail::QueueOf(window->owner), MakeMessage(handle, message, wParam, lParam))) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostToQueue(detail::QueueOf(threadId), MakeMessage(0, message, wParam, lParam));
}

void PostQuitMessage(int exitCode) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  {
    std::lock_guard lock(SyncMutex());
    queue->quit = true;
    queue->quitCode = exitCode;
    queue->NotifyLocked();
  }
  detail::WakeQueueOwner(queue->ThreadId());
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, INFINITE, &result);
  return static_cast<LRESULT>(result);
}

LRESULT SendMessageTimeoutA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, DWORD_PTR* result) {
  Deadline deadline(timeoutMs);
  std::shared_ptr<Window> window = FindWindow(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window->owner == GetCurrentThreadId()) {
    LRESULT answer = window->proc(handle, message, wParam, lParam);
    if (result != nullptr) *result = static_cast<DWORD_PTR>(answer);
    return 1;
  }
  std::shared_ptr<MessageQueue> queue = detail::QueueOf(window->owner);
  if (!queue) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  WNDPROC proc = window->proc;
  auto sent = std::make_shared<detail::SentMessage>(
      handle, [=] { return proc(handle, message, wParam, lParam); });
  detail::SendAndWait(queue, sent, (flags & SMTO_BLOCK) != 0, deadline);

  std::unique_lock lock(SyncMutex());
  if (sent->state == detail::SentState::kFailed) {
    SetLastError(sent->failure);
    return 0;
  }
  if (sent->state != detail::SentState::kDone || sent->senderGone) {
    SetLastError(ERROR_TIMEOUT);
    return 0;
  }
  std::exception_ptr error = std::move(sent->error);
  LRESULT answer = sent->result;
  lock.unlock();
  if (error) std::rethrow_exception(error);
  if (result != nullptr) *result = static_cast<DWORD_PTR>(answer);
  return 1;
}

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  HandleSentMessages(*queue);
  std::lock_guard lock(SyncMutex());
  auto taken = TakePostedLocked(*queue, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0);
  if (!taken) return FALSE;
  if (message != nullptr) *message = *taken;
  return TRUE;
}

BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  detail::Waitable* watch[] = {queue.get()};
  for (;;) {
    HandleSentMessages(*queue);
    std::unique_lock lock(SyncMutex());
    std::optional<MSG> taken;
    auto ready = [&] {
      if (!queue->sent.empty()) return true;
      taken = TakePostedLocked(*queue, window, filterMin, filterMax, true);
      return taken.has_value();
    };
    detail::WaitLocked(lock, watch, ready, Deadline(INFINITE));
    if (taken) {
      if (message != nullptr) *message = *taken;
      return taken->message != WM_QUIT;
    }
  }
}

BOOL TranslateMessage(const MSG* message) {
  // Hidden windows get no keyboard input, so there is nothing to translate.
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
  if (message == nullptr || message->hwnd == 0) return 0;
  std::shared_ptr<Window> window = FindWindow(message->hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window->owner != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  return window->proc(message->hwnd, message->message, message->wParam, message->lParam);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask) {
  Deadline deadline(milliseconds);
  auto resolved = detail::ResolveWaitHandles(count, objects, waitAll != FALSE);
  if (!resolved) return WAIT_FAILED;
  std::vector<detail::Waitable*> raw;
  for (const auto& object : *resolved) raw.push_back(object.get());
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  std::function<bool()> sentOnly;
  if ((wakeMask & QS_ALLINPUT & ~QS_SENDMESSAGE) == 0)
    sentOnly = [&queue] { return !queue->sent.empty(); };
  return detail::WaitResult(
      detail::WaitForObjects(raw, waitAll != FALSE, queue.get(), deadline, sentOnly));
}

bool PumpOneMessage() {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  if (detail::HandleOneSentMessage(*queue)) return true;
  std::optional<MSG> taken;
  {
    std::lock_guard lock(SyncMutex());
    taken = TakePostedLocked(*queue, 0, 0, 0, true);
  }
  if (!taken) return false;
  if (taken->message == WM_QUIT) {
    // An outer loop still has to see the quit request.
    PostQuitMessage(static_cast<int>(taken->wParam));
    return false;
  }
  TranslateMessage(&*taken);
  DispatchMessageA(&*taken);
  return true;
}

bool HasPendingMessages() {
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  std::lock_guard lock(SyncMutex());
  return queue->IsSignalledLocked();
}

}  // namespace platform
