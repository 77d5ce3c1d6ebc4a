// Ctrl+C (SIGINT), SIGTERM and SIGHUP (the terminal closed) end the program
// in order, as closing the main window does: the port closes and an active
// trace or log is written. SIGPIPE is ignored: a reader of the rows that
// goes away ends the recording through the write's error, not the program.
//
// BlockTerminationSignals must run at the very start of main, before any
// thread exists, so that every thread inherits the blocked mask and the
// signals reach only the waiter below. TTerminationSignals then waits for
// them on a thread of its own and hands the first one to the window's
// thread through a hidden window. There, from then on, exceptions are
// written to standard error instead of a message box (nobody may be there
// to close one), the boxes and dialogs open are closed, and the handler
// given runs (by default the main form's Close, or the end of the loop
// while the form is still being made).
//
// The program has kEndLimit from the first signal to end: a second signal,
// or that time passing with the program still running (a file that takes
// no data, a device that does not let go), ends it at once with exit
// status 1 and a line on standard error.
//
// Thread safety: construct and destroy on the window's thread, which must
// handle messages (the application's loop, or ProcessMessages) for a
// signal to take effect.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/messages.h"

namespace app {

void BlockTerminationSignals();

// Writes an exception's text to standard error as the program's own line
// ("tesmar: ...", its lines joined).
void ReportOnStandardError(const std::string& text);

class TTerminationSignals {
 public:
  static constexpr std::chrono::seconds kEndLimit{2};

  explicit TTerminationSignals(std::function<void()> onSignal = nullptr);
  // Stops the waiter; a signal that arrives later is not handled.
  ~TTerminationSignals();
  TTerminationSignals(const TTerminationSignals&) = delete;
  TTerminationSignals& operator=(const TTerminationSignals&) = delete;

  // How many signals have been handed to the window's thread.
  int Received() const { return received_.load(); }

 private:
  static platform::LRESULT WindowProc(platform::HWND window, platform::UINT msg, platform::WPARAM wParam,
                                      platform::LPARAM lParam);
  void Wait();
  void Handle();

  std::function<void()> onSignal_;
  platform::HWND window_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> received_{0};
  std::thread waiter_;
};

}  // namespace app
