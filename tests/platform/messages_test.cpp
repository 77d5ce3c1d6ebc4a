// Hidden windows, queues, posted and sent messages between threads.
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "tests/support/Wine.h"

namespace platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

bool OnWindows() { return SystemDescription().rfind("Windows", 0) == 0; }

constexpr UINT kDouble = WM_USER + 1;  // answers wParam * 2
constexpr UINT kThrow = WM_USER + 2;   // throws
constexpr UINT kNote = WM_USER + 3;    // only recorded

// What a test window saw, reached through the window's extra bytes.
struct Recorder {
  std::mutex mutex;
  std::vector<UINT> messages;  // guarded by mutex
  std::vector<DWORD> threads;  // guarded by mutex

  int Count(UINT message) {
    std::lock_guard lock(mutex);
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
  }
};

LRESULT TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtrA(window, 0));
  if (recorder != nullptr) {
    std::lock_guard lock(recorder->mutex);
    recorder->messages.push_back(message);
    recorder->threads.push_back(GetCurrentThreadId());
  }
  switch (message) {
    case kDouble: return static_cast<LRESULT>(wParam * 2);
    case kThrow: throw std::runtime_error("window procedure failed");
    case kNote: return 1;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

const char* TestClass() {
  static const bool registered = [] {
    WNDCLASSA wc;
    wc.lpfnWndProc = TestWindowProc;
    wc.cbWndExtra = sizeof(LONG_PTR);  // as the port component asks: one pointer
    wc.lpszClassName = "tesmarTestWindow";
    return RegisterClassA(&wc) != 0;
  }();
  EXPECT_TRUE(registered);
  return "tesmarTestWindow";
}

// A test window on the calling thread, recording into its own recorder.
struct TestWindow {
  Recorder recorder;
  HWND handle;
  TestWindow() {
    handle = CreateWindowExA(0, TestClass(), "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    SetWindowLongPtrA(handle, 0, reinterpret_cast<LONG_PTR>(&recorder));
  }
  ~TestWindow() {
    if (IsWindow(handle)) DestroyWindow(handle);
  }
};

void DrainQueue() {
  MSG m;
  while (PeekMessageA(&m, 0, 0, 0, PM_REMOVE)) {
  }
}

// Runs body on a new thread; Join waits for it, pumping the caller's queue
// only when asked to.
struct Worker {
  HANDLE handle;
  explicit Worker(std::function<void()> body) : handle(CreateThread(std::move(body), nullptr)) {}
  bool Join(bool pump, DWORD limitMs = 10000) {
    DWORD result;
    if (pump) {
      while ((result = MsgWaitForMultipleObjects(1, &handle, FALSE, limitMs, QS_ALLINPUT)) ==
             WAIT_OBJECT_0 + 1)
        while (PumpOneMessage()) {
        }
    } else {
      result = WaitForSingleObject(handle, limitMs);
    }
    return result == WAIT_OBJECT_0;
  }
  ~Worker() {
    WaitForSingleObject(handle, 10000);
    CloseHandle(handle);
  }
};

TEST(Windows, ClassesWindowsAndExtraBytes) {
  const char* name = TestClass();
  WNDCLASSA again;
  again.lpfnWndProc = TestWindowProc;
  again.lpszClassName = "TESMARTESTWINDOW";
  EXPECT_EQ(RegisterClassA(&again), 0) << "names do not depend on case";
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

  HWND window = CreateWindowExA(0, name, "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  ASSERT_NE(window, 0);
  EXPECT_EQ(SetWindowLongPtrA(window, 0, 0x1234), 0);
  EXPECT_EQ(GetWindowLongPtrA(window, 0), 0x1234);
  // (Negative offsets name the system's own fields of a window.)
  for (int offset : {4, 8, 16}) {
    EXPECT_EQ(GetWindowLongPtrA(window, offset), 0) << offset;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX) << offset;
  }
  Recorder recorder;
  SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(&recorder));
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(recorder.Count(WM_DESTROY), 1);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_FALSE(PostMessageA(window, kNote, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST(Windows, AnUnknownClassMakesNoWindow) {
  if (tests::UnderWine())
    GTEST_SKIP() << "Wine reports ERROR_CLASS_DOES_NOT_EXIST (1411) where Windows reports "
                    "ERROR_CANNOT_FIND_WND_CLASS (1407)";
  EXPECT_EQ(CreateWindowExA(0, "noSuchClass", "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST(Messages, PeekFiltersGetAndQuit) {
  DrainQueue();
  TestWindow a, b;
  PostMessageA(a.handle, kNote, 1, 0);
  PostMessageA(b.handle, kDouble, 2, 0);
  PostThreadMessageA(GetCurrentThreadId(), kNote, 3, 0);
  PostQuitMessage(9);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, 0, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 1u) << "no-remove leaves the first message in place";
  ASSERT_TRUE(PeekMessageA(&m, b.handle, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u) << "window filter";
  ASSERT_TRUE(PeekMessageA(&m, -1, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u) << "thread messages only";
  ASSERT_TRUE(PeekMessageA(&m, 0, kNote, kNote, PM_NOREMOVE));
  EXPECT_EQ(m.hwnd, a.handle) << "range filter";
  ASSERT_TRUE(PeekMessageA(&m, 0, kDouble, kThrow, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT) << "quit passes every filter once nothing else matches";
  ASSERT_TRUE(GetMessageA(&m, 0, 0, 0));
  EXPECT_EQ(m.hwnd, a.handle);
  EXPECT_EQ(DispatchMessageA(&m), 1);
  EXPECT_EQ(a.recorder.Count(kNote), 1);
  EXPECT_FALSE(GetMessageA(&m, 0, 0, 0)) << "quit comes after the other messages";
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 9u);
  EXPECT_FALSE(HasPendingMessages());
}

TEST(Messages, PumpOneMessageHandlesExactlyOneAndKeepsQuit) {
  DrainQueue();
  TestWindow w;
  PostMessageA(w.handle, kNote, 0, 0);
  PostMessageA(w.handle, kNote, 0, 0);
  PostQuitMessage(3);
  EXPECT_TRUE(PumpOneMessage());
  EXPECT_EQ(w.recorder.Count(kNote), 1);
  EXPECT_TRUE(PumpOneMessage());
  EXPECT_EQ(w.recorder.Count(kNote), 2);
  EXPECT_FALSE(PumpOneMessage()) << "the quit message is not handled";
  EXPECT_FALSE(PumpOneMessage()) << "and is met again";
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PumpOneMessage());
}

TEST(SendMessage, SameThreadIsADirectCallAndExceptionsPass) {
  TestWindow w;
  DWORD_PTR result = 0;
  EXPECT_EQ(SendMessageTimeoutA(w.handle, kDouble, 21, 0, SMTO_NORMAL, 0, &result), 1);
  EXPECT_EQ(result, 42u);
  EXPECT_EQ(SendMessageA(w.handle, kDouble, 5, 0), 10);
  EXPECT_THROW(SendMessageA(w.handle, kThrow, 0, 0), std::runtime_error);
  EXPECT_EQ(SendMessageTimeoutA(0x7777, kDouble, 1, 0, SMTO_NORMAL, 100, &result), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST(SendMessage, AcrossThreadsIsAnsweredWhenTheOwnerRetrievesMessages) {
  DrainQueue();
  TestWindow w;
  std::atomic<LRESULT> ok{0};
  DWORD_PTR result = 0;  // read after the worker ended
  bool threw = false;
  // The system cannot carry an exception across threads: on Windows it is
  // raised on the window's thread, from the call that handled the message.
  const bool carried = !OnWindows();
  Worker worker([&] {
    ok = SendMessageTimeoutA(w.handle, kDouble, 50, 0, SMTO_NORMAL, 10000, &result);
    if (!carried) return;
    try {
      SendMessageA(w.handle, kThrow, 0, 0);
    } catch (const std::runtime_error&) {
      threw = true;
    }
  });
  ASSERT_TRUE(worker.Join(true));
  EXPECT_EQ(ok.load(), 1);
  EXPECT_EQ(result, 100u);
  EXPECT_EQ(threw, carried) << "the exception is carried back to the sender";
  std::lock_guard lock(w.recorder.mutex);
  for (DWORD thread : w.recorder.threads) EXPECT_EQ(thread, GetCurrentThreadId());
}

TEST(SendMessage, TimedOutWhileTheOwnerIsBusyIsNeverHandledLate) {
  DrainQueue();
  TestWindow w;
  std::atomic<LRESULT> ok{-1};
  std::atomic<DWORD> error{0};
  Worker worker([&] {
    DWORD_PTR result = 0;
    ok = SendMessageTimeoutA(w.handle, kDouble, 1, 0, SMTO_NORMAL, 50, &result);
    error = GetLastError();
  });
  // Busy, without retrieving messages, until the sender has given up.
  ASSERT_TRUE(worker.Join(false));
  EXPECT_EQ(ok.load(), 0);
  EXPECT_EQ(error.load(), ERROR_TIMEOUT);
  EXPECT_FALSE(HasPendingMessages());
  while (PumpOneMessage()) {
  }
  EXPECT_EQ(w.recorder.Count(kDouble), 0);
}

TEST(SendMessage, DestroyingTheTargetWakesTheSenderAtOnce) {
  DrainQueue();
  TestWindow w;
  std::atomic<LRESULT> ok{-1};
  std::atomic<DWORD> error{0};
  std::atomic<long long> waitedMs{0};
  Worker worker([&] {
    auto start = steady_clock::now();
    DWORD_PTR result = 0;
    ok = SendMessageTimeoutA(w.handle, kDouble, 1, 0, SMTO_NORMAL, 60000, &result);
    error = GetLastError();
    waitedMs = std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count();
  });
  // Wait for the sent message to arrive, without retrieving it.
  while (!HasPendingMessages()) Sleep(1);
  DestroyWindow(w.handle);
  ASSERT_TRUE(worker.Join(false, 10000));
  EXPECT_EQ(ok.load(), 0);
  // Which error the system gives a send whose window went away is its own.
  if (!OnWindows()) {
    EXPECT_EQ(error.load(), ERROR_INVALID_WINDOW_HANDLE);
  }
  EXPECT_NE(error.load(), ERROR_SUCCESS);
  EXPECT_LT(waitedMs.load(), 10000);
  EXPECT_EQ(w.recorder.Count(kDouble), 0);
}

TEST(SendMessage, TwoThreadsSendingToEachOtherBothGetAnswers) {
  DrainQueue();
  TestWindow mine;
  std::atomic<HWND> theirs{0};
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<LRESULT> theirAnswer{0};
  Worker worker([&] {
    TestWindow own;
    theirs = own.handle;
    SetEvent(ready);
    theirAnswer = SendMessageA(mine.handle, kDouble, 4, 0);
    // Keep the window alive and serviced until the main thread is done.
    while (MsgWaitForMultipleObjects(1, &finish, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
      while (PumpOneMessage()) {
      }
  });
  WaitForSingleObject(ready, 10000);
  // This send waits for the worker, which waits for us: each handles the
  // other's message meanwhile.
  DWORD_PTR result = 0;
  EXPECT_EQ(SendMessageTimeoutA(theirs, kDouble, 3, 0, SMTO_NORMAL, 10000, &result), 1);
  EXPECT_EQ(result, 6u);
  SetEvent(finish);
  ASSERT_TRUE(worker.Join(true));
  EXPECT_EQ(theirAnswer.load(), 8);
  CloseHandle(ready);
  CloseHandle(finish);
}

TEST(SendMessage, WindowsOfAnEndedThreadAreGone) {
  std::atomic<HWND> window{0};
  Worker worker([&] { window = CreateWindowExA(0, TestClass(), "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr); });
  ASSERT_TRUE(worker.Join(false));
  EXPECT_FALSE(IsWindow(window.load()));
  EXPECT_EQ(SendMessageA(window.load(), kDouble, 1, 0), 0);
}

TEST(WakeHook, IsCalledForPostsAndSendsFromOtherThreads) {
  DrainQueue();
  TestWindow w;
  std::atomic<int> wakes{0};
  std::atomic<bool> onOtherThread{true};
  const DWORD self = GetCurrentThreadId();
  SetQueueWakeHook(self, [&] {
    ++wakes;
    if (GetCurrentThreadId() == self) onOtherThread = false;
  });
  Worker worker([&] {
    PostMessageA(w.handle, kNote, 0, 0);
    PostThreadMessageA(self, kNote, 0, 0);
    DWORD_PTR result;
    SendMessageTimeoutA(w.handle, kDouble, 1, 0, SMTO_NORMAL, 1, &result);
  });
  worker.Join(false);
  SetQueueWakeHook(self, nullptr);
  EXPECT_EQ(wakes.load(), 3);
  EXPECT_TRUE(onOtherThread.load());
  PostMessageA(w.handle, kNote, 0, 0);
  EXPECT_EQ(wakes.load(), 3) << "the hook is removed";
  DrainQueue();
}

TEST(MsgWait, WakesForObjectsFirstThenForMessages) {
  DrainQueue();
  HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  PostThreadMessageA(GetCurrentThreadId(), kNote, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_SENDMESSAGE), WAIT_TIMEOUT)
      << "a posted message does not wake a wait for sent ones";
  DrainQueue();
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10, QS_ALLINPUT), WAIT_TIMEOUT);
  SetMainThreadId(GetCurrentThreadId());
  Worker worker([] { PostThreadMessageA(GetMainThreadId(), kNote, 0, 0); });
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10000, QS_ALLINPUT), WAIT_OBJECT_0);
  DrainQueue();
  CloseHandle(event);
}

}  // namespace
}  // namespace platform
