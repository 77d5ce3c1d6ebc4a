// The output side, line errors, modem status, options and thread priorities.
#include <gtest/gtest.h>

#include "FakeDevice.h"

namespace dispatcher_test {
namespace {

TEST(WriteBlock, RoomFullMarkAndFailures) {
  FakeDevice device(64, 16);
  EXPECT_EQ(device.WriteBlock("x", 0), 0);
  EXPECT_FALSE(device.OutputSent);
  EXPECT_EQ(device.WriteBlock("x", -1), errors::ecBadArgument);

  ASSERT_EQ(device.WriteBlock("0123456789", 10), 0);
  EXPECT_EQ(device.OutputPending(), 10);
  EXPECT_EQ(device.OutputRoom(), 6);
  EXPECT_TRUE(device.OutputSent);

  // One more than the room: refused whole.
  EXPECT_EQ(device.WriteBlock("abcdefg", 7), errors::ecOutputBufferTooSmall);
  EXPECT_EQ(device.OutputPending(), 10);

  // Exactly the room: accepted, the ring is marked full.
  ASSERT_EQ(device.WriteBlock("abcdef", 6), 0);
  EXPECT_TRUE(device.OutFull);
  EXPECT_EQ(device.OutputPending(), 16);
  EXPECT_EQ(device.OutputRoom(), 0);
  EXPECT_EQ(device.WriteBlock("!", 1), errors::ecOutputBufferTooSmall);

  device.Drain(16);
  EXPECT_EQ(std::string(device.sent.begin(), device.sent.end()), "0123456789abcdef");
  EXPECT_EQ(device.OutputPending(), 0);
}

TEST(WriteBlock, RefusedBlockLeavesNoFullMark) {
  FakeDevice device(64, 8);
  device.failWrites = true;
  device.OutputSent = false;
  EXPECT_EQ(device.WriteBlock("12345678", 8), errors::ecPutBlockFail);
  EXPECT_TRUE(device.OutputSent);
  EXPECT_FALSE(device.OutFull);
  EXPECT_EQ(device.OutputPending(), 0);
}

TEST(WriteBlock, ReplacesRecordedLineErrors) {
  FakeDevice device;
  device.AddErrors(dispatcher::LineErrorFraming);
  device.CollectLineErrors();
  ASSERT_EQ(device.LineErrorBits.load(), dispatcher::LineErrorFraming);
  ASSERT_EQ(device.WriteBlock("a", 1), 0);
  EXPECT_EQ(device.TakeLineError(), 0);
}

TEST(WriteBlock, FlushOutputPurgesTheTransmitSide) {
  FakeDevice device;
  device.purgeResult = -31;
  EXPECT_EQ(device.FlushOutput(), -31);
  EXPECT_EQ(device.purges, (std::vector<std::int32_t>{0}));
}

TEST(LineErrors, TakeLineErrorAndBreak) {
  struct Case {
    DWORD bits;
    std::vector<std::int32_t> codes;  // successive TakeLineError results
    DWORD left;                       // bits left afterwards
  };
  const Case cases[] = {
      {0, {0}, 0},
      {0x01, {1, 0}, 0},
      {0x02, {2, 0}, 0},
      {0x04, {3, 0}, 0},
      {0x08, {4, 0}, 0},
      {0x0F, {1, 0}, 0},
      {0x18, {4, 9, 9}, 0x10},  // framing and break: break stays until taken
      {0x10, {9, 9}, 0x10},
      {0xE0, {0}, 0},  // only the low five bits are line errors
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    FakeDevice device;
    device.AddErrors(c.bits);
    device.CollectLineErrors();
    for (std::int32_t code : c.codes) EXPECT_EQ(device.TakeLineError(), code);
    EXPECT_EQ(device.LineErrorBits.load(), c.left);
    EXPECT_EQ(device.TakeLineBreak(), (c.left & 0x10) != 0);
    EXPECT_FALSE(device.TakeLineBreak());
    EXPECT_EQ(device.TakeLineError(), 0);
  }
}

TEST(LineErrors, CollectAccumulatesAndRefreshesStatus) {
  FakeDevice device;
  device.AddErrors(0x04);
  device.CollectLineErrors();
  device.AddErrors(0x22);
  device.Receive("abc");
  device.CollectLineErrors();
  EXPECT_EQ(device.LineErrorBits.load(), 0x06u);
  EXPECT_EQ(device.CommStatusSnapshot().cbInQue, 3u);
}

TEST(ModemStatus, ChangeBitsAndRing) {
  FakeDevice device;
  device.modemStatus = dispatcher::ModemCts;
  EXPECT_EQ(device.ReadModemStatus(0xF0), dispatcher::ModemCts);

  // CTS drops, DSR rises: both change bits set, levels follow the device.
  device.modemStatus = dispatcher::ModemDsr;
  device.UpdateModemDeltas();
  EXPECT_EQ(device.ModemBits, dispatcher::ModemDsr | dispatcher::ModemDeltaCts | dispatcher::ModemDeltaDsr);

  // Change bits stay until a read with a keep-mask clears them.
  device.UpdateModemDeltas();
  EXPECT_EQ(device.ModemBits & 0x0F, dispatcher::ModemDeltaCts | dispatcher::ModemDeltaDsr);
  EXPECT_EQ(device.ReadModemStatus(0xF0),
            dispatcher::ModemDsr | dispatcher::ModemDeltaCts | dispatcher::ModemDeltaDsr);
  EXPECT_EQ(device.ModemBits, dispatcher::ModemDsr);

  // A ring event shows as the trailing-ring bit once.
  device.RingSeen = true;
  EXPECT_EQ(device.ReadModemStatus(0xF0), dispatcher::ModemDsr | dispatcher::ModemTrailingRing);
  EXPECT_FALSE(device.RingSeen);
  EXPECT_EQ(device.ReadModemStatus(0xF0), dispatcher::ModemDsr);
}

TEST(Options, SetAndClearBits) {
  FakeDevice device;
  device.SetOptionBits(dispatcher::OptionUseEventWord | 1);
  device.ClearOptionBits(1);
  EXPECT_EQ(device.OptionBitsValue(), dispatcher::OptionUseEventWord);
}

TEST(ThreadBoost, PrioritySteps) {
  FakeDevice device;
  FakeThread com, disp, out;
  device.ComThread = &com;
  device.DispThread = &disp;
  device.OutThread = &out;
  device.SetThreadBoost(0);  // the current boost: nothing
  EXPECT_TRUE(com.steps.empty());
  device.SetThreadBoost(1);
  device.Rs485Active = true;
  device.SetThreadBoost(2);
  device.SetThreadBoost(5);  // capped at time-critical
  EXPECT_EQ(com.steps, (std::vector<int>{4, 5, 6}));
  EXPECT_EQ(disp.steps, (std::vector<int>{4, 5, 6}));
  EXPECT_EQ(out.steps, (std::vector<int>{4, 6, 6}));
  device.ComThread = device.DispThread = device.OutThread = nullptr;
}

TEST(Close, CloseLineFlushesAndReleases) {
  FakeDevice device;
  device.CloseLine();
  EXPECT_EQ(device.purges, (std::vector<std::int32_t>{0, 1}));
  EXPECT_EQ(device.InRing, nullptr);
  BYTE c = 0;
  EXPECT_EQ(device.ReadChar(c), errors::ecBufferIsEmpty);
  EXPECT_FALSE(device.FillDispatchBuffer());
  EXPECT_EQ(device.WriteBlock("late", 4), errors::ecBufferIsEmpty) << "no ring to write into";
  EXPECT_FALSE(device.OutputSent.load());

  // Closed from inside a delivery: only marked; the buffers stay.
  FakeDevice busy;
  busy.Dispatching = true;
  busy.CloseLine();
  EXPECT_TRUE(busy.ClosePending);
  EXPECT_NE(busy.InRing, nullptr);
  busy.Dispatching = false;
}

}  // namespace
}  // namespace dispatcher_test
