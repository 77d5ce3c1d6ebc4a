// The tty back end on a pseudo-terminal: the test holds the master side
// and the port opens the slave through a comN link in a private dosdevices
// folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
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

  // 0xFF and NUL, which a marking line discipline would have changed,
  // come through unharmed.
  const std::string sent = "hello\xFF\x00world";
  ASSERT_EQ(write(master, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
  ASSERT_TRUE(Eventually([&] { return InQueue() == sent.size(); }));
  ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &read, &ov.record));
  EXPECT_EQ(std::string(buffer, read), sent);
}

TEST_F(PtySerial, BurstArrivesWholeAndInOrder) {
  // Far more than one read of the driver, with 0xFF (the marking prefix
  // of a line that marks errors) falling on every read boundary sooner or
  // later: every byte arrives once, unchanged, in order.
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

std::size_t ThreadsInProcess() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(tasks, std::filesystem::directory_iterator()));
}

TEST_F(PtySerial, WaitsAreCompletedByTheThreadThatWaits) {
  // The port has no thread of its own: with this thread the only one in
  // the process, only its own wait can move the byte into the port.
  const std::size_t threads = ThreadsInProcess();
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  DWORD events = 0, count = 0;
  Overlapped ov;
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_IO_PENDING);
  ASSERT_EQ(write(master, "a", 1), 1);
  EXPECT_EQ(WaitForSingleObject(ov.record.hEvent, 5000), WAIT_OBJECT_0);
  ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &count, FALSE));
  EXPECT_EQ(events, EV_RXCHAR);

  // Armed after the byte is in the driver: the wait ends at once.
  ASSERT_EQ(write(master, "b", 1), 1);
  ASSERT_TRUE(Eventually([&] {
    // The byte reaches the slave side after the master's write returns.
    events = 0;
    if (WaitCommEvent(port, &events, &ov.record)) return true;
    PurgeComm(port, PURGE_RXABORT);
    return false;
  }));
  EXPECT_EQ(events, EV_RXCHAR);
  char buffer[8];
  SetTimeouts(port, MAXDWORD, 0, 0);
  ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &count, &ov.record));
  EXPECT_EQ(std::string(buffer, count), "ab");
  EXPECT_EQ(ThreadsInProcess(), threads);
}

TEST_F(PtySerial, OneThreadWaitsForTwoPortsUntilOneVanishes) {
  int otherMaster = -1, otherSlave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&otherMaster, &otherSlave, name, nullptr, nullptr), 0);
  close(otherSlave);
  config.Link(kCom + 3, name);
  const HANDLE other = OpenPort(kCom + 3);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  DWORD events[2] = {}, count = 0;
  Overlapped ov[2];
  const HANDLE ports[2] = {port, other};
  const HANDLE waits[2] = {ov[0].record.hEvent, ov[1].record.hEvent};
  auto arm = [&](int i) {
    ASSERT_TRUE(SetCommMask(ports[i], EV_RXCHAR));
    EXPECT_FAILS_WITH(WaitCommEvent(ports[i], &events[i], &ov[i].record), ERROR_IO_PENDING);
  };
  arm(0);
  arm(1);
  ASSERT_EQ(write(otherMaster, "x", 1), 1);
  EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 5000), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(events[1], EV_RXCHAR);
  EXPECT_FALSE(ov[0].Signalled());
  ResetEvent(waits[1]);
  ASSERT_EQ(write(master, "y", 1), 1);
  EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(events[0], EV_RXCHAR);

  // The second port's device goes away while both are waited for.
  SetTimeouts(other, MAXDWORD, 0, 0);
  char buffer[4];
  ASSERT_TRUE(ReadFile(other, buffer, sizeof buffer, &count, &ov[1].record));
  ResetEvent(waits[0]);
  arm(0);
  arm(1);
  close(otherMaster);
  EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 5000), WAIT_OBJECT_0 + 1);
  EXPECT_FAILS_WITH(GetOverlappedResult(other, &ov[1].record, &count, FALSE), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseHandle(other));
}

TEST_F(PtySerial, PurgeAndCloseEndWaitsOfAnotherThread) {
  SetTimeouts(port, 0, 0, 0);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  char buffer[8];
  DWORD events = 0, count = 0;
  Overlapped readOv, waitOv;
  EXPECT_FAILS_WITH(ReadFile(port, buffer, sizeof buffer, &count, &readOv.record), ERROR_IO_PENDING);
  EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &waitOv.record), ERROR_IO_PENDING);
  DWORD readWoke = 0, waitWoke = 0;
  std::thread reader([&] { readWoke = WaitForSingleObject(readOv.record.hEvent, INFINITE); });
  std::thread waiter([&] { waitWoke = WaitForSingleObject(waitOv.record.hEvent, INFINITE); });
  ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT));
  reader.join();
  EXPECT_EQ(readWoke, WAIT_OBJECT_0);
  EXPECT_FAILS_WITH(GetOverlappedResult(port, &readOv.record, &count, FALSE), ERROR_OPERATION_ABORTED);
  EXPECT_FALSE(waitOv.Signalled());
  ASSERT_TRUE(CloseHandle(port));
  const HANDLE closed = port;
  port = INVALID_HANDLE_VALUE;
  waiter.join();
  EXPECT_EQ(waitWoke, WAIT_OBJECT_0);
  EXPECT_EQ(waitOv.record.Internal, ERROR_OPERATION_ABORTED);
  EXPECT_FAILS_WITH(GetOverlappedResult(closed, &waitOv.record, &count, FALSE), ERROR_INVALID_HANDLE);
}

TEST_F(PtySerial, WakeUpsReachAThreadWhetherItPollsAPortOrSleeps) {
  // A wake-up is handed out after the sync lock is free, so it may land
  // when its sleeper has gone from polling a port to a plain sleep or back.
  // None may be lost (the waits below would run out) and none may end a
  // wait that nothing satisfied.
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  SetTimeouts(port, MAXDWORD, 0, 0);
  const HANDLE plain = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  std::thread setter([&] {
    while (!stop) {
      if (WaitForSingleObject(go, 5000) == WAIT_OBJECT_0 && !stop) SetEvent(plain);
    }
  });
  // Ends the setter however the rounds end.
  struct Ending {
    std::atomic<bool>& stop;
    HANDLE go, plain;
    std::thread& setter;
    ~Ending() {
      stop = true;
      SetEvent(go);
      setter.join();
      CloseHandle(go);
      CloseHandle(plain);
    }
  } ending{stop, go, plain, setter};
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    DWORD events = 0, count = 0;
    Overlapped ov;
    EXPECT_FAILS_WITH(WaitCommEvent(port, &events, &ov.record), ERROR_IO_PENDING);
    const HANDLE both[2] = {ov.record.hEvent, plain};
    // Set by the other thread while this one polls the port.
    SetEvent(go);
    ASSERT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
    // Input ends the same wait, moved by this thread's poll.
    ASSERT_EQ(write(master, "x", 1), 1);
    ASSERT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &ov.record, &count, FALSE));
    EXPECT_EQ(events, EV_RXCHAR);
    char byte = 0;
    ASSERT_TRUE(ReadFile(port, &byte, 1, &count, &ov.record));
    ASSERT_EQ(count, 1u);
    // A plain sleep right after: nothing sets the event, then the other
    // thread does.
    ASSERT_EQ(WaitForSingleObject(plain, 1), WAIT_TIMEOUT);
    SetEvent(go);
    ASSERT_EQ(WaitForSingleObject(plain, 5000), WAIT_OBJECT_0);
  }
}

TEST_F(PtySerial, EchoedBytesAreAllSeenWhileAnotherThreadPulls) {
  // A far end echoes every byte at once, so the answer races the arming
  // of the wait and the waiter's entry into poll; a second thread pulls
  // the driver all the while (ClearCommError), so the waiter often finds
  // the input taken by the other puller and must be woken by its
  // completion. Every round trip must end, with the bytes in order.
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    while (!stop) {
      pollfd fd{master, POLLIN, 0};
      if (poll(&fd, 1, 10) != 1) continue;
      char byte = 0;
      if (read(master, &byte, 1) != 1) continue;
      ASSERT_EQ(write(master, &byte, 1), 1);
    }
  });
  std::thread looker([&] {
    while (!stop) InQueue();
  });
  SetTimeouts(port, MAXDWORD, 0, 0);
  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
  Overlapped waitOv, readOv, writeOv;
  constexpr int kRounds = 400;
  int received = 0, lost = 0, waited = 0;
  for (int i = 0; i < kRounds && lost == 0; ++i) {
    const char sent = static_cast<char>(i);
    DWORD count = 0, events = 0;
    ASSERT_TRUE(WriteFile(port, &sent, 1, &count, &writeOv.record));
    char got = 0;
    count = 0;
    while (count == 0 && lost == 0) {
      if (!WaitCommEvent(port, &events, &waitOv.record)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        ++waited;
        // Both ways a waiting thread finishes an overlapped operation.
        if (i % 2 == 0) {
          if (WaitForSingleObject(waitOv.record.hEvent, 5000) != WAIT_OBJECT_0) ++lost;
        } else {
          std::thread guard([&] {
            // A lost wake-up would hang here for good: end it after a while
            // and count it.
            if (!waitOv.Signalled(5000)) PurgeComm(port, PURGE_RXABORT);
          });
          DWORD unused = 0;
          if (!GetOverlappedResult(port, &waitOv.record, &unused, TRUE)) ++lost;
          guard.join();
        }
      }
      if (lost != 0) break;
      ASSERT_TRUE(ReadFile(port, &got, 1, &count, &readOv.record));
    }
    if (count == 1) {
      EXPECT_EQ(got, sent) << "round " << i;
      ++received;
    }
  }
  stop = true;
  echo.join();
  looker.join();
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(received, kRounds);
  RecordProperty("rounds_that_waited", waited);
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
