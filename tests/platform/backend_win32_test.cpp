// The Windows back end: the system's errors reach callers as the system
// set them, and the fake device lives beside the system's handles.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/last_error.h"
#include "platform/messages.h"
#include "platform/serial.h"
#include "platform/serial_fake.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace platform {
namespace {

HANDLE OpenPort(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, 0);
}

// Each failure leaves the system's own number as the last error, and the
// system has a text for it ending in CR LF (the error texts above trim it).
TEST(SystemErrors, ReachTheCallerAsTheSystemSetThem) {
  const HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(closed, 0);
  ASSERT_TRUE(CloseHandle(closed));
  struct Case {
    const char* what;
    std::function<bool()> fails;
    DWORD error;
  } cases[] = {
      {"a port the system does not have", [] { return OpenPort("\\\\.\\COM233") == INVALID_HANDLE_VALUE; },
       ERROR_FILE_NOT_FOUND},
      {"a closed handle closed again", [&] { return !CloseHandle(closed); }, ERROR_INVALID_HANDLE},
      {"a serial call on a closed handle", [&] { return !SetCommMask(closed, EV_RXCHAR); },
       ERROR_INVALID_HANDLE},
      {"a wait on a closed handle", [&] { return WaitForSingleObject(closed, 0) == WAIT_FAILED; },
       ERROR_INVALID_HANDLE},
      {"a message to no window", [] { return !PostMessageA(0x7FFF0, WM_USER, 0, 0); },
       ERROR_INVALID_WINDOW_HANDLE},
      {"a priority of a handle that is no thread", [&] { return !SetThreadPriority(closed, 1); },
       ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_TRUE(c.fails()) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }

  for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_INVALID_HANDLE,
                     ERROR_INVALID_PARAMETER, ERROR_OPERATION_ABORTED, ERROR_TIMEOUT}) {
    char text[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof text, nullptr);
    ASSERT_GT(length, 2u) << code;
    EXPECT_EQ(std::string(text, length).substr(length - 2), "\r\n") << code;
  }
}

// A fake port's handle is never one of the system's: closing a system
// handle leaves the port open, and the port completes its operations on
// the system's events.
TEST(FakeDevice, LivesBesideTheSystemsHandles) {
  // COM1 may be a real port here: the test factory is asked first.
  auto device = FakeSerialDevice::Register(1);
  const HANDLE port = OpenPort("\\\\.\\COM1");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(device->IsOpen());
  EXPECT_EQ(port & 3, 3) << "the system's handles are multiples of 4";

  HANDLE events[16];
  for (HANDLE& event : events) {
    event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, 0);
    EXPECT_NE(event, port);
  }
  for (HANDLE event : events) EXPECT_TRUE(CloseHandle(event));
  EXPECT_TRUE(device->IsOpen());

  const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED overlapped;
  overlapped.hEvent = done;
  DWORD written = 0;
  if (!WriteFile(port, "G0", 2, &written, &overlapped)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &overlapped, &written, FALSE));
  }
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(device->Written(), "G0");

  device->InjectReceived("!");
  char c = 0;
  DWORD read = 0;
  ResetEvent(done);
  if (!ReadFile(port, &c, 1, &read, &overlapped)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(port, &overlapped, &read, TRUE));
  }
  EXPECT_EQ(std::string(&c, read), "!");

  EXPECT_TRUE(CloseHandle(done));
  EXPECT_TRUE(CloseHandle(port));
  EXPECT_FALSE(device->IsOpen());
  FakeSerialDevice::Unregister(1);
}

TEST(Clocks, AreTheSystems) {
  std::int64_t frequency = 0, before = 0, after = 0;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_GT(frequency, 1000);
  const DWORD tickBefore = timeGetTime();
  QueryPerformanceCounter(&before);
  Sleep(20);
  QueryPerformanceCounter(&after);
  EXPECT_GT(after, before);
  EXPECT_GT(static_cast<DWORD>(timeGetTime() - tickBefore), 0u);
  EXPECT_EQ(SystemDescription().rfind("Windows ", 0), 0u) << SystemDescription();
  EXPECT_TRUE(IsWindowsNT());
}

}  // namespace
}  // namespace platform
