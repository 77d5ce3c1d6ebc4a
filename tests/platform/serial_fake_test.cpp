// The serial functions' behaviour, driven through the fake device.
#include "platform/serial_fake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "serial_test_util.h"

namespace platform {
namespace {

using testing::Eventually;
using testing::OpenPort;
using testing::Overlapped;
using testing::SetTimeouts;

constexpr int kCom = 200;

class FakeSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    device = FakeSerialDevice::Register(kCom);
    port = OpenPort(kCom);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    FakeSerialDevice::Unregister(kCom);
  }
  std::string ReadNow(DWORD count) {
    std::string text(count, '\0');
    DWORD read = 0;
    Overlapped ov;
    if (!ReadFile(port, text.data(), count, &read, &ov.record)) {
      PurgeComm(port, PURGE_RXABORT);  // the record must not outlive its read
      return "<pending>";
    }
    text.resize(read);
    return text;
  }

  std::shared_ptr<FakeSerialDevice> device;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST(FakeSerialOpen, NamesAndExclusiveUse) {
  auto device = FakeSerialDevice::Register(kCom);
  for (const char* name : {"\\\\.\\COM200", "COM200", "com200", "\\\\.\\cOm200"}) {
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, 0);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << name;
    EXPECT_TRUE(device->IsOpen());
    EXPECT_EQ(OpenPort(kCom), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_FALSE(device->IsOpen());
    EXPECT_FAILS_WITH(CloseHandle(port), ERROR_INVALID_HANDLE);
    DCB dcb;
    EXPECT_FAILS_WITH(GetCommState(port, &dcb), ERROR_INVALID_HANDLE);
  }
  device->SetOpenError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenPort(kCom), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  FakeSerialDevice::Unregister(kCom);
}

TEST_F(FakeSerial, ControlBlockIsCheckedKeptAndRecorded) {
  DCB dcb;
  ASSERT_TRUE(GetCommState(port, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Flags & DCB_fBinary, DCB_fBinary);

  struct Case {
    DWORD baud;
    BYTE size, parity, stop;
    bool valid;
  } cases[] = {
      {9600, 7, EVENPARITY, ONESTOPBIT, true},  {300, 5, MARKPARITY, ONE5STOPBITS, true},
      {1234, 8, SPACEPARITY, TWOSTOPBITS, true}, {0, 8, NOPARITY, ONESTOPBIT, false},
      {9600, 4, NOPARITY, ONESTOPBIT, false},    {9600, 9, NOPARITY, ONESTOPBIT, false},
      {9600, 8, 5, ONESTOPBIT, false},           {9600, 8, NOPARITY, 3, false},
      {9600, 8, NOPARITY, ONE5STOPBITS, false},  {9600, 5, NOPARITY, TWOSTOPBITS, false},
  };
  std::size_t recorded = device->StatesSet().size();
  for (const Case& c : cases) {
    DCB before;
    ASSERT_TRUE(GetCommState(port, &before));
    DCB wanted = before;
    wanted.BaudRate = c.baud;
    wanted.ByteSize = c.size;
    wanted.Parity = c.parity;
    wanted.StopBits = c.stop;
    DCB after;
    if (c.valid) {
      EXPECT_TRUE(SetCommState(port, &wanted)) << c.baud;
      ASSERT_TRUE(GetCommState(port, &after));
      EXPECT_EQ(after.BaudRate, c.baud);
      EXPECT_EQ(after.Parity, c.parity);
      EXPECT_EQ(device->StatesSet().size(), ++recorded);
      EXPECT_EQ(device->StatesSet().back().ByteSize, c.size);
    } else {
      EXPECT_FAILS_WITH(SetCommState(port, &wanted), ERROR_INVALID_PARAMETER);
      ASSERT_TRUE(GetCommState(port, &after));
      EXPECT_EQ(after.BaudRate, before.BaudRate);
      EXPECT_EQ(device->StatesSet().size(), recorded);
    }
  }
  DCB xon = dcb;
  xon.Flags |= DCB_fOutX;
  xon.XonChar = xon.XoffChar = 0x11;
  EXPECT_FAILS_WITH(SetCommState(port, &xon), ERROR_INVALID_PARAMETER);
  device->FailSetState(ERROR_GEN_FAILURE);
  EXPECT_FAILS_WITH(SetCommState(port, &dcb), ERROR_GEN_FAILURE);
}

TEST_F(FakeSerial, ImmediateReadReturnsWhatHasArrived) {
  SetTimeouts(port, MAXDWORD, 0, 0);
  COMMTIMEOUTS back{};
  ASSERT_TRUE(GetCommTimeouts(port, &back));
  EXPECT_EQ(back.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(ReadNow(8), "");
  device->InjectReceived("abc");
  EXPECT_EQ(ReadNow(2), "ab");
  EXPECT_EQ(ReadNow(8), "c");
  EXPECT_EQ(ReadNow(8), "");
}

TEST_F(FakeSerial, ReceiveQueueKeepsOrderWhileItWrapsAndGrows) {
  // Arrivals and reads of uneven sizes move the queue's start around its
  // storage and make it grow while its contents wrap past the end.
  SetTimeouts(port, MAXDWORD, 0, 0);
  ASSERT_TRUE(SetupComm(port, 1 << 16, 4096));
  struct Step {
    std::size_t arrive;
    DWORD take;
  };
  const Step steps[] = {{200, 150}, {200, 100}, {100, 0},   {700, 600},
                        {3000, 2000}, {1, 1200}, {5000, 4000}, {0, 4000}};
  std::string expected;
  unsigned next = 0;
  for (const Step& step : steps) {
    std::string chunk;
    for (std::size_t i = 0; i < step.arrive; ++i) chunk += static_cast<char>(next++ % 251);
    if (!chunk.empty()) device->InjectReceived(chunk);
    expected += chunk;
    const std::string got = ReadNow(step.take);
    ASSERT_EQ(got, expected.substr(0, step.take)) << "after " << step.arrive;
    expected.erase(0, got.size());
  }
  EXPECT_TRUE(expected.empty());
}

TEST_F(FakeSerial, PendingReadCompletesWhenEnoughArrives) {
  SetTimeouts(port, 0, 0, 0);
  Overlapped ov;
  char buffer[4] = {};
  DWORD read = 99;
  EXPECT_FAILS_WITH(ReadFile(port, buffer, 3, &read, &ov.record), ERROR_IO_PENDING);
  EXPECT_EQ(read, 0u);
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &ov.record, &read, FALSE), ERROR_IO_INCOMPLETE);
  device->InjectReceived("xy");
  EXPECT_FALSE(ov.Signalled());
  device->InjectReceived("z");
  EXPECT_TRUE(ov.Signalled(5000));
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &read, FALSE));
  EXPECT_EQ(std::string(buffer, read), "xyz");
  EXPECT_EQ(ReadNow(1), "<pending>");  // all-zero time-outs wait for data
}

TEST_F(FakeSerial, ReadTimeOutsEndReadsWithWhatCame) {
  // Total time-out: completes successfully with fewer bytes.
  SetTimeouts(port, 0, 0, 30);
  Overlapped ov;
  char buffer[8];
  DWORD read = 0;
  EXPECT_FAILS_WITH(ReadFile(port, buffer, 8, &read, &ov.record), ERROR_IO_PENDING);
  device->InjectReceived("ab");
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &read, TRUE));
  EXPECT_EQ(std::string(buffer, read), "ab");
  // "First byte or constant": returns as soon as one byte is there.
  SetTimeouts(port, MAXDWORD, MAXDWORD, 10000);
  EXPECT_FAILS_WITH(ReadFile(port, buffer, 8, &read, &ov.record), ERROR_IO_PENDING);
  device->InjectReceived("c");
  EXPECT_TRUE(ov.Signalled(5000));
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &read, FALSE));
  EXPECT_EQ(std::string(buffer, read), "c");
  // Interval time-out: ends a read after a gap following the first byte.
  SetTimeouts(port, 20, 0, 0);
  EXPECT_FAILS_WITH(ReadFile(port, buffer, 8, &read, &ov.record), ERROR_IO_PENDING);
  device->InjectReceived("de");
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &read, TRUE));
  EXPECT_EQ(std::string(buffer, read), "de");
}

TEST_F(FakeSerial, EventWaitsHistoryAndMaskChanges) {
  DWORD events = 0;
  Overlapped ov;
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_INVALID_PARAMETER);  // no mask
  ASSERT_TRUE(SetCommMask(port, 0x1F9));
  DWORD mask = 0;
  ASSERT_TRUE(GetCommMask(port, &mask));
  EXPECT_EQ(mask, 0x1F9u);

  DWORD lines = 0;
  struct Case {
    const char* what;
    std::function<void()> cause;
    DWORD expected;
  } cases[] = {
      {"byte", [&] { device->InjectReceived("a"); }, EV_RXCHAR},
      {"framing", [&] { device->InjectLineErrors(CE_FRAME); }, EV_ERR},
      {"break", [&] { device->InjectBreak(); }, EV_BREAK},
      {"cts", [&] { device->SetModemStatus(lines ^= MS_CTS_ON); }, EV_CTS},
      {"dsr+dcd", [&] { device->SetModemStatus(lines ^= MS_DSR_ON | MS_RLSD_ON); },
       EV_DSR | EV_RLSD},
      {"ring", [&] { device->Ring(); }, EV_RING},  // EV_RINGTE is not in the mask
      {"overflow is no line-status error", [&] { device->InjectLineErrors(CE_RXOVER); }, 0},
  };
  for (const Case& c : cases) {
    // While a wait is pending the event completes it ...
    ASSERT_FALSE(WaitCommEvent(port, &events, &ov.record)) << c.what;
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_INVALID_PARAMETER);
    c.cause();
    if (c.expected == 0) {
      EXPECT_FALSE(ov.Signalled(20)) << c.what;
      ASSERT_TRUE(SetCommMask(port, 0x1F9));  // ends the wait with no events
      DWORD transferred = 0;
      ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &transferred, TRUE));
      EXPECT_EQ(events, 0u);
      continue;
    }
    DWORD transferred = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &transferred, TRUE)) << c.what;
    EXPECT_EQ(events, c.expected) << c.what;
    // ... and when none is pending it is kept for the next wait.
    c.cause();
    events = 0;
    EXPECT_TRUE(WaitCommEvent(port, &events, &ov.record)) << c.what;
    EXPECT_EQ(events & c.expected, c.expected) << c.what;
  }
  DWORD errors = 0;
  COMSTAT status;
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(errors, CE_FRAME | CE_BREAK | CE_RXOVER);
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(errors, 0u);
  device->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  ASSERT_TRUE(GetCommModemStatus(port, &lines));
  EXPECT_EQ(lines, MS_CTS_ON | MS_RLSD_ON);
  EXPECT_EQ(device->EventMasks().back(), 0x1F9u);
}

TEST_F(FakeSerial, SetCommMaskEndsPendingWaitWithNoEvents) {
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  device->InjectReceived("x");  // kept in the history ...
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));  // ... which a new mask clears
  DWORD events = 0xFFFF;
  Overlapped ov;
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_IO_PENDING);
  std::thread closer([&] { SetCommMask(port, 0); });
  DWORD transferred = 0;
  EXPECT_TRUE(GetOverlappedResult(port, &ov.record, &transferred, TRUE));
  closer.join();
  EXPECT_EQ(events, 0u);
  EXPECT_TRUE(ov.Signalled());
  EXPECT_FAILS_WITH(SetCommMask(port, 0x10000), ERROR_INVALID_PARAMETER);
}

TEST_F(FakeSerial, RefusedRingTrailingEdgeFailsTheWaitUntilTheMaskDropsIt) {
  device->RefuseRingTrailingEdge(true);
  EXPECT_FAILS_WITH(SetCommMask(port, 0x21F9), ERROR_INVALID_PARAMETER);
  DWORD events = 0;
  Overlapped ov;
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(SetCommMask(port, 0x1F9));
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_IO_PENDING);
  device->InjectReceived("r");
  DWORD transferred = 0;
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &transferred, TRUE));
  EXPECT_EQ(events, EV_RXCHAR);
  EXPECT_EQ(device->EventMasks(), (std::vector<DWORD>{0x21F9, 0x1F9}));
}

TEST_F(FakeSerial, WritesCompletePendOrFail) {
  Overlapped ov;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, "abc", 3, &written, &ov.record));
  EXPECT_EQ(written, 3u);
  EXPECT_TRUE(ov.Signalled());

  device->SetWriteMode(FakeSerialDevice::WriteMode::kPend);
  EXPECT_FAILS_WITH(WriteFile(port, "defg", 4, &written, &ov.record), ERROR_IO_PENDING);
  EXPECT_FALSE(ov.Signalled());
  COMSTAT status;
  ASSERT_TRUE(ClearCommError(port, nullptr, &status));
  EXPECT_EQ(status.cbOutQue, 4u);
  device->CompletePendingWrites();
  EXPECT_TRUE(ov.Signalled());
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &written, FALSE));
  EXPECT_EQ(written, 4u);

  EXPECT_FAILS_WITH(WriteFile(port, "hi", 2, &written, &ov.record), ERROR_IO_PENDING);
  device->FailPendingWrites(ERROR_GEN_FAILURE);
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &ov.record, &written, TRUE), ERROR_GEN_FAILURE);

  device->SetWriteMode(FakeSerialDevice::WriteMode::kFailAtOnce, ERROR_ACCESS_DENIED);
  EXPECT_FAILS_WITH(WriteFile(port, "no", 2, &written, &ov.record), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ov.Signalled());  // a write refused at once signals nothing
  EXPECT_EQ(device->Written(), "abcdefg");
}

TEST_F(FakeSerial, AWriteNowNeverQueuesNorOvertakesAPendingWrite) {
  DWORD written = 99;
  ASSERT_TRUE(WriteFileNow(port, "ab", 2, &written));
  EXPECT_EQ(written, 2u);

  // A driver that takes nothing now: nothing is queued either.
  device->SetWriteMode(FakeSerialDevice::WriteMode::kPend);
  ASSERT_TRUE(WriteFileNow(port, "lost", 4, &written));
  EXPECT_EQ(written, 0u);
  COMSTAT status;
  ASSERT_TRUE(ClearCommError(port, nullptr, &status));
  EXPECT_EQ(status.cbOutQue, 0u);

  // Behind a pending write it hands nothing over, even to a driver that
  // would take it.
  Overlapped ov;
  EXPECT_FAILS_WITH(WriteFile(port, "cd", 2, &written, &ov.record), ERROR_IO_PENDING);
  device->SetWriteMode(FakeSerialDevice::WriteMode::kComplete);
  ASSERT_TRUE(WriteFileNow(port, "zz", 2, &written));
  EXPECT_EQ(written, 0u);
  device->CompletePendingWrites();
  ASSERT_TRUE(WriteFileNow(port, "ef", 2, &written));
  EXPECT_EQ(written, 2u);

  device->SetWriteMode(FakeSerialDevice::WriteMode::kFailAtOnce, ERROR_ACCESS_DENIED);
  EXPECT_FAILS_WITH(WriteFileNow(port, "no", 2, &written), ERROR_ACCESS_DENIED);
  EXPECT_EQ(device->Written(), "abcdef");
}

TEST_F(FakeSerial, PurgeAbortsClearsAndCanFail) {
  SetTimeouts(port, 0, 0, 0);
  device->SetWriteMode(FakeSerialDevice::WriteMode::kPend);
  Overlapped readOv, writeOv;
  char buffer[4];
  DWORD count = 0;
  EXPECT_FAILS_WITH(ReadFile(port, buffer, 4, &count, &readOv.record), ERROR_IO_PENDING);
  EXPECT_FAILS_WITH(WriteFile(port, "out", 3, &count, &writeOv.record), ERROR_IO_PENDING);
  device->InjectReceived("in");

  device->FailPurges(ERROR_GEN_FAILURE);
  EXPECT_FAILS_WITH(PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR), ERROR_GEN_FAILURE);
  EXPECT_FALSE(writeOv.Signalled());
  device->FailPurges(0);
  EXPECT_FAILS_WITH(PurgeComm(port, 0), ERROR_INVALID_PARAMETER);
  EXPECT_FAILS_WITH(PurgeComm(port, 0x10), ERROR_INVALID_PARAMETER);

  ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR));
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &writeOv.record, &count, FALSE),
                    ERROR_OPERATION_ABORTED);
  ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR));
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &readOv.record, &count, FALSE),
                    ERROR_OPERATION_ABORTED);
  COMSTAT status;
  ASSERT_TRUE(ClearCommError(port, nullptr, &status));
  EXPECT_EQ(status.cbInQue, 0u);
  EXPECT_EQ(status.cbOutQue, 0u);
  EXPECT_EQ(device->Purges(), (std::vector<DWORD>{5, 5, 10}));
}

TEST_F(FakeSerial, EscapesDriveTheOutputLines) {
  EXPECT_TRUE(device->Dtr());
  ASSERT_TRUE(EscapeCommFunction(port, CLRDTR));
  ASSERT_TRUE(EscapeCommFunction(port, CLRRTS));
  EXPECT_FALSE(device->Dtr());
  EXPECT_FALSE(device->Rts());
  ASSERT_TRUE(EscapeCommFunction(port, SETRTS));
  EXPECT_TRUE(device->Rts());
  EXPECT_FAILS_WITH(EscapeCommFunction(port, 10), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(device->Escapes(), (std::vector<DWORD>{CLRDTR, CLRRTS, SETRTS, 10}));
}

TEST_F(FakeSerial, ReceiveBufferLimitAndCharacterOptions) {
  SetTimeouts(port, MAXDWORD, 0, 0);
  ASSERT_TRUE(SetupComm(port, 8, 8));
  device->InjectReceived("0123456789");
  DWORD errors = 0;
  COMSTAT status;
  ASSERT_TRUE(ClearCommError(port, &errors, &status));
  EXPECT_EQ(errors, CE_RXOVER);
  EXPECT_EQ(status.cbInQue, 8u);
  EXPECT_EQ(ReadNow(16), "01234567");

  DCB dcb;
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.Flags |= DCB_fErrorChar | DCB_fNull;
  dcb.ErrorChar = '?';
  ASSERT_TRUE(SetCommState(port, &dcb));
  const BYTE bytes[] = {'a', 0, 'b', 'c'};
  const std::size_t marked[] = {2};
  device->InjectMarked(bytes, marked, CE_RXPARITY);
  EXPECT_EQ(ReadNow(16), "a?c");

  dcb.Flags = (dcb.Flags & ~(DCB_fErrorChar | DCB_fNull)) | DCB_fAbortOnError;
  ASSERT_TRUE(SetCommState(port, &dcb));
  device->InjectLineErrors(CE_FRAME);
  char buffer[4];
  DWORD read = 0;
  Overlapped ov;
  EXPECT_FAILS_WITH(ReadFile(port, buffer, 4, &read, &ov.record), ERROR_OPERATION_ABORTED);
  EXPECT_FAILS_WITH(WriteFile(port, "x", 1, &read, &ov.record), ERROR_OPERATION_ABORTED);
  ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, CE_RXPARITY | CE_FRAME);
  EXPECT_EQ(ReadNow(4), "");
}

TEST_F(FakeSerial, VanishedDeviceFailsPendingAndLaterOperations) {
  SetTimeouts(port, 0, 0, 0);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  device->SetWriteMode(FakeSerialDevice::WriteMode::kPend);
  Overlapped waitOv, readOv, writeOv;
  DWORD events = 0, count = 0;
  char buffer[4];
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &waitOv.record), ERROR_IO_PENDING);
  EXPECT_FAILS_WITH(ReadFile(port, buffer, 4, &count, &readOv.record), ERROR_IO_PENDING);
  EXPECT_FAILS_WITH(WriteFile(port, "w", 1, &count, &writeOv.record), ERROR_IO_PENDING);
  device->Vanish();
  for (Overlapped* ov : {&waitOv, &readOv, &writeOv}) {
    EXPECT_TRUE(ov->Signalled());
    EXPECT_FAILS_WITH(GetOverlappedResult(port, &ov->record, &count, TRUE), ERROR_ACCESS_DENIED);
  }
  EXPECT_FAILS_WITH(ReadFile(port, buffer, 4, &count, &readOv.record), ERROR_ACCESS_DENIED);
  EXPECT_FAILS_WITH(PurgeComm(port, PURGE_RXCLEAR), ERROR_ACCESS_DENIED);
  EXPECT_FAILS_WITH(GetCommModemStatus(port, &events), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(port));
  port = OpenPort(kCom);
  EXPECT_EQ(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FakeSerial, CloseAbortsWaitersOnOtherThreads) {
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  Overlapped ov;
  DWORD events = 0;
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_IO_PENDING);
  std::atomic<DWORD> error{0};
  std::thread waiter([&] {
    DWORD transferred = 0;
    if (!GetOverlappedResult(port, &ov.record, &transferred, TRUE)) error = GetLastError();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(CloseHandle(port));
  waiter.join();
  EXPECT_EQ(error.load(), ERROR_OPERATION_ABORTED);
  port = INVALID_HANDLE_VALUE;
}

TEST_F(FakeSerial, OneThreadWaitsForTwoPortsUntilOneVanishes) {
  auto otherDevice = FakeSerialDevice::Register(kCom + 1);
  const HANDLE other = OpenPort(kCom + 1);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  const HANDLE ports[2] = {port, other};
  DWORD events[2] = {};
  Overlapped ov[2];
  const HANDLE waits[2] = {ov[0].record.hEvent, ov[1].record.hEvent};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(SetCommMask(ports[i], EV_RXCHAR));
    EXPECT_FAILS_WITH(WaitCommEvent(ports[i], &events[i], &ov[i].record), ERROR_IO_PENDING);
  }
  std::atomic<DWORD> first{WAIT_FAILED}, second{WAIT_FAILED};
  std::thread waiter([&] {
    first = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    ResetEvent(waits[1]);
    second = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  });
  otherDevice->InjectReceived("x");
  ASSERT_TRUE(Eventually([&] { return first.load() != WAIT_FAILED; }));
  device->Vanish();
  waiter.join();
  EXPECT_EQ(first.load(), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(events[1], EV_RXCHAR);
  EXPECT_EQ(second.load(), WAIT_OBJECT_0);
  DWORD count = 0;
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &ov[0].record, &count, FALSE), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(other));
  FakeSerialDevice::Unregister(kCom + 1);
}

TEST(FakeSerialBlocking, NonOverlappedCallsWaitForCompletion) {
  auto device = FakeSerialDevice::Register(kCom);
  HANDLE port = OpenPort(kCom, false);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  SetTimeouts(port, 0, 0, 0);
  std::thread line([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    device->InjectReceived("sync");
  });
  char buffer[4];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(port, buffer, 4, &read, nullptr));
  line.join();
  EXPECT_EQ(std::string(buffer, read), "sync");
  CloseHandle(port);
  FakeSerialDevice::Unregister(kCom);
}

// The device layer's pattern: one thread waits for events, one reads, one
// writes, while the test thread scripts the line. Nothing may be lost or
// reordered, and ThreadSanitizer must stay quiet.
TEST_F(FakeSerial, WorkersAndScriptRunConcurrently) {
  SetTimeouts(port, MAXDWORD, 0, 0);
  ASSERT_TRUE(SetupComm(port, 1 << 20, 64));
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  constexpr int kChunks = 300;
  std::atomic<bool> stop{false};
  std::atomic<bool> eventsDone{false};
  HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::string received;
  std::thread events([&] {
    Overlapped ov;
    while (!stop) {
      DWORD mask = 0, transferred = 0;
      if (!WaitCommEvent(port, &mask, &ov.record) && GetLastError() == ERROR_IO_PENDING) {
        GetOverlappedResult(port, &ov.record, &transferred, TRUE);
      }
      SetEvent(wake);
    }
    eventsDone = true;
  });
  std::thread reader([&] {
    Overlapped ov;
    while (received.size() < kChunks * 3u) {
      WaitForSingleObject(wake, 50);
      char buffer[64];
      DWORD read = 0;
      if (ReadFile(port, buffer, sizeof buffer, &read, &ov.record)) received.append(buffer, read);
    }
  });
  std::thread writer([&] {
    Overlapped ov;
    for (int i = 0; i < kChunks; ++i) {
      DWORD written = 0;
      if (!WriteFile(port, "w", 1, &written, &ov.record)) {
        GetOverlappedResult(port, &ov.record, &written, TRUE);
      }
    }
  });
  for (int i = 0; i < kChunks; ++i) {
    const char chunk[] = {static_cast<char>('a' + i % 26), '-', static_cast<char>('0' + i % 10)};
    device->InjectReceived(std::string_view(chunk, 3));
    if (i % 50 == 0) device->SetModemStatus(i % 100 ? MS_CTS_ON : 0);
  }
  reader.join();
  writer.join();
  stop = true;
  // A new mask ends the wait the event thread may have started meanwhile.
  while (!eventsDone) {
    SetCommMask(port, EV_RXCHAR);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  events.join();
  CloseHandle(wake);
  ASSERT_EQ(received.size(), kChunks * 3u);
  for (int i = 0; i < kChunks; ++i) {
    EXPECT_EQ(received[i * 3], static_cast<char>('a' + i % 26));
  }
  EXPECT_EQ(device->Written(), std::string(kChunks, 'w'));
}

}  // namespace
}  // namespace platform
