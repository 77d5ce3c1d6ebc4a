// Timers: firing through the event loop, re-enabling, disabling while due,
// interval changes, and exceptions from a handler.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "framework/ExtCtrls.h"

namespace framework {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class TimerTest : public testing::Test {
 protected:
  void SetUp() override {
    timer = NewComponent<TTimer>(owner);
    timer->SetEnabled(false);
    timer->SetOnTimer([this](TObject*) {
      ++ticks;
      fired.push_back(Clock::now());
    });
  }
  TComponent owner;
  TTimer* timer = nullptr;
  int ticks = 0;
  std::vector<Clock::time_point> fired;
};

TEST_F(TimerTest, FiresThroughTheLoopWhileEnabled) {
  timer->SetInterval(5);
  timer->SetEnabled(true);
  ASSERT_TRUE(test::PumpUntil([&] { return ticks >= 3; }));
  timer->SetEnabled(false);
  int seen = ticks;
  test::PumpFor(30ms);
  EXPECT_EQ(ticks, seen);
  // No handler or a zero interval: it does not run.
  timer->SetInterval(0);
  timer->SetEnabled(true);
  EXPECT_FALSE(timer->Running());
}

TEST_F(TimerTest, EnablingAnEnabledTimerKeepsItsRunningInterval) {
  timer->SetInterval(100);
  timer->SetEnabled(true);
  // Re-enabled every few milliseconds, a timer that restarted on each
  // enable would never come due; one that keeps its interval ticks.
  const auto giveUp = Clock::now() + 5s;
  while (ticks == 0 && Clock::now() < giveUp) {
    timer->SetEnabled(true);
    Application->ProcessMessages();
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_GE(ticks, 1);
}

TEST_F(TimerTest, ADisabledTimerNeverFiresEvenWhenAlreadyDue) {
  timer->SetInterval(1);
  timer->SetEnabled(true);
  // The loop does not run meanwhile, so the tick is due when disabled.
  std::this_thread::sleep_for(20ms);
  timer->SetEnabled(false);
  test::PumpFor(30ms);
  EXPECT_EQ(ticks, 0);
}

TEST_F(TimerTest, ChangingTheIntervalRestartsTheTimer) {
  timer->SetInterval(150);
  timer->SetEnabled(true);
  test::PumpFor(100ms);
  // On a slow machine the first interval may have run out already; what
  // counts is the first tick after the change, which is never early.
  const int before = ticks;
  auto changed = Clock::now();
  timer->SetInterval(150);  // the same value: nothing changes
  timer->SetInterval(151);
  ASSERT_TRUE(test::PumpUntil([&] { return ticks > before; }));
  EXPECT_GE(fired[static_cast<std::size_t>(before)] - changed, 140ms);
}

TEST_F(TimerTest, AnExceptionFromTheHandlerReachesTheApplicationAndTheLoopGoesOn) {
  test::ExceptionCatcher caught;
  timer->SetOnTimer([this](TObject*) {
    if (++ticks == 1) throw EConvertError("'xyz' is not a valid integer value");
  });
  timer->SetInterval(5);
  timer->SetEnabled(true);
  ASSERT_TRUE(test::PumpUntil([&] { return ticks >= 3; }));
  ASSERT_EQ(caught.texts.size(), 1u);
  EXPECT_EQ(caught.texts[0], "'xyz' is not a valid integer value");
  EXPECT_EQ(caught.senders[0], timer);
}

TEST_F(TimerTest, ALoadedTimerStartsOnlyAfterLoading) {
  TTimer loading;
  loading.Loading();
  loading.SetInterval(5);
  loading.SetOnTimer([](TObject*) {});
  EXPECT_FALSE(loading.Running());
  loading.Loaded();
  EXPECT_TRUE(loading.Running());
}

}  // namespace
}  // namespace framework
