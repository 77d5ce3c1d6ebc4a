#include "platform/clock.h"

#include <sys/utsname.h>

#include <chrono>

namespace platform {

namespace {

std::int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

BOOL QueryPerformanceCounter(std::int64_t* count) {
  if (count == nullptr) return FALSE;
  *count = SteadyNanoseconds();
  return TRUE;
}

BOOL QueryPerformanceFrequency(std::int64_t* frequency) {
  if (frequency == nullptr) return FALSE;
  *frequency = 1'000'000'000;
  return TRUE;
}

DWORD timeGetTime() {
  // Truncation to 32 bits is the wrap that callers of a millisecond timer
  // expect (every 49.7 days); differences stay right across it.
  return static_cast<DWORD>(SteadyNanoseconds() / 1'000'000);
}

DWORD GetTickCount() { return timeGetTime(); }

std::string SystemDescription() {
  utsname name{};
  if (uname(&name) != 0) return "Linux";
  return std::string(name.sysname) + " " + name.release;
}

bool IsWindowsNT() { return true; }

}  // namespace platform
