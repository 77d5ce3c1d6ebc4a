// Receivers run by the dispatch thread on the fake port: synchronized
// methods on the main thread, and a receiver whose exception ends the
// dispatch thread without leaving the stop waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <stdexcept>
#include <thread>

#include "DeviceTestUtil.h"
#include "platform/thread.h"

namespace device_test {
namespace {

std::atomic<int> throwingCalls{0};

void ThrowingReceiver(platform::UINT, platform::WPARAM, platform::LPARAM) {
  ++throwingCalls;
  throw std::runtime_error("receiver failed");
}

TEST_F(FakePortTest, SynchronizedMethodRunsOnTheMainThreadWhileTheWorkerWaits) {
  ASSERT_EQ(Open(), 0);
  dispatcher->SetAvailLength(1);
  const DWORD mainThread = platform::GetCurrentThreadId();
  int calls = 0;
  bool onMain = true;
  std::string read;
  ASSERT_GT(dispatcher->AddMethodReceiver(
                [&](platform::UINT message, platform::WPARAM, platform::LPARAM) {
                  ++calls;
                  onMain = onMain && platform::GetCurrentThreadId() == mainThread;
                  EXPECT_EQ(message, dispatcher::MsgTriggerAvail);
                  BYTE c = 0;
                  while (dispatcher->ReadChar(c) == 0) read.push_back(static_cast<char>(c));
                },
                true),
            0);
  fake->InjectReceived("abc");
  EXPECT_TRUE(PumpUntil([&] { return read == "abc"; }));
  EXPECT_GE(calls, 1);
  EXPECT_TRUE(onMain);
}

TEST_F(FakePortTest, ReceiverExceptionEndsTheDispatchThreadAndIsReportedOnce) {
  std::atomic<int> reports{0};
  dispatcher->OnThreadException = [&](std::exception_ptr) { ++reports; };
  ASSERT_EQ(Open(), 0);
  throwingCalls = 0;
  dispatcher->SetAvailLength(1);
  ASSERT_EQ(dispatcher->AddProcedureReceiver(&ThrowingReceiver), 0);
  fake->InjectReceived("x");
  ASSERT_TRUE(PumpUntil([&] { return dispatcher->ActiveThreads.load() == 2; }));
  EXPECT_EQ(reports.load(), 1);
  EXPECT_EQ(throwingCalls.load(), 1);
  EXPECT_TRUE(dispatcher->ThreadsStarted.load());
  // The others keep serving the line; the close does not wait for the
  // thread that is gone.
  ASSERT_EQ(dispatcher->WriteBlock("out", 3), 0);
  EXPECT_TRUE(PumpUntil([&] { return fake->Written() == "out"; }));
  dispatcher->CloseLine();
  EXPECT_FALSE(dispatcher->ThreadsStarted.load());
  EXPECT_FALSE(dispatcher->AnyThreadObject());
}

TEST_F(FakePortTest, StopServesTheSynchronizedCallTheDispatchThreadWaitsIn) {
  ASSERT_EQ(Open(), 0);
  dispatcher->SetAvailLength(1);
  int calls = 0;
  ASSERT_GT(dispatcher->AddMethodReceiver(
                [&](platform::UINT, platform::WPARAM, platform::LPARAM) { ++calls; }, true),
            0);
  fake->InjectReceived("x");
  // Not pumping: the dispatch thread now waits for this thread.
  while (!dispatcher->Dispatching.load()) std::this_thread::sleep_for(1ms);
  dispatcher->CloseLine();  // only marks the close pending
  EXPECT_EQ(calls, 0);
  // The destruction stops the threads and serves the call meanwhile.
  dispatcher.reset();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(fake->IsOpen());
}

TEST_F(FakePortTest, ABacklogLargerThanTheRingArrivesWholeWithoutWaitingForWakes) {
  // No timed wakes: only the one arrival's event and the passes the
  // backlog asks for can move the characters.
  dispatcher->DispatchWakeMs = platform::INFINITE;
  ASSERT_EQ(Open(65536), 0);
  dispatcher->SetAvailLength(1);
  std::mutex mutex;
  std::string read;
  ASSERT_GT(dispatcher->AddMethodReceiver(
                [&](platform::UINT, platform::WPARAM, platform::LPARAM) {
                  std::string block(static_cast<std::size_t>(dispatcher->UnreadCount()), '\0');
                  ASSERT_EQ(dispatcher->ReadBlock(block.data(), static_cast<std::int32_t>(block.size())),
                            static_cast<std::int32_t>(block.size()));
                  std::lock_guard guard(mutex);
                  read += block;
                },
                false),
            0);
  std::string sent;
  for (int i = 0; i < 3 * dispatcher::InRingSize + 123; ++i) sent += static_cast<char>(i % 251);
  fake->InjectReceived(sent);
  EXPECT_TRUE(PumpUntil([&] {
    std::lock_guard guard(mutex);
    return read.size() >= sent.size();
  }));
  std::lock_guard guard(mutex);
  EXPECT_TRUE(read == sent) << read.size() << " of " << sent.size() << " characters";
  EXPECT_GE(dispatcher->DispatchPasses.load(), 4u) << "one pass per ring's worth at least";
}

}  // namespace
}  // namespace device_test
