// Events, waits and the re-entrant lock.
#include "platform/sync.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "tests/support/Wine.h"

namespace platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Closes the handles of a test however it ends.
struct Events {
  std::vector<HANDLE> handles;
  HANDLE Add(BOOL manual, BOOL initial) {
    HANDLE h = CreateEventA(nullptr, manual, initial, nullptr);
    handles.push_back(h);
    return h;
  }
  ~Events() {
    for (HANDLE h : handles) CloseHandle(h);
  }
};

TEST(Events, AutoResetReleasesOneWaitManualStaysSet) {
  struct Case {
    BOOL manual;
    DWORD secondWait;
  };
  for (Case c : {Case{FALSE, WAIT_TIMEOUT}, Case{TRUE, WAIT_OBJECT_0}}) {
    Events e;
    HANDLE h = e.Add(c.manual, FALSE);
    ASSERT_NE(h, 0);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(h));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0) << "manual " << c.manual;
    EXPECT_EQ(WaitForSingleObject(h, 0), c.secondWait) << "manual " << c.manual;
    EXPECT_TRUE(ResetEvent(h));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
  }
  Events e;
  EXPECT_EQ(WaitForSingleObject(e.Add(FALSE, TRUE), 0), WAIT_OBJECT_0) << "initially set";
}

TEST(Events, WaitAnyLowestIndexWinsAndConsumesOnlyIt) {
  Events e;
  HANDLE h[3] = {e.Add(FALSE, FALSE), e.Add(FALSE, TRUE), e.Add(FALSE, TRUE)};
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_TIMEOUT);
}

TEST(Events, WaitAllTakesNothingUntilAllAreSet) {
  Events e;
  HANDLE h[2] = {e.Add(FALSE, TRUE), e.Add(FALSE, FALSE)};
  EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 10), WAIT_TIMEOUT);
  // The set auto-reset event must not have been consumed by the failed wait.
  std::thread setter([&] { SetEvent(h[1]); });
  EXPECT_EQ(WaitForMultipleObjects(2, h, TRUE, 5000), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(h[1], 0), WAIT_TIMEOUT);
}

TEST(Events, BadWaitsFail) {
  Events e;
  HANDLE good = e.Add(TRUE, TRUE);
  // A handle once closed may be given out again at once (the system's
  // handle tables reuse their slots): a value no handle has stands for it.
  const HANDLE closed = 0x7FFFFF0;
  struct Case {
    std::vector<HANDLE> handles;
    BOOL waitAll;
    DWORD error;
  };
  const Case cases[] = {
      {{}, FALSE, ERROR_INVALID_PARAMETER},
      {{good, closed}, FALSE, ERROR_INVALID_HANDLE},
      {{0}, FALSE, ERROR_INVALID_HANDLE},
      {std::vector<HANDLE>(MAXIMUM_WAIT_OBJECTS + 1, good), FALSE, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(c.handles.size()), c.handles.data(),
                                     c.waitAll, 0),
              WAIT_FAILED);
    EXPECT_EQ(GetLastError(), c.error) << c.handles.size() << " handles";
  }
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Events, WaitingForAllOfOneHandleTwiceFails) {
  if (tests::UnderWine())
    GTEST_SKIP() << "Wine waits for a handle named twice in a wait for all (WAIT_OBJECT_0) where "
                    "Windows fails the call with ERROR_INVALID_PARAMETER";
  Events e;
  HANDLE good = e.Add(TRUE, TRUE);
  HANDLE twice[2] = {good, good};
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Events, TimeoutIsHonouredAndASetWakesAWaiter) {
  Events e;
  HANDLE h = e.Add(FALSE, FALSE);
  auto start = steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(h, 30), WAIT_TIMEOUT);
  EXPECT_GE(steady_clock::now() - start, milliseconds(30));

  // Several waiters on one auto-reset event: each set releases exactly one.
  constexpr int kWaiters = 4;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(h, 10000) == WAIT_OBJECT_0) ++released;
    });
  for (int i = 0; i < kWaiters; ++i) {
    SetEvent(h);
    while (released.load() < i + 1) std::this_thread::sleep_for(milliseconds(1));
  }
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), kWaiters);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
}

// Enters twice on purpose, which the lock annotations do not model.
void EnterTwiceAndProbe(CriticalSection& section) TESMAR_NO_THREAD_SAFETY_ANALYSIS {
  section.Enter();
  EXPECT_TRUE(section.TryEnter());
  std::atomic<bool> otherGotIt{true};
  std::thread([&]() TESMAR_NO_THREAD_SAFETY_ANALYSIS { otherGotIt = section.TryEnter(); }).join();
  EXPECT_FALSE(otherGotIt.load());
  section.Leave();
  section.Leave();
  std::thread([&]() TESMAR_NO_THREAD_SAFETY_ANALYSIS {
    otherGotIt = section.TryEnter();
    if (otherGotIt) section.Leave();
  }).join();
  EXPECT_TRUE(otherGotIt.load());
}

TEST(CriticalSection, IsReentrantAndExcludesOtherThreads) {
  CriticalSection section;
  EnterTwiceAndProbe(section);
}

TEST(Interlocked, CountsFromManyThreads) {
  std::atomic<LONG> counter{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int j = 0; j < 1000; ++j) {
        InterlockedIncrement(counter);
        InterlockedIncrement(counter);
        InterlockedDecrement(counter);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter.load(), 4000);
  EXPECT_EQ(InterlockedExchange(counter, 7), 4000);
}

// exit() destroys the calling thread's thread_local objects and then runs
// the static destructors, which may still set events (a panel that loses
// its display ends that way with ports open). A wake-up from there must
// neither touch the thread's destroyed wait state nor get lost.
TEST(EventsDeathTest, StaticDestructorsRunByExitStillWakeWaiters) {
  EXPECT_EXIT(
      {
        static const HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        static const HANDLE answer = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        std::thread([] {
          for (;;) {
            WaitForSingleObject(go, INFINITE);
            SetEvent(answer);
          }
        }).detach();
        // A round before exit: this thread has handed out wake-ups.
        SetEvent(go);
        if (WaitForSingleObject(answer, 5000) != WAIT_OBJECT_0) _exit(2);
        struct AtExit {
          AtExit() = default;
          AtExit(const AtExit&) = delete;
          AtExit& operator=(const AtExit&) = delete;
          ~AtExit() {
            SetEvent(go);
            _exit(WaitForSingleObject(answer, 5000) == WAIT_OBJECT_0 ? 0 : 3);
          }
        };
        static AtExit atExit;
        std::exit(1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform
