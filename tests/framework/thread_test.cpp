// TThread: start, suspension, termination, self-freeing, OnTerminate on the
// main thread, priorities and Synchronize while the owner waits.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "framework/Thread.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace framework {
namespace {

// Runs a function as its Execute.
class TLambdaThread : public TThread {
 public:
  TLambdaThread(bool suspended, std::function<void(TLambdaThread&)> body)
      : TThread(suspended), body_(std::move(body)) {}
  using TThread::SetReturnValue;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(TLambdaThread&)> body_;
};

// Tells the test when it is destroyed.
class TSelfFreeing : public TLambdaThread {
 public:
  TSelfFreeing(std::function<void(TLambdaThread&)> body, platform::HANDLE destroyed)
      : TLambdaThread(false, std::move(body)), destroyed_(destroyed) {}
  ~TSelfFreeing() override { platform::SetEvent(destroyed_); }

 private:
  platform::HANDLE destroyed_;
};

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetMainThreadId(platform::GetCurrentThreadId()); }

  // Waits for the event, handling the main thread's messages meanwhile.
  static bool WaitPumping(platform::HANDLE event) {
    platform::DWORD r;
    while ((r = platform::MsgWaitForMultipleObjects(1, &event, platform::FALSE, 10000,
                                                    platform::QS_ALLINPUT)) ==
           platform::WAIT_OBJECT_0 + 1)
      while (platform::PumpOneMessage()) {
      }
    return r == platform::WAIT_OBJECT_0;
  }
};

TEST_F(ThreadTest, RunsAtOnceOrAfterStartAndReturnsItsValue) {
  for (bool suspended : {false, true}) {
    std::atomic<platform::DWORD> ranOn{0};
    auto thread = TThread::New<TLambdaThread>(suspended, [&](TLambdaThread& self) {
      ranOn = platform::GetCurrentThreadId();
      self.SetReturnValue(42);
    });
    EXPECT_EQ(thread->Suspended(), suspended);
    if (suspended) {
      EXPECT_EQ(platform::WaitForSingleObject(thread->Handle(), 20), platform::WAIT_TIMEOUT);
      EXPECT_EQ(ranOn.load(), 0u);
      thread->Resume();
    }
    EXPECT_EQ(thread->WaitFor(), 42u);
    EXPECT_TRUE(thread->Finished());
    EXPECT_EQ(ranOn.load(), thread->ThreadID());
    EXPECT_THROW(thread->Start(), Exception) << "started twice";
  }
}

TEST_F(ThreadTest, OwnerEndsARunningOrNeverStartedThread) {
  std::atomic<int> rounds{0};
  std::atomic<bool> ran{false};
  {
    auto looping = TThread::New<TLambdaThread>(false, [&](TLambdaThread& self) {
      while (!self.Terminated()) {
        ++rounds;
        platform::Sleep(1);
      }
    });
    auto never = TThread::New<TLambdaThread>(true, [&](TLambdaThread&) { ran = true; });
    EXPECT_THROW(never->WaitFor(), Exception) << "waiting for a never-started thread";
    while (rounds.load() == 0) platform::Sleep(1);
  }  // both deleters end their threads here
  EXPECT_FALSE(ran.load());
  EXPECT_GT(rounds.load(), 0);
}

TEST_F(ThreadTest, FreeOnTerminateDeletesItselfAfterOnTerminateOnTheMainThread) {
  platform::HANDLE destroyed = platform::CreateEventA(nullptr, platform::TRUE, platform::FALSE, nullptr);
  platform::HANDLE go = platform::CreateEventA(nullptr, platform::TRUE, platform::FALSE, nullptr);
  std::atomic<platform::DWORD> terminateRanOn{0};
  std::atomic<bool> deletedBeforeOnTerminate{false};
  auto* thread = TThread::NewFreeOnTerminate<TSelfFreeing>(
      [&](TLambdaThread&) {
        platform::WaitForSingleObject(go, platform::INFINITE);
        throw std::runtime_error("lost on purpose");  // reported, not fatal to the test
      },
      destroyed);
  EXPECT_TRUE(thread->FreeOnTerminate());
  thread->OnTerminate = [&](TObject*) {
    terminateRanOn = platform::GetCurrentThreadId();
    deletedBeforeOnTerminate = platform::WaitForSingleObject(destroyed, 0) == platform::WAIT_OBJECT_0;
  };
  thread = nullptr;  // from here the thread owns itself
  platform::SetEvent(go);
  ASSERT_TRUE(WaitPumping(destroyed));
  EXPECT_EQ(terminateRanOn.load(), platform::GetCurrentThreadId());
  EXPECT_FALSE(deletedBeforeOnTerminate.load());
  platform::CloseHandle(destroyed);
  platform::CloseHandle(go);
}

TEST_F(ThreadTest, ExceptionIsKeptAndSynchronizeWorksWhileTheOwnerWaits) {
  std::atomic<platform::DWORD> syncRanOn{0};
  auto thread = TThread::New<TLambdaThread>(false, [&](TLambdaThread&) {
    // The owner is blocked in WaitFor: it must still run this.
    TThread::Synchronize([&] { syncRanOn = platform::GetCurrentThreadId(); });
    throw std::runtime_error("kept");
  });
  thread->WaitFor();
  EXPECT_EQ(syncRanOn.load(), platform::GetCurrentThreadId());
  ASSERT_TRUE(thread->FatalException());
  EXPECT_THROW(std::rethrow_exception(thread->FatalException()), std::runtime_error);
}

TEST_F(ThreadTest, PrioritiesRoundTripAndSelfWaitIsRefused) {
  std::atomic<bool> selfWaitRefused{false};
  platform::HANDLE release = platform::CreateEventA(nullptr, platform::TRUE, platform::FALSE, nullptr);
  auto thread = TThread::New<TLambdaThread>(false, [&](TLambdaThread& self) {
    try {
      self.WaitFor();
    } catch (const Exception&) {
      selfWaitRefused = true;
    }
    platform::WaitForSingleObject(release, platform::INFINITE);
  });
  EXPECT_EQ(thread->Priority(), tpNormal);
  for (TThreadPriority p : {tpIdle, tpTimeCritical, tpLowest, tpLower, tpHigher, tpHighest, tpNormal}) {
    thread->SetPriority(p);
    EXPECT_EQ(thread->Priority(), p);
  }
  platform::SetEvent(release);
  thread->WaitFor();
  EXPECT_TRUE(selfWaitRefused.load());
  platform::CloseHandle(release);
}

}  // namespace
}  // namespace framework
