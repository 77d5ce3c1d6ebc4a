// The input ring against a plain model, its edges, and the non-destructive
// reads of a delivery.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

#include "FakeDevice.h"

namespace dispatcher_test {
namespace {

using dispatcher::InRingSize;

std::vector<BYTE> Bytes(std::mt19937& random, std::size_t n) {
  std::vector<BYTE> bytes(n);
  for (BYTE& b : bytes) b = static_cast<BYTE>(random());
  return bytes;
}

// The model: what is unread, in order, and what the current delivery took.
struct Model {
  std::deque<BYTE> unread;
  bool delivering = false;
  std::size_t taken = 0;
  std::size_t maxTaken = 0;
  std::size_t flushed = 0;  // discarded by a flush during the delivery
  std::size_t Untaken() const { return unread.size() - (delivering ? taken : 0); }
};

void CheckCounts(FakeDevice& device, const Model& model) {
  ASSERT_EQ(device.UnreadCount(), static_cast<std::int32_t>(model.Untaken()));
  ASSERT_EQ(device.CharAvailable(), model.Untaken() > 0);
}

// Fill, read, read-block, look-ahead, flush and deliveries in long seeded
// random runs, with bursts that fill the ring and short device reads.
TEST(InputRing, MatchesModelOverRandomRuns) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    FakeDevice device;
    Model model;
    std::deque<BYTE> devicePending;
    int fullSeen = 0;
    int wraps = 0;
    for (int step = 0; step < 40000; ++step) {
      const std::int32_t headBefore = device.InHead;
      const unsigned op = random() % 100;
      if (op < 15) {
        const std::size_t n = random() % 4 == 0 ? random() % 9000 : random() % 200;
        const auto bytes = Bytes(random, n);
        device.Receive(bytes);
        devicePending.insert(devicePending.end(), bytes.begin(), bytes.end());
      } else if (op < 35) {
        const bool shortReads = random() % 5 == 0;
        device.readLimit = shortReads ? static_cast<std::int32_t>(random() % 50) : -1;
        const std::size_t before = devicePending.size();
        const std::size_t room = InRingSize - model.unread.size();
        const bool result = device.FillDispatchBuffer();
        const std::size_t moved = before - device.Pending();
        ASSERT_LE(moved, room);
        if (!shortReads) {
          ASSERT_EQ(moved, std::min(room, before));
        }
        ASSERT_EQ(result, room == 0 || before > 0);
        for (std::size_t i = 0; i < moved; ++i) {
          model.unread.push_back(devicePending.front());
          devicePending.pop_front();
        }
      } else if (op < 60) {
        BYTE c = 0;
        const ResultCode r = device.ReadChar(c);
        if (model.Untaken() == 0) {
          ASSERT_EQ(r, errors::ecBufferIsEmpty);
        } else {
          ASSERT_EQ(r, 0);
          if (model.delivering) {
            ASSERT_EQ(c, model.unread[model.taken++]);
          } else {
            ASSERT_EQ(c, model.unread.front());
            model.unread.pop_front();
          }
        }
      } else if (op < 75) {
        const std::int32_t n = static_cast<std::int32_t>(random() % 3000);
        std::vector<BYTE> out(n);
        const ResultCode r = device.ReadBlock(out.data(), n);
        if (static_cast<std::size_t>(n) > model.Untaken()) {
          ASSERT_EQ(r, errors::ecBufferIsEmpty);
        } else {
          ASSERT_EQ(r, n);
          const std::size_t from = model.delivering ? model.taken : 0;
          ASSERT_TRUE(std::equal(out.begin(), out.end(), model.unread.begin() + from));
          if (model.delivering) model.taken += n;
          else model.unread.erase(model.unread.begin(), model.unread.begin() + n);
        }
      } else if (op < 85) {
        const std::int32_t n = 1 + static_cast<std::int32_t>(random() % 8200);
        BYTE c = 0;
        const ResultCode r = device.LookAhead(n, c);
        if (static_cast<std::size_t>(n) > model.unread.size()) {
          ASSERT_EQ(r, errors::ecBufferIsEmpty);
        } else {
          ASSERT_EQ(r, 0);
          ASSERT_EQ(c, model.unread[n - 1]);
        }
      } else if (op < 88) {
        device.FlushInput();
        devicePending.clear();
        if (model.delivering) {
          model.maxTaken = model.flushed = model.taken = model.unread.size();
        } else {
          model.unread.clear();
        }
      } else if (op < 94 && !model.delivering) {
        device.BeginDelivery(true);
        device.BeginReceiverTakes();
        model = {model.unread, true, 0, 0};
      } else if (op < 97 && model.delivering) {
        device.EndReceiverTakes();
        model.maxTaken = std::max(model.maxTaken, model.taken);
        device.BeginReceiverTakes();
        model.taken = model.flushed;
      } else if (model.delivering) {
        device.EndReceiverTakes();
        model.maxTaken = std::max(model.maxTaken, model.taken);
        ASSERT_EQ(device.EndDelivery(), model.maxTaken);
        const std::size_t skip = std::min(model.maxTaken, model.unread.size());
        model.unread.erase(model.unread.begin(), model.unread.begin() + skip);
        model = {model.unread, false, 0, 0};
      }
      CheckCounts(device, model);
      fullSeen += model.unread.size() == InRingSize;
      wraps += device.InHead < headBefore;
    }
    // The run must have reached the edges it is about.
    EXPECT_GT(fullSeen, 0);
    EXPECT_GT(wraps, 10);
  }
}

TEST(InputRing, BlocksAtTheWrapPoint) {
  FakeDevice device;
  // Bring both indexes to 8000, then receive 500 characters.
  device.Receive(std::vector<BYTE>(8000, 'x'));
  ASSERT_TRUE(device.FillDispatchBuffer());
  std::vector<BYTE> sink(8000);
  ASSERT_EQ(device.ReadBlock(sink.data(), 8000), 8000);
  std::vector<BYTE> data(500);
  for (int i = 0; i < 500; ++i) data[i] = static_cast<BYTE>(i);
  device.Receive(data);
  device.readRequests.clear();
  ASSERT_TRUE(device.FillDispatchBuffer());
  // Two device reads: to the end of the ring, then from its start.
  EXPECT_EQ(device.readRequests, (std::vector<std::int32_t>{192, 308}));
  EXPECT_EQ(device.InHead, 308);

  // A block ending exactly at 8191 leaves the tail at 0; one spanning the
  // end comes out in order.
  std::vector<BYTE> out(192);
  ASSERT_EQ(device.ReadBlock(out.data(), 192), 192);
  EXPECT_EQ(device.InTail, 0);
  device.InTail = 8000;  // back to the start of the data, to read across the end
  std::vector<BYTE> across(500);
  ASSERT_EQ(device.ReadBlock(across.data(), 500), 500);
  EXPECT_EQ(across, data);
  EXPECT_EQ(device.InTail, 308);
}

TEST(InputRing, FullRing) {
  FakeDevice device;
  device.Receive(std::vector<BYTE>(InRingSize + 10, 'a'));
  ASSERT_TRUE(device.FillDispatchBuffer());
  EXPECT_TRUE(device.InputFull);
  EXPECT_EQ(device.InHead, device.InTail);
  EXPECT_TRUE(device.CharAvailable());
  EXPECT_EQ(device.UnreadCount(), InRingSize);
  // The rest waits in the device: a full ring reads nothing.
  device.readRequests.clear();
  EXPECT_TRUE(device.FillDispatchBuffer());
  EXPECT_TRUE(device.readRequests.empty());
  EXPECT_EQ(device.Pending(), 10u);
  BYTE c = 0;
  ASSERT_EQ(device.ReadChar(c), 0);
  EXPECT_FALSE(device.InputFull);
  EXPECT_EQ(device.UnreadCount(), InRingSize - 1);
  ASSERT_TRUE(device.FillDispatchBuffer());
  EXPECT_TRUE(device.InputFull);
  EXPECT_EQ(device.Pending(), 9u);
}

TEST(InputRing, FillStepDeviceQuirks) {
  FakeDevice device;
  EXPECT_FALSE(device.FillDispatchBuffer());  // nothing waiting
  EXPECT_TRUE(device.readRequests.empty());

  // A failing read counts as nothing and clears the device's events.
  device.Receive("abc");
  device.failReads = 1;
  EXPECT_TRUE(device.FillDispatchBuffer());
  EXPECT_EQ(device.clearEventCalls, 1);
  EXPECT_EQ(device.UnreadCount(), 0);
  EXPECT_TRUE(device.FillDispatchBuffer());
  EXPECT_EQ(device.UnreadCount(), 3);

  // A short first read skips the second piece.
  device.InHead = device.InTail = 8190;
  device.Receive("0123456789");
  device.readLimit = 1;
  device.readRequests.clear();
  EXPECT_TRUE(device.FillDispatchBuffer());
  EXPECT_EQ(device.readRequests, (std::vector<std::int32_t>{2}));
  EXPECT_EQ(device.UnreadCount(), 1);
}

TEST(InputRing, ArgumentsAndEmptyReads) {
  FakeDevice device;
  BYTE c = 0x55;
  EXPECT_EQ(device.ReadChar(c), errors::ecBufferIsEmpty);
  EXPECT_EQ(device.LookAhead(1, c), errors::ecBufferIsEmpty);
  EXPECT_EQ(device.LookAhead(0, c), errors::ecBadArgument);
  EXPECT_EQ(device.ReadBlock(&c, -1), errors::ecBadArgument);
  device.Receive("xy");
  device.FillDispatchBuffer();
  EXPECT_EQ(device.ReadBlock(nullptr, 0), 0);
  EXPECT_EQ(device.UnreadCount(), 2);
  EXPECT_EQ(device.ReadBlock(&c, 3), errors::ecBufferIsEmpty);
  EXPECT_EQ(device.UnreadCount(), 2);  // no partial read
}

TEST(Delivery, ReadsDoNotMoveTheTail) {
  FakeDevice device;
  device.Receive("abcdef");
  device.FillDispatchBuffer();
  device.BeginDelivery(true);

  // First receiver: successive characters, the tail stays.
  device.BeginReceiverTakes();
  BYTE c = 0;
  ASSERT_EQ(device.ReadChar(c), 0);
  EXPECT_EQ(c, 'a');
  ASSERT_EQ(device.ReadChar(c), 0);
  EXPECT_EQ(c, 'b');
  EXPECT_EQ(device.InTail, 0);
  EXPECT_EQ(device.UnreadCount(), 4);
  BYTE block[8];
  EXPECT_EQ(device.ReadBlock(block, 5), errors::ecBufferIsEmpty);
  device.EndReceiverTakes();

  // Second receiver starts again at the tail and takes three.
  device.BeginReceiverTakes();
  ASSERT_EQ(device.ReadBlock(block, 3), 3);
  EXPECT_EQ(std::string(block, block + 3), "abc");
  device.EndReceiverTakes();

  EXPECT_EQ(device.EndDelivery(), 3u);
  ASSERT_EQ(device.ReadChar(c), 0);
  EXPECT_EQ(c, 'd');
}

TEST(Delivery, AReadOutsideTheReceiversIsNeitherRepeatedNorLost) {
  // Reads by another thread (or between two receivers) interleave with
  // the receivers' calls in every order listed; each reader sees every
  // character at most once and the end of the delivery keeps the rest.
  const struct {
    const char* steps;  // o: outside read, r/R: a receiver's call begins/ends, c: its read
    const char* outside;
    const char* receivers;  // what the receivers read, in order
    DWORD consumed;
    char next;  // the first character read after the delivery
  } cases[] = {
      {"orcR", "a", "b", 2, 'c'},
      {"orcRorcR", "ac", "bd", 4, 'e'},
      {"rcRo", "b", "a", 2, 'c'},
      {"o", "a", "", 1, 'b'},
      {"rcccRrcRo", "d", "abca", 4, 'e'},
  };
  for (const auto& c : cases) {
    FakeDevice device;
    device.Receive("abcdefgh");
    device.FillDispatchBuffer();
    device.BeginDelivery(true);
    std::string outside, receivers;
    BYTE ch = 0;
    for (const char* step = c.steps; *step != 0; ++step) {
      switch (*step) {
        case 'o': ASSERT_EQ(device.ReadChar(ch), 0); outside += static_cast<char>(ch); break;
        case 'c': ASSERT_EQ(device.ReadChar(ch), 0); receivers += static_cast<char>(ch); break;
        case 'r': device.BeginReceiverTakes(); break;
        case 'R': device.EndReceiverTakes(); break;
      }
    }
    EXPECT_EQ(outside, c.outside) << c.steps;
    EXPECT_EQ(receivers, c.receivers) << c.steps;
    EXPECT_EQ(device.EndDelivery(), c.consumed) << c.steps;
    ASSERT_EQ(device.ReadChar(ch), 0);
    EXPECT_EQ(ch, c.next) << c.steps;
    EXPECT_EQ(device.UnreadCount(), 8 - static_cast<int>(c.consumed) - 1);
  }
}

TEST(Delivery, FlushDuringDeliverySkipsWhatWasUnread) {
  FakeDevice device;
  device.Receive("12345");
  device.FillDispatchBuffer();
  device.BeginDelivery(true);
  device.BeginReceiverTakes();
  BYTE c = 0;
  device.ReadChar(c);
  device.FlushInput();
  device.Receive("67");
  device.FillDispatchBuffer();
  EXPECT_EQ(device.EndDelivery(), 5u);
  EXPECT_EQ(device.UnreadCount(), 2);
  ASSERT_EQ(device.ReadChar(c), 0);
  EXPECT_EQ(c, '6');
}

TEST(Delivery, FlushOfAFullRingKeepsCountsSane) {
  FakeDevice device;
  device.Receive(std::vector<BYTE>(InRingSize + 3, 'z'));
  device.FillDispatchBuffer();
  device.BeginDelivery(true);
  device.BeginReceiverTakes();
  BYTE c = 0;
  ASSERT_EQ(device.ReadChar(c), 0);
  device.FlushInput();
  device.Receive("new");
  EXPECT_EQ(device.UnreadCount(), 0) << "what was flushed is not read, also during the delivery";
  EXPECT_FALSE(device.CharAvailable());
  EXPECT_TRUE(device.FillDispatchBuffer());
  EXPECT_EQ(device.Pending(), 3u);  // the flushed characters are not overwritten mid-delivery
  device.EndReceiverTakes();
  EXPECT_EQ(device.EndDelivery(), static_cast<DWORD>(InRingSize));
  EXPECT_EQ(device.UnreadCount(), 0);
  EXPECT_TRUE(device.FillDispatchBuffer());
  BYTE block[3];
  ASSERT_EQ(device.ReadBlock(block, 3), 3);
  EXPECT_EQ(std::string(block, block + 3), "new");
}

TEST(InputRing, FlushResetsEvenWhenThePurgeFails) {
  FakeDevice device;
  device.Receive("abc");
  device.FillDispatchBuffer();
  device.DataTriggerList.push_back({});
  device.DataTriggerList[0].MatchSlots[3] = 2;
  device.purgeResult = -5;
  EXPECT_EQ(device.FlushInput(), -5);
  EXPECT_EQ(device.UnreadCount(), 0);
  EXPECT_FALSE(device.CharAvailable());
  EXPECT_EQ(device.DataTriggerList[0].MatchSlots[3], 0);
}

TEST(Registry, HandlesAreReusedLowestFirst) {
  auto a = std::make_unique<FakeDevice>();
  auto b = std::make_unique<FakeDevice>();
  auto c = std::make_unique<FakeDevice>();
  EXPECT_EQ(a->DispatcherHandle, 0);
  EXPECT_EQ(b->DispatcherHandle, 1);
  EXPECT_EQ(c->DispatcherHandle, 2);
  EXPECT_EQ(dispatcher::TSioBaseDispatcher::FindDispatcher(1), b.get());
  b.reset();
  EXPECT_EQ(dispatcher::TSioBaseDispatcher::FindDispatcher(1), nullptr);
  auto d = std::make_unique<FakeDevice>();
  EXPECT_EQ(d->DispatcherHandle, 1);
  c.reset();
  d.reset();
  auto e = std::make_unique<FakeDevice>();
  EXPECT_EQ(e->DispatcherHandle, 1);
  EXPECT_EQ(dispatcher::TSioBaseDispatcher::FindDispatcher(2), nullptr);
  EXPECT_EQ(dispatcher::TSioBaseDispatcher::FindDispatcher(-1), nullptr);
}

TEST(Registry, ADispatcherIsUsedWhileTheRegistryIsLocked) {
  auto device = std::make_unique<FakeDevice>();
  device->Receive("k");
  device->FillDispatchBuffer();
  BYTE c = 0;
  EXPECT_TRUE(dispatcher::TSioBaseDispatcher::WithDispatcher(
      device->DispatcherHandle, [&](dispatcher::TSioBaseDispatcher& found) { found.ReadChar(c); }));
  EXPECT_EQ(c, 'k');
  EXPECT_FALSE(dispatcher::TSioBaseDispatcher::WithDispatcher(device->DispatcherHandle + 1,
                                                              [](auto&) { FAIL(); }));
}

}  // namespace
}  // namespace dispatcher_test
