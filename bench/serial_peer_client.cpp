// A client for the serial peer harness (bench/peer_client.h) that talks
// through our own serial functions only, so their cost can be set beside
// plain termios and other serial stacks measured in the same run.
//
//   serial_peer_client SLAVE rtt|xchg|cold COUNT | rx|tx BYTES
//
// The port is used the way the device layer uses it: overlapped handle, the
// event mask of its event thread, read time-outs that return at once,
// WaitCommEvent for EV_RXCHAR and then ReadFile of what has arrived, and
// overlapped writes finished with GetOverlappedResult.
#include <cstdint>
#include <string>

#include "bench/peer_client.h"
#include "platform/handles.h"
#include "platform/last_error.h"
#include "platform/serial.h"
#include "platform/sync.h"

namespace {

using namespace platform;
using bench::Fail;

// The event thread's mask: received characters, modem lines, break, errors
// and ring. A pseudo-terminal only ever raises EV_RXCHAR.
constexpr DWORD kEventMask = 0x1F9;
// Receive queue. The port drains the device at once and drops what does not
// fit (CE_RXOVER); a pseudo-terminal is not paced, so the blast of the rx
// mode needs room for what arrives between two reads of this thread.
constexpr DWORD kInQueue = 1u << 20;
constexpr DWORD kOutQueue = 4096;

[[noreturn]] void FailWithError(const std::string& what) {
  Fail(what + " failed (error " + std::to_string(GetLastError()) + ")");
}

// --- The port ----------------------------------------------------------------

class Port {
 public:
  Port();
  ~Port();
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  void Write(const BYTE* data, std::size_t count);
  // Waits for received characters and returns how many were read (> 0).
  std::size_t ReadSome(BYTE* buffer, std::size_t capacity);
  void ReadExact(BYTE* buffer, std::size_t count);

 private:
  void Configure();
  void Await(OVERLAPPED& overlapped, DWORD* transferred, const char* what);
  void WaitForInput();

  HANDLE port_ = INVALID_HANDLE_VALUE;
  OVERLAPPED wait_{};
  OVERLAPPED read_{};
  OVERLAPPED write_{};
  DWORD events_ = 0;
};

Port::Port() {
  port_ = CreateFileA(bench::PeerComName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED, 0);
  if (port_ == INVALID_HANDLE_VALUE) FailWithError("CreateFileA(COM1)");
  for (OVERLAPPED* o : {&wait_, &read_, &write_}) {
    o->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (o->hEvent == 0) FailWithError("CreateEventA");
  }
  Configure();
}

Port::~Port() {
  CloseHandle(port_);
  for (OVERLAPPED* o : {&wait_, &read_, &write_}) CloseHandle(o->hEvent);
}

void Port::Configure() {
  if (!SetupComm(port_, kInQueue, kOutQueue)) FailWithError("SetupComm");
  DCB dcb{};
  if (!GetCommState(port_, &dcb)) FailWithError("GetCommState");
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  // Binary, no parity check, no flow control of either kind, DTR and RTS up.
  dcb.Flags = DCB_fBinary | DCB_fDtrControlEnable | DCB_fRtsControlEnable;
  if (!SetCommState(port_, &dcb)) FailWithError("SetCommState");
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;  // reads return at once with what is there
  if (!SetCommTimeouts(port_, &timeouts)) FailWithError("SetCommTimeouts");
  if (!SetCommMask(port_, kEventMask)) FailWithError("SetCommMask");
  if (!PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR)) FailWithError("PurgeComm");
}

// Finishes an operation that returned ERROR_IO_PENDING, within the I/O limit.
void Port::Await(OVERLAPPED& overlapped, DWORD* transferred, const char* what) {
  const DWORD waited = WaitForSingleObject(overlapped.hEvent, bench::IoTimeoutMs);
  if (waited == WAIT_TIMEOUT) Fail(std::string(what) + ": no answer within 5 s");
  if (waited != WAIT_OBJECT_0) FailWithError(std::string(what) + " wait");
  if (!GetOverlappedResult(port_, &overlapped, transferred, FALSE)) {
    FailWithError(std::string(what) + " GetOverlappedResult");
  }
}

void Port::Write(const BYTE* data, std::size_t count) {
  DWORD written = 0;
  if (!WriteFile(port_, data, static_cast<DWORD>(count), &written, &write_)) {
    if (GetLastError() != ERROR_IO_PENDING) FailWithError("WriteFile");
    Await(write_, &written, "WriteFile");
  }
  if (written != count) Fail("WriteFile: short write");
}

void Port::WaitForInput() {
  for (;;) {
    if (!WaitCommEvent(port_, &events_, &wait_)) {
      if (GetLastError() != ERROR_IO_PENDING) FailWithError("WaitCommEvent");
      DWORD unused = 0;
      Await(wait_, &unused, "WaitCommEvent");
    }
    if (events_ & EV_ERR) Fail("line error reported");
    if (events_ & EV_RXCHAR) return;
  }
}

std::size_t Port::ReadSome(BYTE* buffer, std::size_t capacity) {
  for (;;) {
    WaitForInput();
    DWORD got = 0;
    if (!ReadFile(port_, buffer, static_cast<DWORD>(capacity), &got, &read_)) {
      if (GetLastError() != ERROR_IO_PENDING) FailWithError("ReadFile");
      Await(read_, &got, "ReadFile");
    }
    // An event kept from an earlier arrival may find its bytes already read.
    if (got > 0) return got;
  }
}

void Port::ReadExact(BYTE* buffer, std::size_t count) {
  for (std::size_t done = 0; done < count;) done += ReadSome(buffer + done, count - done);
}

}  // namespace

int main(int argc, char** argv) {
  return bench::PeerClientMain<Port>("tesmar", argc, argv);
}
