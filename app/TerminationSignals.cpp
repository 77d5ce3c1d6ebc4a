#include "app/TerminationSignals.h"

#include <pthread.h>
#include <signal.h>

#include <mutex>

#include "framework/Application.h"
#include "framework/Forms.h"

namespace app {

namespace {

constexpr const char* kWindowClass = "tesmarSignalWindow";
constexpr platform::UINT kMsgTerminate = platform::WM_USER + 1;

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

platform::LRESULT SignalWindowProc(platform::HWND window, platform::UINT msg, platform::WPARAM wParam,
                                   platform::LPARAM lParam) {
  if (msg != kMsgTerminate) return platform::DefWindowProcA(window, msg, wParam, lParam);
  if (framework::TForm* form = framework::Application->MainForm())
    form->Close();
  else
    framework::Application->Terminate();
  return 0;
}

}  // namespace

void BlockTerminationSignals() {
  const sigset_t set = TerminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TTerminationSignals::TTerminationSignals() {
  // The waiter inherits this thread's mask; both must have them blocked.
  BlockTerminationSignals();
  static std::once_flag registered;
  std::call_once(registered, [] {
    platform::WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &SignalWindowProc;
    windowClass.lpszClassName = kWindowClass;
    platform::RegisterClassA(&windowClass);
  });
  window_ = platform::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  waiter_ = std::thread([this] { Wait(); });
}

TTerminationSignals::~TTerminationSignals() {
  stopping_.store(true);
  // The waiter sleeps in sigwait; a signal sent to that thread alone ends
  // the wait without reaching the process.
  pthread_kill(waiter_.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
  waiter_.join();
  platform::DestroyWindow(window_);
}

void TTerminationSignals::Wait() {
  const sigset_t set = TerminationSet();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (stopping_.load()) return;
    received_.fetch_add(1);
    platform::PostMessageA(window_, kMsgTerminate, 0, 0);
  }
}

}  // namespace app
