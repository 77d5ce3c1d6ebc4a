// The worker threads on the fake port: events, output, purges, priorities,
// faults and the end of the threads.
#include <gtest/gtest.h>

#include <string>

#include "DeviceTestUtil.h"
#include "framework/Thread.h"
#include "platform/serial.h"

namespace device_test {
namespace {

using framework::tpHigher;
using framework::tpHighest;
using framework::tpNormal;

TEST_F(FakePortTest, RingIsSeenEvenAfterTheLineFellAgain) {
  ASSERT_EQ(Open(), 0);
  fake->Ring();
  EXPECT_TRUE(PumpUntil([&] { return (dispatcher->ReadModemStatus(0xFF) & 0x04) != 0; }));
  // Shown once: cleared by a read that keeps no change bit, it stays clear.
  dispatcher->ReadModemStatus(0xF0);
  EXPECT_EQ(dispatcher->ReadModemStatus(0xFF) & 0x04, 0);
}

// Bytes the device holds in pending writes.
DWORD DeviceOutQueue(Probe& d) {
  DWORD errors = 0;
  platform::COMSTAT status;
  platform::ClearCommError(d.DeviceHandle.load(), &errors, &status);
  return status.cbOutQue;
}

TEST_F(FakePortTest, WrappedOutputLeavesInOneWriteInQueueOrder) {
  // The ring wraps only when a write completes while the next block is
  // still pending. A completion may take the next write along at once (the
  // fake accepts writes while it releases), so the set-up is retried until
  // the order of events came out as needed.
  bool wrapped = false;
  for (int attempt = 0; attempt < 50 && !wrapped; ++attempt) {
    fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kComplete);
    fake->ClearWritten();
    ASSERT_EQ(Open(4096, 16), 0);
    fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kPend);
    ASSERT_EQ(dispatcher->WriteBlock("0123456789", 10), 0);
    ASSERT_TRUE(PumpUntil([&] { return DeviceOutQueue(*dispatcher) == 10; }));
    ASSERT_EQ(dispatcher->WriteBlock("abcd", 4), 0);
    fake->CompletePendingWrites();
    ASSERT_TRUE(PumpUntil([&] { return fake->Written().size() >= 10; }));
    PumpUntil([&] { return DeviceOutQueue(*dispatcher) == 4; }, 100ms);
    if (DeviceOutQueue(*dispatcher) == 4) {
      wrapped = true;
      // Queued while "abcd" is pending: runs over the end of the ring.
      ASSERT_EQ(dispatcher->WriteBlock("efABCD", 6), 0);
      fake->CompletePendingWrites();
      // The wrapped six leave in one write (or at once, within the release).
      EXPECT_TRUE(PumpUntil([&] {
        return DeviceOutQueue(*dispatcher) == 6 || fake->Written().size() == 20;
      }));
      EXPECT_TRUE(PumpUntil([&] {
        fake->CompletePendingWrites();
        return dispatcher->OutputPending() == 0;
      }));
      EXPECT_EQ(fake->Written(), "0123456789abcdefABCD");
    }
    dispatcher->CloseLine();
  }
  EXPECT_TRUE(wrapped);
}

TEST_F(FakePortTest, OutputPurgeAbandonsAPendingWriteAndEmptiesTheRing) {
  ASSERT_EQ(Open(4096, 64), 0);
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kPend);
  ASSERT_EQ(dispatcher->WriteBlock("pending", 7), 0);
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->OutputPending() == 7; }));
  EXPECT_EQ(dispatcher->FlushOutput(), 0);
  EXPECT_EQ(dispatcher->OutputPending(), 0);
  EXPECT_EQ(fake->Purges().back(), 5u);
  // The output thread still serves what is queued afterwards.
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kComplete);
  ASSERT_EQ(dispatcher->WriteBlock("after", 5), 0);
  EXPECT_TRUE(PumpUntil([&] { return fake->Written() == "after"; }));
}

TEST_F(FakePortTest, OutputPurgeGoesOnOnlyOnTheOutputThreadsOwnAnswer) {
  ASSERT_EQ(Open(4096, 64), 0);
  // Each round the output thread holds a finished write when the purge
  // begins. A purge that goes on before the thread has answered (without
  // waiting, or on another worker's ThreadAck) races it for the ring, and
  // the thread's late step then sends what the purge discarded; a round
  // catches that only when the purge wins, hence twenty.
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    fake->ClearWritten();
    fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kPend);
    ASSERT_EQ(dispatcher->WriteBlock("pending", 7), 0);
    ASSERT_TRUE(PumpUntil([&] { return DeviceOutQueue(*dispatcher) == 7; }));
    std::atomic<bool> done{false};
    std::thread purge;
    {
      platform::CriticalSectionLock ring(dispatcher->OutputLock);
      fake->CompletePendingWrites();  // the output thread waits for the ring
      purge = std::thread([&] {
        EXPECT_EQ(dispatcher->FlushOutput(), 0);
        done.store(true);
      });
      // The other workers set ThreadAck as they start and end: that is no
      // answer to the purge.
      for (int i = 0; i < 20; ++i) {
        platform::SetEvent(dispatcher->ThreadAck.load());
        std::this_thread::sleep_for(1ms);
      }
    }
    const bool answered = PumpUntil([&] { return done.load(); }, 5s);
    if (!answered) {
      // Ends the output thread, whose end releases the purge.
      dispatcher->StopRequested.store(true);
      platform::SetEvent(dispatcher->OutputFlush.load());
    }
    purge.join();
    ASSERT_TRUE(answered) << "the output thread answered, and the purge did not go on";
    fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kComplete);
    ASSERT_EQ(dispatcher->WriteBlock("after", 5), 0);
    EXPECT_TRUE(PumpUntil([&] { return dispatcher->OutputPending() == 0 && fake->Written().size() >= 12; }));
    EXPECT_EQ(fake->Written(), "pendingafter");
  }
}

TEST_F(FakePortTest, BytesThatArriveBeforeTheEventMaskAreFetched) {
  // Arrives after the open's last look at the device and before the
  // communications thread has armed its mask: no event reports it.
  class EarlyBytes : public Probe {
   public:
    explicit EarlyBytes(platform::FakeSerialDevice& device) : device_(device) {}
    void StartThreads() override {
      device_.InjectReceived("x");
      Probe::StartThreads();
    }

   private:
    platform::FakeSerialDevice& device_;
  };
  dispatcher = std::make_unique<EarlyBytes>(*fake);
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->CharAvailable(); }, 20000ms));
}

struct RingCase {
  const char* what;
  std::int32_t tail, head;
  bool full;
  const char* block;   // what the next write takes
  std::int32_t moved;  // what that write moved
  std::int32_t left;   // the size of the block after it
};

class OutputRingTest : public testing::TestWithParam<RingCase> {};

TEST_P(OutputRingTest, TakesTheQueuedBytesInOrderInOneBlock) {
  const RingCase& c = GetParam();
  std::string bytes = "0123456789abcdef";
  std::int32_t head = c.head;
  std::int32_t tail = c.tail;
  bool full = c.full;
  device::TOutputRing ring{reinterpret_cast<BYTE*>(bytes.data()), 16, head, tail, full};
  const std::int32_t count = ring.NextBlock();
  EXPECT_EQ(std::string(bytes.data() + tail, count), c.block);
  ring.Advance(c.moved);
  EXPECT_EQ(ring.NextBlock(), c.left);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutputRingTest,
    testing::Values(RingCase{"empty", 5, 5, false, "", 0, 0},
                    RingCase{"tail before head", 2, 6, false, "2345", 4, 0},
                    RingCase{"up to the end", 12, 0, false, "cdef", 4, 0},
                    RingCase{"wrapped", 12, 4, false, "cdef0123", 8, 0},
                    RingCase{"partly sent", 2, 6, false, "2345", 3, 1},
                    RingCase{"full from the start", 0, 0, true, "0123456789abcdef", 16, 0},
                    RingCase{"full and wrapped", 10, 10, true, "abcdef0123456789", 16, 0},
                    RingCase{"full, nothing moved", 10, 10, true, "abcdef0123456789", 0, 16}),
    CaseName());

TEST_F(FakePortTest, WriteRefusedAtOnceIsDropped) {
  ASSERT_EQ(Open(4096, 64), 0);
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kFailAtOnce);
  ASSERT_EQ(dispatcher->WriteBlock("lost", 4), 0);
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->OutputPending() == 0; }));
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kComplete);
  ASSERT_EQ(dispatcher->WriteBlock("kept", 4), 0);
  EXPECT_TRUE(PumpUntil([&] { return fake->Written() == "kept"; }));
}

TEST_F(FakePortTest, WriteFailingOnCompletionLeavesTheOutputServed) {
  ASSERT_EQ(Open(4096, 64), 0);
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kPend);
  ASSERT_EQ(dispatcher->WriteBlock("again", 5), 0);
  ASSERT_TRUE(PumpUntil([&] { return DeviceOutQueue(*dispatcher) == 5; }));
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kComplete);
  fake->FailPendingWrites(platform::ERROR_GEN_FAILURE);
  // The block is written again, ahead of what was queued after it.
  ASSERT_EQ(dispatcher->WriteBlock("!", 1), 0);
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->OutputPending() == 0; }));
  EXPECT_TRUE(PumpUntil([&] { return fake->Written().size() >= 6; }));
  EXPECT_EQ(fake->Written(), "again!");
}

TEST_F(FakePortTest, AWriteToAnIdleLineGoesOutAtOnceAndNeverOvertakesQueuedOutput) {
  ASSERT_EQ(Open(4096, 64), 0);
  // Idle line: the device has the block when WriteBlock returns.
  ASSERT_EQ(dispatcher->WriteBlock("now", 3), 0);
  EXPECT_EQ(fake->Written(), "now");
  EXPECT_EQ(dispatcher->OutputPending(), 0);
  // A block the device holds pending keeps the next ones behind it.
  fake->ClearWritten();
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kPend);
  ASSERT_EQ(dispatcher->WriteBlock("0123", 4), 0);
  ASSERT_TRUE(PumpUntil([&] { return DeviceOutQueue(*dispatcher) == 4; }));
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kComplete);
  ASSERT_EQ(dispatcher->WriteBlock("45", 2), 0);
  EXPECT_EQ(fake->Written(), "");
  EXPECT_EQ(dispatcher->OutputPending(), 6);
  fake->CompletePendingWrites();
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->OutputPending() == 0; }));
  EXPECT_EQ(fake->Written(), "012345");
}

TEST_F(FakePortTest, BoostAndRs485SetThePriorities) {
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(dispatcher->ComPriority(), tpNormal);
  dispatcher->SetThreadBoost(1);
  EXPECT_EQ(dispatcher->ComPriority(), tpHigher);
  EXPECT_EQ(dispatcher->DispPriority(), tpHigher);
  EXPECT_EQ(dispatcher->OutPriority(), tpHigher);
  dispatcher->SetRs485(true);
  EXPECT_EQ(dispatcher->OutPriority(), tpHighest);
  EXPECT_EQ(dispatcher->ComPriority(), tpHigher);
  dispatcher->SetRs485(false);
  EXPECT_EQ(dispatcher->OutPriority(), tpHigher);
}

TEST_F(FakePortTest, VanishedDeviceEndsTheEventThreadAndStillCloses) {
  ASSERT_EQ(Open(), 0);
  fake->Vanish();
  // The failed event wait ends the communications thread only.
  EXPECT_TRUE(PumpUntil([&] { return dispatcher->ActiveThreads.load() == 2; }));
  EXPECT_TRUE(dispatcher->ThreadsStarted.load());
  dispatcher->CloseLine();
  EXPECT_FALSE(dispatcher->ThreadsStarted.load());
  EXPECT_FALSE(dispatcher->AnyThreadObject());
  // Opening a vanished device fails as a missing one.
  EXPECT_EQ(Open(), -2);
}

TEST_F(FakePortTest, DestructionClosesAnOpenLine) {
  ASSERT_EQ(Open(), 0);
  dispatcher.reset();
  EXPECT_FALSE(fake->IsOpen());
}

}  // namespace
}  // namespace device_test
