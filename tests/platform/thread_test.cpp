// Threads as waitable objects, priorities, ids, Synchronize and the clocks.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/messages.h"
#include "platform/sync.h"

namespace platform {
namespace {

// Waits for the thread (pumping the caller's messages) and closes it.
void JoinPumping(HANDLE thread) {
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
    while (PumpOneMessage()) {
    }
  CloseHandle(thread);
}

TEST(Threads, HandleIsSignalledWhenTheBodyReturns) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> idInside{0};
  DWORD id = 0;
  HANDLE thread = CreateThread(
      [&] {
        idInside = GetCurrentThreadId();
        WaitForSingleObject(release, INFINITE);
      },
      &id);
  ASSERT_NE(thread, 0);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "stays signalled";
  EXPECT_EQ(idInside.load(), id);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_LT(id, 100000u) << "ids are small numbers";
  EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
  CloseHandle(thread);
  CloseHandle(release);
}

TEST(Threads, WaitAllOnThreadsAndAThrowingBodyStillEnds) {
  HANDLE threads[2] = {CreateThread([] { throw std::runtime_error("escaped on purpose"); }, nullptr),
                       CreateThread([] { Sleep(0); }, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 10000), WAIT_OBJECT_0);
  for (HANDLE t : threads) CloseHandle(t);
}

TEST(Threads, PrioritiesAreRecordedAndNeverRefusedBySystem) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread([&] { WaitForSingleObject(release, INFINITE); }, nullptr);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
  // Raising back up is refused by Linux without privileges; the call must
  // still succeed and report the step asked for.
  for (int step : {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_LOWEST,
                   THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                   THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST}) {
    EXPECT_TRUE(SetThreadPriority(thread, step)) << step;
    EXPECT_EQ(GetThreadPriority(thread), step);
  }
  EXPECT_FALSE(SetThreadPriority(thread, 7));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetEvent(release);
  WaitForSingleObject(thread, 10000);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_LOWEST)) << "after the end";
  CloseHandle(thread);
  EXPECT_FALSE(SetThreadPriority(thread, THREAD_PRIORITY_NORMAL));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ERROR_RETURN);
  CloseHandle(release);
}

TEST(Synchronize, RunsOnTheMainThreadWhileItPumpsAndCarriesExceptionsBack) {
  SetMainThreadId(GetCurrentThreadId());
  ASSERT_EQ(GetMainThreadId(), GetCurrentThreadId()) << "the test program's main thread";
  std::atomic<DWORD> ranOn{0};
  std::string caught;  // written by the worker, read after it ended
  HANDLE worker = CreateThread(
      [&] {
        Synchronize([&] { ranOn = GetCurrentThreadId(); });
        try {
          Synchronize([] { throw std::runtime_error("from the main thread"); });
        } catch (const std::runtime_error& e) {
          caught = e.what();
        }
      },
      nullptr);
  JoinPumping(worker);
  EXPECT_EQ(ranOn.load(), GetCurrentThreadId());
  EXPECT_EQ(caught, "from the main thread");

  bool direct = false;
  Synchronize([&] { direct = true; });
  EXPECT_TRUE(direct) << "on the main thread the call is direct";
}

}  // namespace
}  // namespace platform
