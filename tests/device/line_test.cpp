// Opening, line settings, flow control and the device operations of the
// output side, on the fake port.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DeviceTestUtil.h"
#include "platform/serial.h"

namespace device_test {
namespace {

using errors::ResultCode;

// ---- Open and close ----------------------------------------------------------------

struct OpenFailureCase {
  const char* what;
  DWORD openError;    // the fake's open error (0: opens)
  DWORD stateError;   // the fake's SetCommState error (0: succeeds)
  DWORD baud;         // rate asked for at open
  ResultCode expected;
};

class OpenFailureTest : public FakePortTest, public testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, FailsWithTheSystemErrorAndLeavesNothingBehind) {
  const OpenFailureCase& c = GetParam();
  fake->SetOpenError(c.openError);
  fake->FailSetState(c.stateError);
  EXPECT_EQ(dispatcher->OpenPort(Number, c.baud, 0, 8, 1, 4096, 4096, 3), c.expected);
  EXPECT_FALSE(fake->IsOpen());
  EXPECT_LT(dispatcher->DeviceHandle.load(), 0);
  EXPECT_FALSE(dispatcher->ThreadsStarted.load());
  EXPECT_FALSE(dispatcher->AnyThreadObject());
  EXPECT_FALSE(dispatcher->HasThreadEvents());
  EXPECT_EQ(dispatcher->OutRing, nullptr);
  if (c.stateError != 0) {
    EXPECT_NE(dispatcher->CurrentBaud, c.baud) << "a rate the device refused is not the line's";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OpenFailureTest,
    testing::Values(OpenFailureCase{"port missing", platform::ERROR_FILE_NOT_FOUND, 0, 9600, -2},
                    OpenFailureCase{"path missing", platform::ERROR_PATH_NOT_FOUND, 0, 9600, -3},
                    OpenFailureCase{"in use", platform::ERROR_ACCESS_DENIED, 0, 9600, -5},
                    OpenFailureCase{"line settings refused", 0, platform::ERROR_INVALID_PARAMETER,
                                    19200, -87}),
    CaseName());

TEST_F(FakePortTest, OpenStartsTheThreadsAndCloseEndsThem) {
  ASSERT_EQ(Open(), 0);
  EXPECT_TRUE(fake->IsOpen());
  EXPECT_TRUE(dispatcher->ThreadsStarted.load());
  EXPECT_EQ(dispatcher->ActiveThreads.load(), 3);
  EXPECT_TRUE(fake->Dtr());
  EXPECT_TRUE(fake->Rts());
  // The event mask the communications thread watches.
  EXPECT_TRUE(PumpUntil([&] { return !fake->EventMasks().empty(); }));
  EXPECT_EQ(fake->EventMasks().front(), 0x1F9u);

  dispatcher->CloseLine();
  EXPECT_FALSE(fake->IsOpen());
  EXPECT_FALSE(dispatcher->ThreadsStarted.load());
  EXPECT_EQ(dispatcher->ActiveThreads.load(), 0);
  EXPECT_FALSE(dispatcher->AnyThreadObject());
  EXPECT_FALSE(dispatcher->HasThreadEvents());
  EXPECT_EQ(dispatcher->OutRing, nullptr);
}

TEST_F(FakePortTest, OptionsSetTheControlLinesOrLeaveThemToHandshake) {
  ASSERT_EQ(Open(4096, 4096, 0x00), 0);
  EXPECT_FALSE(fake->Dtr());
  EXPECT_FALSE(fake->Rts());
  dispatcher->CloseLine();

  // DTR under handshake control: never driven by its level.
  ASSERT_EQ(Open(4096, 4096, 0x10), 0);
  EXPECT_TRUE(dispatcher->DtrAutomatic);
  const bool level = dispatcher->DtrLevel;
  const auto escapes = fake->Escapes().size();
  EXPECT_EQ(dispatcher->SetDtrLine(1), 1);
  EXPECT_EQ(dispatcher->DtrLevel, level);
  EXPECT_EQ(fake->Escapes().size(), escapes);
  EXPECT_EQ(dispatcher->SetRtsLine(1), 0);
  EXPECT_EQ(fake->Escapes().back(), platform::SETRTS);
}

TEST_F(FakePortTest, SecondOpenIsRefusedAndLeavesTheLineOpen) {
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Open(), errors::ecAlreadyOpen);
  EXPECT_TRUE(fake->IsOpen());
  EXPECT_EQ(dispatcher->ActiveThreads.load(), 3);
  ASSERT_EQ(dispatcher->WriteBlock("still", 5), 0);
  EXPECT_TRUE(PumpUntil([&] { return fake->Written() == "still"; }));
}

TEST_F(FakePortTest, SecondStartRaises) {
  ASSERT_EQ(Open(), 0);
  try {
    dispatcher->StartThreads();
    FAIL() << "no exception";
  } catch (const framework::Exception& e) {
    EXPECT_EQ(e.Message(), "Dispatcher already started");
  }
  EXPECT_EQ(dispatcher->ActiveThreads.load(), 3);
}

// ---- Line settings ----------------------------------------------------------------

struct SettingsCase {
  const char* what;
  DWORD baud;
  std::int32_t parity, dataBits, stopBits;
  DWORD expectedBaud;
  BYTE expectedParity, expectedBits, expectedStop;
};

class LineSettingsTest : public FakePortTest, public testing::WithParamInterface<SettingsCase> {};

TEST_P(LineSettingsTest, WritesTheTargetsWithSentinelsKeepingTheDevicesValues) {
  const SettingsCase& c = GetParam();
  ASSERT_EQ(dispatcher->OpenPort(Number, 9600, 2, 7, 2, 4096, 4096, 3), 0);
  EXPECT_EQ(dispatcher->SetLineSettings(c.baud, c.parity, c.dataBits, c.stopBits), 0);
  const platform::DCB last = fake->StatesSet().back();
  EXPECT_EQ(last.BaudRate, c.expectedBaud);
  EXPECT_EQ(last.Parity, c.expectedParity);
  EXPECT_EQ(last.ByteSize, c.expectedBits);
  EXPECT_EQ(last.StopBits, c.expectedStop);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineSettingsTest,
    testing::Values(SettingsCase{"all kept", 0, 5, 9, 3, 9600, 2, 7, 2},
                    SettingsCase{"rate only", 19200, 5, 9, 3, 19200, 2, 7, 2},
                    SettingsCase{"five bits take one and a half", 0, 5, 5, 2, 9600, 2, 5, 1},
                    SettingsCase{"five bits, stop kept", 0, 5, 5, 3, 9600, 2, 5, 1},
                    SettingsCase{"stop 0 counts as 1", 0, 0, 8, 0, 9600, 0, 8, 0},
                    SettingsCase{"stop 7 counts as 2", 0, 1, 8, 7, 9600, 1, 8, 2}),
    CaseName());

TEST_F(FakePortTest, SettingsAlreadyInForceWriteNothing) {
  ASSERT_EQ(Open(), 0);
  const auto written = fake->StatesSet().size();
  EXPECT_EQ(dispatcher->SetLineSettings(9600, 0, 8, 1), 0);
  EXPECT_EQ(dispatcher->SetLineSettings(0, 5, 9, 3), 0);
  EXPECT_EQ(fake->StatesSet().size(), written);
  // The drain timing uses the rate the line really has.
  EXPECT_EQ(dispatcher->CurrentBaud, 9600u);
  const auto settings = dispatcher->GetLineSettings();
  EXPECT_EQ(settings.Baud, 9600u);
  EXPECT_EQ(settings.DataBits, 8);
  EXPECT_EQ(settings.StopBits, 1);
}

TEST_F(FakePortTest, RefusedSettingsReturnTheSystemErrorAndChangeNothing) {
  ASSERT_EQ(Open(), 0);
  ASSERT_EQ(dispatcher->CurrentBaud, 9600u);
  fake->FailSetState(platform::ERROR_INVALID_PARAMETER);
  // The drain timing goes on with the rate the line really has.
  EXPECT_EQ(dispatcher->SetLineSettings(2400, 5, 9, 3), -87);
  EXPECT_EQ(dispatcher->CurrentBaud, 9600u);
  EXPECT_EQ(dispatcher->SetHardwareFlow(100, 10, 8), -87);
  EXPECT_EQ(dispatcher->SetFlowChars(17, 19), -87);
  // DTR handshake refused: DTR stays a line the program drives.
  EXPECT_EQ(dispatcher->SetHardwareFlow(3686, 409, 1), -87);
  EXPECT_FALSE(dispatcher->DtrAutomatic);
  fake->FailSetState(0);
  EXPECT_EQ(dispatcher->SetDtrLine(0), 0);
  EXPECT_FALSE(fake->Dtr());
}

TEST(LegacyRate, MapsTheTableAndLeavesEverythingElse) {
  struct Case {
    DWORD code, rate;
  };
  for (const Case& c : {Case{0xFEFF, 115200}, Case{0xFF10, 110}, Case{0xFF16, 9600},
                        Case{0xFF1B, 38400}, Case{0xFF27, 256000}, Case{65305, 65305},
                        Case{0xFF28, 0xFF28}, Case{9600, 9600}}) {
    EXPECT_EQ(device::TSioWin32Dispatcher::LegacyRate(c.code), c.rate) << c.code;
  }
}

TEST(DrainDelay, IsEighteenCharactersOfTheFraming) {
  struct Case {
    DWORD rate;
    BYTE bits, parity, stop;
    DWORD ms;
  };
  for (const Case& c : {Case{9600, 7, 2, 0, 19}, Case{115200, 8, 0, 0, 2}, Case{0xFF16, 7, 2, 0, 19},
                        Case{65305, 8, 0, 0, 3}, Case{256000, 8, 0, 0, 2}, Case{0, 8, 0, 0, 0}}) {
    platform::DCB dcb;
    dcb.ByteSize = c.bits;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop;
    EXPECT_EQ(device::TSioWin32Dispatcher::DrainDelayMs(c.rate, dcb), c.ms) << c.rate;
  }
}

TEST_F(FakePortTest, ANewFramingWaitsForTheOutputQueuedUnderTheOldOne) {
  ASSERT_EQ(Open(4096, 64), 0);
  fake->SetWriteMode(platform::FakeSerialDevice::WriteMode::kPend);
  ASSERT_EQ(dispatcher->WriteBlock("queued", 6), 0);
  ASSERT_TRUE(PumpUntil([&] { return dispatcher->OutputPending() == 6; }));
  const std::size_t statesBefore = fake->StatesSet().size();
  std::atomic<bool> done{false};
  std::thread change([&] {
    EXPECT_EQ(dispatcher->SetLineSettings(19200, 5, 9, 3), 0);
    done.store(true);
  });
  // Far longer than the device's own drain time at 9600 baud.
  EXPECT_FALSE(PumpUntil([&] { return done.load(); }, 300ms)) << "the queued bytes were not waited for";
  EXPECT_EQ(fake->StatesSet().size(), statesBefore);
  fake->CompletePendingWrites();
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  change.join();
  EXPECT_EQ(fake->Written(), "queued");
  EXPECT_EQ(fake->StatesSet().back().BaudRate, 19200u);
}

// ---- Flow control ----------------------------------------------------------------

struct FlowCase {
  const char* what;
  bool software;
  DWORD full, resume, options;
  ResultCode expected;
  DWORD flagsSet;      // flags the written block must have
  platform::WORD xoffLim;
};

class FlowTest : public FakePortTest, public testing::WithParamInterface<FlowCase> {};

TEST_P(FlowTest, ChecksTheThresholdsAndWritesTheFlags) {
  const FlowCase& c = GetParam();
  ASSERT_EQ(Open(1000, 4096), 0);
  const auto written = fake->StatesSet().size();
  const ResultCode code = c.software ? dispatcher->SetSoftwareFlow(c.full, c.resume, c.options)
                                     : dispatcher->SetHardwareFlow(c.full, c.resume, c.options);
  EXPECT_EQ(code, c.expected);
  if (c.expected != 0) {
    EXPECT_EQ(fake->StatesSet().size(), written);
    return;
  }
  const platform::DCB last = fake->StatesSet().back();
  EXPECT_EQ(last.Flags & c.flagsSet, c.flagsSet);
  EXPECT_EQ(last.XoffLim, c.xoffLim);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FlowTest,
    testing::Values(
        FlowCase{"full below resume", false, 10, 11, 8, errors::ecBadArgument, 0, 0},
        FlowCase{"full above the queue", false, 1001, 10, 8, errors::ecBadArgument, 0, 0},
        FlowCase{"software full above the queue", true, 1001, 10, 2, errors::ecBadArgument, 0, 0},
        FlowCase{"full equals the queue", false, 1000, 10, 8, 0, platform::DCB_fOutxCtsFlow, 0},
        FlowCase{"full equals resume", false, 500, 500, 2, 0, platform::DCB_fRtsControlHandshake,
                 500},
        FlowCase{"receive software flow", true, 900, 100, 2, 0, platform::DCB_fInX, 100},
        FlowCase{"both software flows", true, 900, 100, 3, 0,
                 platform::DCB_fInX | platform::DCB_fOutX, 100}),
    CaseName());

TEST_F(FakePortTest, FlowSettingsReadBackWhatWasWritten) {
  ASSERT_EQ(Open(1000, 4096), 0);
  ASSERT_EQ(dispatcher->SetHardwareFlow(900, 100, 2 | 8), 0);
  ASSERT_EQ(dispatcher->SetSoftwareFlow(900, 100, 1), 0);
  auto flow = dispatcher->GetFlowSettings();
  EXPECT_EQ(flow.Code, 0);
  EXPECT_EQ(flow.HardwareOptions, 2u | 8u);
  EXPECT_EQ(flow.SoftwareOptions, 1u);
  EXPECT_EQ(flow.XOn, 17);
  EXPECT_EQ(flow.XOff, 19);

  ASSERT_EQ(dispatcher->ClearSoftwareFlow(), 0);
  ASSERT_EQ(dispatcher->SetFlowChars('a', 'b'), 0);
  ASSERT_EQ(dispatcher->SetHardwareFlow(900, 100, 0), 0);
  flow = dispatcher->GetFlowSettings();
  EXPECT_EQ(flow.HardwareOptions, 0u);
  EXPECT_EQ(flow.SoftwareOptions, 0u);
  EXPECT_EQ(flow.XOn, 'a');
  // Hardware flow off gives the lines back to their levels.
  EXPECT_TRUE(fake->Rts());
}

TEST_F(FakePortTest, GetStateWithoutDeviceFailsAndKeepsTheCopy) {
  platform::DCB dcb;
  dcb.BaudRate = 1234;
  EXPECT_EQ(dispatcher->DeviceGetState(dcb), -1);
  EXPECT_EQ(dcb.BaudRate, 1234u);
  EXPECT_EQ(dispatcher->GetFlowSettings().Code, -1);
}

// ---- Output ring -------------------------------------------------------------------

struct RingWriteCase {
  const char* what;
  std::int32_t head;
  std::int32_t count;
  std::int32_t expectedHead;
};

TEST(DeviceWrite, WrapsAtTheEndOfTheRing) {
  for (const RingWriteCase& c : {RingWriteCase{"middle", 2, 5, 7}, RingWriteCase{"exactly to the end", 6, 10, 0},
                                 RingWriteCase{"wraps", 12, 7, 3}}) {
    Probe d;
    d.AllocateBuffers(64, 16);
    {
      std::lock_guard guard(d.OutputLock);
      d.OutHead = c.head;
      d.OutTail = c.head;
    }
    std::string bytes;
    for (int i = 0; i < c.count; ++i) bytes.push_back(static_cast<char>('a' + i));
    EXPECT_EQ(d.DeviceWrite(bytes.data(), c.count), c.count) << c.what;
    std::lock_guard guard(d.OutputLock);
    EXPECT_EQ(d.OutHead, c.expectedHead) << c.what;
    for (int i = 0; i < c.count; ++i) {
      EXPECT_EQ(d.OutRing[(c.head + i) % 16], bytes[i]) << c.what << " byte " << i;
    }
  }
}

TEST(DeviceGetErrors, ReportsTheRingsFillWhateverTheDeviceSays) {
  struct Case {
    std::int32_t head, tail;
    bool full;
    DWORD expected;
  };
  for (const Case& c : {Case{5, 5, false, 0}, Case{5, 5, true, 16}, Case{9, 2, false, 7},
                        Case{2, 9, false, 9}}) {
    Probe d;  // no device: ClearCommError fails, so no error bits
    d.AllocateBuffers(64, 16);
    {
      std::lock_guard guard(d.OutputLock);
      d.OutHead = c.head;
      d.OutTail = c.tail;
      d.OutFull = c.full;
    }
    platform::COMSTAT status;
    EXPECT_EQ(d.DeviceGetErrors(status), 0u);
    EXPECT_EQ(status.cbOutQue, c.expected) << c.head << " " << c.tail;
  }
}

TEST_F(FakePortTest, PurgesReportFailureWithTheSystemError) {
  ASSERT_EQ(Open(), 0);
  fake->FailPurges(platform::ERROR_GEN_FAILURE);
  EXPECT_EQ(dispatcher->DevicePurge(1), -31);
  EXPECT_EQ(dispatcher->DevicePurge(0), -31);
  fake->FailPurges(0);
  EXPECT_EQ(dispatcher->FlushInput(), 0);
  const auto purges = fake->Purges();
  ASSERT_GE(purges.size(), 3u);
  EXPECT_EQ(purges[purges.size() - 3], 10u);
  EXPECT_EQ(purges[purges.size() - 2], 5u);
  EXPECT_EQ(purges.back(), 10u);
}

}  // namespace
}  // namespace device_test

namespace device_test {
namespace {

TEST_F(FakePortTest, OutputPurgeWithoutOutputThreadEmptiesTheOutputNotTheInput) {
  ASSERT_GT(dispatcher->DeviceOpen("\\\\.\\COM47", 4096, 16), 0);
  dispatcher->AllocateBuffers(4096, 16);
  ASSERT_EQ(dispatcher->DeviceWrite("queued", 6), 6);
  EXPECT_EQ(dispatcher->DevicePurge(0), 0);
  EXPECT_EQ(fake->Purges(), std::vector<DWORD>{5});
  {
    platform::CriticalSectionLock guard(dispatcher->OutputLock);
    EXPECT_EQ(dispatcher->OutHead, 0);
    EXPECT_EQ(dispatcher->OutTail, 0);
  }
  EXPECT_EQ(dispatcher->DeviceClose(), 0);
  EXPECT_EQ(dispatcher->DeviceHandle.load(), -1);
}

}  // namespace
}  // namespace device_test
