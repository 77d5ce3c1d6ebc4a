#include "app/TerminationSignals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

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
  sigaddset(&set, SIGHUP);
  return set;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "SIGTERM";
  }
}

// Waits for one of `set` until `limit` has passed; the signal, or 0.
int WaitAtMost(const sigset_t& set, std::chrono::milliseconds limit) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(limit.count() / 1000);
  deadline.tv_nsec += static_cast<long>(limit.count() % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    ++deadline.tv_sec;
    deadline.tv_nsec -= 1000000000L;
  }
  for (;;) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
    if (left.tv_nsec < 0) {
      --left.tv_sec;
      left.tv_nsec += 1000000000L;
    }
    if (left.tv_sec < 0) return 0;
    const int signal = sigtimedwait(&set, nullptr, &left);
    if (signal > 0) return signal;
    if (errno == EAGAIN) return 0;
  }
}

}  // namespace

void BlockTerminationSignals() {
  const sigset_t set = TerminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void ReportOnStandardError(const std::string& text) {
  std::string line = text;
  for (std::size_t at; (at = line.find('\n')) != std::string::npos;) line.replace(at, 1, "; ");
  std::fprintf(stderr, "tesmar: %s\n", line.c_str());
}

TTerminationSignals::TTerminationSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  // The waiter inherits this thread's mask; both must have them blocked.
  BlockTerminationSignals();
  static std::once_flag registered;
  std::call_once(registered, [] {
    platform::WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &TTerminationSignals::WindowProc;
    windowClass.cbWndExtra = sizeof(platform::LONG_PTR);
    windowClass.lpszClassName = kWindowClass;
    platform::RegisterClassA(&windowClass);
  });
  window_ = platform::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  platform::SetWindowLongPtrA(window_, 0, reinterpret_cast<platform::LONG_PTR>(this));
  waiter_ = std::thread([this] { Wait(); });
}

TTerminationSignals::~TTerminationSignals() {
  stopping_.store(true);
  // The waiter sleeps in sigwait; a signal sent to that thread alone ends
  // the wait without reaching the process.
  pthread_kill(waiter_.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
  waiter_.join();
  platform::SetWindowLongPtrA(window_, 0, 0);
  platform::DestroyWindow(window_);
}

platform::LRESULT TTerminationSignals::WindowProc(platform::HWND window, platform::UINT msg,
                                                  platform::WPARAM wParam, platform::LPARAM lParam) {
  auto* self = reinterpret_cast<TTerminationSignals*>(platform::GetWindowLongPtrA(window, 0));
  if (msg != kMsgTerminate || self == nullptr) return platform::DefWindowProcA(window, msg, wParam, lParam);
  self->Handle();
  return 0;
}

void TTerminationSignals::Handle() {
  framework::Application->OnException = [](framework::TObject*, const std::exception& e) {
    ReportOnStandardError(framework::ExceptionText(e));
  };
  framework::Application->CloseModalWindows();
  if (onSignal_)
    onSignal_();
  else if (framework::TForm* form = framework::Application->MainForm())
    form->Close();
  else
    framework::Application->Terminate();
}

void TTerminationSignals::Wait() {
  const sigset_t set = TerminationSet();
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
  if (stopping_.load()) return;
  received_.fetch_add(1);
  platform::PostMessageA(window_, kMsgTerminate, 0, 0);
  const int again = WaitAtMost(set, kEndLimit);
  if (stopping_.load()) return;
  // Nothing here may wait for the window's thread, which may be the one
  // that is stuck.
  if (again != 0)
    std::fprintf(stderr, "tesmar: %s again: ending at once\n", SignalName(again));
  else
    std::fprintf(stderr, "tesmar: not ended in order within %lld s of %s: ending at once\n",
                 static_cast<long long>(kEndLimit.count()), SignalName(signal));
  _exit(1);
}

}  // namespace app
