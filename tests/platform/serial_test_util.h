// Helpers shared by the serial tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/last_error.h"
#include "platform/serial.h"
#include "platform/sync.h"

namespace platform::testing {

inline HANDLE OpenPort(int number, bool overlapped = true) {
  const std::string name = "\\\\.\\COM" + std::to_string(number);
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     overlapped ? FILE_FLAG_OVERLAPPED : FILE_ATTRIBUTE_NORMAL, 0);
}

inline void SetTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
  COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
}

// An OVERLAPPED record with its own manual-reset event.
struct Overlapped {
  Overlapped() { record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Overlapped() { CloseHandle(record.hEvent); }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;
  bool Signalled(DWORD milliseconds = 0) const {
    return WaitForSingleObject(record.hEvent, milliseconds) == WAIT_OBJECT_0;
  }
  OVERLAPPED record{};
};

// Expects a call to have failed with `error`.
#define EXPECT_FAILS_WITH(call, error)       \
  do {                                       \
    ::platform::SetLastError(0);             \
    EXPECT_FALSE(call);                      \
    EXPECT_EQ(::platform::GetLastError(), static_cast<::platform::DWORD>(error)); \
  } while (0)

// Polls `condition` for up to `limit`; the limit is generous because only
// a hang should fail a test.
template <class Condition>
bool Eventually(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace platform::testing
