// The fill step on one thread against reads, writes and status queries on
// another, with the trace and the log recording: nothing lost, nothing
// repeated, and (under ThreadSanitizer) no race.
#include <gtest/gtest.h>

#include <thread>

#include "FakeDevice.h"

namespace dispatcher_test {
namespace {

BYTE Pattern(std::size_t i) { return static_cast<BYTE>(i * 7 + 3); }

TEST(Concurrency, FillAgainstReadsAndWrites) {
  constexpr std::size_t kTotal = 300000;
  FakeDevice device(4096, 256);
  ASSERT_EQ(device.StartTrace(100000), 0);
  ASSERT_EQ(device.StartLog(1 << 20), 0);

  std::atomic<bool> fillDone{false};
  std::atomic<bool> stop{false};
  std::thread dispatch([&] {
    std::size_t fed = 0;
    while (fed < kTotal && !stop) {
      const std::size_t n = std::min<std::size_t>(1 + fed % 997, kTotal - fed);
      std::vector<BYTE> chunk(n);
      for (std::size_t i = 0; i < n; ++i) chunk[i] = Pattern(fed + i);
      device.Receive(chunk);
      if (fed % 5 == 0) device.AddErrors(dispatcher::LineErrorParity);
      fed += n;
      device.FillDispatchBuffer();
    }
    while (device.Pending() > 0 && !stop) device.FillDispatchBuffer();
    fillDone = true;
  });
  // Reading stops at the first mismatch; the dispatch thread then stops too.
  struct Joiner {
    std::thread& thread;
    std::atomic<bool>& stop;
    ~Joiner() {
      stop = true;
      thread.join();
    }
  } joiner{dispatch, stop};

  std::vector<BYTE> got;
  got.reserve(kTotal);
  std::size_t round = 0;
  while (got.size() < kTotal) {
    ++round;
    if (round % 3 == 0) {
      const std::int32_t n = std::min<std::int32_t>(device.UnreadCount(), 300);
      std::vector<BYTE> block(n);
      ASSERT_EQ(device.ReadBlock(block.data(), n), n);
      got.insert(got.end(), block.begin(), block.end());
    } else {
      BYTE c = 0;
      if (device.CharAvailable()) {
        ASSERT_EQ(device.ReadChar(c), 0);
        got.push_back(c);
      } else if (fillDone.load() && !device.CharAvailable()) {
        ASSERT_EQ(device.ReadChar(c), errors::ecBufferIsEmpty);  // nothing more can come
      }
    }
    if (round % 50 == 0) {
      ASSERT_EQ(device.WriteBlock("ping", 4), 0);
      device.Drain(device.OutputPending());
      device.TakeLineError();
    }
  }
  ASSERT_EQ(got.size(), kTotal);
  for (std::size_t i = 0; i < kTotal; ++i) ASSERT_EQ(got[i], Pattern(i)) << i;
  EXPECT_EQ(device.UnreadCount(), 0);
  device.StopTrace();
  device.StopLog();
}

}  // namespace
}  // namespace dispatcher_test
