// Ctrl+C (SIGINT) and SIGTERM close the main window, as closing it by hand
// does: the port closes and an active trace or log is written.
//
// BlockTerminationSignals must run at the very start of main, before any
// thread exists, so that every thread inherits the blocked mask and the
// signals reach only the waiter below. TTerminationSignals then waits for
// them on a thread of its own and hands each one to the window's thread
// through a hidden window; there the main form's Close runs.
//
// Thread safety: construct and destroy on the window's thread, which must
// handle messages (the application's loop) for a signal to take effect.
#pragma once

#include <atomic>
#include <thread>

#include "platform/messages.h"

namespace app {

void BlockTerminationSignals();

class TTerminationSignals {
 public:
  TTerminationSignals();
  // Stops the waiter; a signal that arrives later is not handled.
  ~TTerminationSignals();
  TTerminationSignals(const TTerminationSignals&) = delete;
  TTerminationSignals& operator=(const TTerminationSignals&) = delete;

  // How many signals have been handed to the window's thread.
  int Received() const { return received_.load(); }

 private:
  void Wait();

  platform::HWND window_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> received_{0};
  std::thread waiter_;
};

}  // namespace app
