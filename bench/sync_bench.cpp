// Costs of the wait mechanism and of messages between threads: how long a
// worker waits to hand the window's thread a trigger, and what a wake-up
// through an event costs.
#include <benchmark/benchmark.h>

#include <atomic>

#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace {

using namespace platform;

void BM_WaitOnSetEvent(benchmark::State& state) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(WaitForSingleObject(event, 0));
  CloseHandle(event);
}
BENCHMARK(BM_WaitOnSetEvent);

// One round: this thread sets ping, the other answers with pong.
void BM_EventPingPong(benchmark::State& state) {
  HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  HANDLE thread = CreateThread(
      [&] {
        while (WaitForSingleObject(ping, INFINITE) == WAIT_OBJECT_0 && !stop.load()) SetEvent(pong);
      },
      nullptr);
  for (auto _ : state) {
    SetEvent(ping);
    WaitForSingleObject(pong, INFINITE);
  }
  stop = true;
  SetEvent(ping);
  WaitForSingleObject(thread, INFINITE);
  for (HANDLE h : {thread, ping, pong}) CloseHandle(h);
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

LRESULT AnswerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == WM_USER ? static_cast<LRESULT>(wParam + 1) : DefWindowProcA(window, message, wParam, lParam);
}

const char* BenchClass() {
  static const bool registered = [] {
    WNDCLASSA wc;
    wc.lpfnWndProc = AnswerProc;
    wc.lpszClassName = "benchWindow";
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  return "benchWindow";
}

void BM_SendMessageSameThread(benchmark::State& state) {
  HWND window = CreateWindowExA(0, BenchClass(), "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  DWORD_PTR result = 0;
  for (auto _ : state) SendMessageTimeoutA(window, WM_USER, 1, 0, SMTO_NORMAL, 3000, &result);
  DestroyWindow(window);
}
BENCHMARK(BM_SendMessageSameThread);

// A worker's blocking send with the 3000 ms limit, answered by a thread
// that waits for messages as a window's thread does.
void BM_SendMessageAcrossThreads(benchmark::State& state) {
  std::atomic<HWND> window{0};
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD ownerId = 0;
  HANDLE owner = CreateThread(
      [&] {
        window = CreateWindowExA(0, BenchClass(), "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
        SetEvent(ready);
        MSG m;
        while (GetMessageA(&m, 0, 0, 0)) DispatchMessageA(&m);
        DestroyWindow(window);
      },
      &ownerId);
  WaitForSingleObject(ready, INFINITE);
  DWORD_PTR result = 0;
  for (auto _ : state) SendMessageTimeoutA(window, WM_USER, 1, 0, SMTO_NORMAL, 3000, &result);
  PostThreadMessageA(ownerId, WM_QUIT, 0, 0);
  WaitForSingleObject(owner, INFINITE);
  CloseHandle(owner);
  CloseHandle(ready);
}
BENCHMARK(BM_SendMessageAcrossThreads)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
