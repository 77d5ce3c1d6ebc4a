// Hidden windows, per-thread message queues and the message calls of the
// system interface that the port component and the device layer were
// written for. A window belongs to the thread that created it; messages for
// it wait in that thread's queue until the thread retrieves them.
//
// Sent messages: SendMessage/SendMessageTimeout from the window's own thread
// call the window procedure directly. From another thread the message is
// queued as a sent message, and the owning thread handles it only when it
// retrieves messages (GetMessage, PeekMessage, PumpOneMessage,
// MsgWaitForMultipleObjects' caller's next peek). The sender waits up to its
// limit; a sent message whose limit ran out before the owner began to handle
// it is dropped, never handled late; a window destroyed meanwhile wakes the
// sender at once (the send fails).
//
// Thread safety: every function may be called from any thread. Window
// procedures run on the window's own thread.
#pragma once

#include <functional>

#include "platform/win_types.h"

namespace platform {

using HWND = std::intptr_t;  // 0 is no window
using ATOM = WORD;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

constexpr UINT SMTO_NORMAL = 0;
constexpr UINT SMTO_BLOCK = 1;
constexpr UINT SMTO_ABORTIFHUNG = 2;

constexpr DWORD QS_POSTMESSAGE = 0x0008;
constexpr DWORD QS_SENDMESSAGE = 0x0040;
constexpr DWORD QS_ALLINPUT = 0x04FF;

// System error numbers of the window and message calls.
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;

struct WNDCLASSA {
  UINT style = 0;
  WNDPROC lpfnWndProc = nullptr;
  int cbClsExtra = 0;
  int cbWndExtra = 0;  // bytes reachable through Get/SetWindowLongPtrA
  HANDLE hInstance = 0;
  const char* lpszClassName = nullptr;
};

struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;
};

// Registers a window class once per name; a second registration of the
// same name fails (0) with the last error 1410 and changes nothing.
ATOM RegisterClassA(const WNDCLASSA* windowClass);

// Creates a hidden window of a registered class on the calling thread.
// Returns 0 with the last error 1407 for an unknown class.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                     int x, int y, int width, int height, HWND parent, HANDLE menu,
                     HANDLE instance, void* param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);

// The window's extra bytes, addressed by byte offset (a multiple of the
// pointer size below cbWndExtra). An offset out of range fails with 1413.
LONG_PTR SetWindowLongPtrA(HWND window, int offset, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int offset);

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Non-zero when the window procedure ran and returned within the limit
// (its result in *result); 0 with the last error 1460 (time-out) or 1400
// (invalid or destroyed window) otherwise.
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, DWORD_PTR* result);

// Pending sent messages are handled first; then the first posted message
// for the filter (window 0 = any window of the thread; min = max = 0 = any
// message) is returned. GetMessage waits and returns FALSE for WM_QUIT.
BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL GetMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);

// Waits for the objects or for a message for the calling thread: returns
// WAIT_OBJECT_0 + count when a message is waiting (the objects are tested
// first). A wakeMask of QS_SENDMESSAGE alone wakes only for sent messages
// (and Synchronize calls), so a caller that handles just those does not
// spin on posted ones; any other input bit wakes for every message. The
// test is for messages waiting, not for messages new since the last look:
// a caller must take what it is woken for, or it is woken again at once.
// With waitAll a message still wakes the caller on its own.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);

// Removes and dispatches exactly one pending message of the calling thread,
// if any (sent messages count). A WM_QUIT it meets is posted again, so an
// outer loop still ends. Returns true when it handled a message.
bool PumpOneMessage();

// Called, from whichever thread posts or sends, whenever a message arrives
// in the queue of threadId. The framework's event loop uses it to wake the
// main thread; it must not block. An empty function removes the hook.
void SetQueueWakeHook(DWORD threadId, std::function<void()> hook);

// True when the calling thread's queue holds a posted or sent message.
bool HasPendingMessages();

}  // namespace platform
