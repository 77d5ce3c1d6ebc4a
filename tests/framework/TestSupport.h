// Helpers shared by the framework tests.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/Properties.h"
#include "tests/support/ExceptionRecorder.h"

namespace framework::test {

// Runs the event loop until Done() or the limit passes; true when done.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Application->ProcessMessages();
  }
  return true;
}

// Runs the event loop for a while.
inline void PumpFor(std::chrono::milliseconds period) {
  auto end = std::chrono::steady_clock::now() + period;
  while (std::chrono::steady_clock::now() < end) Application->ProcessMessages();
}

// Keeps the exceptions the application handles, instead of printing them.
using ExceptionCatcher = ::test::ExceptionRecorder;

}  // namespace framework::test
