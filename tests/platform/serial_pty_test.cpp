// The tty back end on a pseudo-terminal: the test holds the master side
// and the port opens the slave through a comN link in a private dosdevices
// folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "dosdevices_test_util.h"
#include "serial_test_util.h"

namespace platform {
namespace {

using testing::Eventually;
using testing::OpenPort;
using testing::Overlapped;
using testing::SetTimeouts;

constexpr int kCom = 201;

class PtySerial : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);  // the port opens it by name
    slaveName = name;
    config.Link(kCom, slaveName);
    port = OpenPort(kCom);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    if (master >= 0) close(master);
  }
  std::string ReadMaster(std::size_t count) {
    std::string text;
    Eventually([&] {
      char buffer[4096];
      pollfd fd{master, POLLIN, 0};
      if (poll(&fd, 1, 10) == 1) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
      }
      return text.size() >= count;
    });
    return text;
  }
  DWORD InQueue() {
    COMSTAT status{};
    ClearCommError(port, nullptr, &status);
    return status.cbInQue;
  }

  testing::TempConfigHome config;
  int master = -1;
  std::string slaveName;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(PtySerial, OpenIsExclusiveAndMissingDevicesAreReported) {
  EXPECT_EQ(OpenPort(kCom), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION) << "in use, not a matter of rights";
  // Another process would meet the lock (root passes TIOCEXCL, not flock).
  const int other = open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other >= 0) {
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
  }
  config.Link(kCom + 1, "/dev/tesmar-no-such-device");
  EXPECT_EQ(OpenPort(kCom + 1), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenPort(256), INVALID_HANDLE_VALUE);  // no link, beyond any automatic number
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  config.Link(kCom + 2, config.Root());  // not a tty
  EXPECT_EQ(OpenPort(kCom + 2), INVALID_HANDLE_VALUE);

  // Closing frees the port for the next open.
  ASSERT_TRUE(CloseHandle(port));
  port = OpenPort(kCom);
  EXPECT_NE(port, INVALID_HANDLE_VALUE);
}

TEST_F(PtySerial, ReadReturnsAtOnceWithWhatArrived) {
  SetTimeouts(port, MAXDWORD, 0, 0);
  char buffer[64];
  DWORD read = 99;
  Overlapped ov;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &read, &ov.record));
  EXPECT_EQ(read, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

  // 0xFF comes through PARMRK's doubling unharmed.
  const std::string sent = "hello\xFF\x00world";
  ASSERT_EQ(write(master, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
  ASSERT_TRUE(Eventually([&] { return InQueue() == sent.size(); }));
  ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &read, &ov.record));
  EXPECT_EQ(std::string(buffer, read), sent);
}

TEST_F(PtySerial, BurstArrivesWholeAndInOrder) {
  // Far more than one read of the driver and one hand-over of the event
  // thread, with 0xFF (doubled by PARMRK) falling on every read boundary
  // sooner or later: every byte arrives once, unchanged, in order.
  SetTimeouts(port, MAXDWORD, 0, 0);
  ASSERT_TRUE(SetupComm(port, 1 << 18, 4096));
  std::string sent(150000, '\0');
  for (std::size_t k = 0; k < sent.size(); ++k) {
    sent[k] = static_cast<char>(k % 3 == 0 ? 0xFF : (k * 7) & 0xFF);
  }
  std::thread writer([&] {
    for (std::size_t done = 0; done < sent.size();) {
      const ssize_t n = write(master, sent.data() + done, sent.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  });
  std::string received;
  Eventually([&] {
    char buffer[8192];
    DWORD read = 0;
    Overlapped ov;
    if (ReadFile(port, buffer, sizeof buffer, &read, &ov.record)) received.append(buffer, read);
    return received.size() >= sent.size();
  });
  writer.join();
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
  DWORD errors = 0;
  ASSERT_TRUE(ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, 0u);
}

TEST_F(PtySerial, OverlappedWritesComplete) {
  Overlapped ov;
  DWORD written = 0;
  if (!WriteFile(port, "ping", 4, &written, &ov.record)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &written, TRUE));
  }
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(ReadMaster(4), "ping");

  // More than the pseudo-terminal buffers: the write pends until the other
  // side reads, then completes with everything, in order.
  std::string big(256 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 23);
  EXPECT_FAILS_WITH(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &written,
                              &ov.record),
                    ERROR_IO_PENDING);
  std::string got = ReadMaster(big.size());
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &written, TRUE));
  EXPECT_EQ(written, big.size());
  EXPECT_TRUE(got == big);
}

TEST_F(PtySerial, PurgeAbortsPendingIoAndClearsInput) {
  SetTimeouts(port, 0, 0, 0);
  char buffer[16];
  DWORD count = 0;
  Overlapped readOv, writeOv;
  EXPECT_FAILS_WITH(ReadFile(port, buffer, sizeof buffer, &count, &readOv.record),
                    ERROR_IO_PENDING);
  std::string big(256 * 1024, 'x');
  EXPECT_FAILS_WITH(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &count,
                              &writeOv.record),
                    ERROR_IO_PENDING);
  ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_TXABORT | PURGE_TXCLEAR));
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &readOv.record, &count, TRUE),
                    ERROR_OPERATION_ABORTED);
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &writeOv.record, &count, TRUE),
                    ERROR_OPERATION_ABORTED);

  ASSERT_EQ(write(master, "stale", 5), 5);
  ASSERT_TRUE(Eventually([&] { return InQueue() == 5; }));
  ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  EXPECT_EQ(InQueue(), 0u);
}

TEST_F(PtySerial, EventWaitEndsOnDataAndOnSetCommMask) {
  ASSERT_TRUE(SetCommMask(port, 0x1F9));
  DWORD events = 0, transferred = 0;
  Overlapped ov;
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_IO_PENDING);
  ASSERT_EQ(write(master, "!", 1), 1);
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &transferred, TRUE));
  EXPECT_EQ(events, EV_RXCHAR);

  events = 0xFFFF;
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_IO_PENDING);
  EXPECT_FALSE(ov.Signalled(20));  // no modem-line events come from a pty
  ASSERT_TRUE(SetCommMask(port, 0));
  EXPECT_TRUE(ov.Signalled(5000));
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &transferred, FALSE));
  EXPECT_EQ(events, 0u);
}

TEST_F(PtySerial, LineSettingsAreKeptAndModemLinesAreShadows) {
  DCB dcb;
  ASSERT_TRUE(GetCommState(port, &dcb));
  dcb.BaudRate = 1234;  // not a standard rate
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
  DCB back;
  ASSERT_TRUE(GetCommState(port, &back));
  EXPECT_EQ(back.BaudRate, 1234u);
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, EVENPARITY);
  dcb.Flags |= DCB_fOutxDsrFlow;
  EXPECT_FAILS_WITH(SetCommState(port, &dcb), ERROR_NOT_SUPPORTED);

  DWORD lines = 0;
  ASSERT_TRUE(GetCommModemStatus(port, &lines));
  EXPECT_EQ(lines, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  EXPECT_TRUE(EscapeCommFunction(port, CLRDTR));
  EXPECT_FAILS_WITH(EscapeCommFunction(port, SETBREAK), ERROR_NOT_SUPPORTED);
}

TEST_F(PtySerial, VanishedDeviceIsReportedWithoutAHang) {
  SetTimeouts(port, 0, 0, 0);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  DWORD events = 0, count = 0;
  char buffer[8];
  Overlapped waitOv, readOv;
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &waitOv.record), ERROR_IO_PENDING);
  EXPECT_FAILS_WITH(ReadFile(port, buffer, sizeof buffer, &count, &readOv.record),
                    ERROR_IO_PENDING);
  const auto start = std::chrono::steady_clock::now();
  close(master);
  master = -1;
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &waitOv.record, &count, TRUE), ERROR_ACCESS_DENIED);
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &readOv.record, &count, TRUE), ERROR_ACCESS_DENIED);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(2));  // typically well under a millisecond
  RecordProperty("vanish_report_us",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed)
                                      .count()));
  EXPECT_FAILS_WITH(ReadFile(port, buffer, sizeof buffer, &count, &readOv.record),
                    ERROR_ACCESS_DENIED);
  EXPECT_FAILS_WITH(WriteFile(port, "x", 1, &count, &readOv.record), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(port));
  port = INVALID_HANDLE_VALUE;
}

}  // namespace
}  // namespace platform
