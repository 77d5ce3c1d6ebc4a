// The Linux stand-in's clocks: nanosecond counters and the kernel's name.
#include "platform/clock.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <string>

#include "platform/sync.h"

namespace platform {
namespace {

TEST(Clocks, CountersAdvanceAndTheSystemIsDescribed) {
  std::int64_t frequency = 0, before = 0, after = 0;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(frequency, 1'000'000'000);
  DWORD tickBefore = timeGetTime();
  QueryPerformanceCounter(&before);
  Sleep(20);
  QueryPerformanceCounter(&after);
  EXPECT_GE(after - before, frequency / 50);
  EXPECT_GE(static_cast<DWORD>(timeGetTime() - tickBefore), 20u);
  EXPECT_LE(static_cast<DWORD>(GetTickCount() - tickBefore), 60000u);

  utsname name{};
  ASSERT_EQ(uname(&name), 0);
  EXPECT_EQ(SystemDescription(), std::string(name.sysname) + " " + name.release);
  EXPECT_TRUE(IsWindowsNT());
}

}  // namespace
}  // namespace platform
