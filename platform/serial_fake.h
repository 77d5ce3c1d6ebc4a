// A serial device scripted by a test, opened through CreateFileA by the same
// names as a real port once it is registered for a COM number.
//
// The test injects what the line would bring (bytes, line errors, breaks,
// modem-line changes, a ring), decides how the device takes writes (at
// once, pending until released, refused at once, failing on completion),
// makes purges fail, refuses the ring trailing-edge event, or makes the
// device vanish; it reads back everything written, every control block and
// event mask set, every escape and purge.
//
// Example:
//   auto device = platform::FakeSerialDevice::Register(7);
//   HANDLE h = platform::CreateFileA("\\\\.\\COM7", ...);   // opens the fake
//   device->InjectReceived("!");
//   ...
//   platform::FakeSerialDevice::Unregister(7);
//
// The fake lives in the test-support library tesmar_platform_fake, which
// every test program links; the first Register installs it as the
// platform's test factory (SetTestSerialFactory). The product has none.
//
// Thread safety: every member may be called from any thread at any time,
// also while worker threads use the port; a test thread scripts while the
// device layer's threads read, write and wait. Injections made while the
// port is closed are dropped.
#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/serial_backend.h"
#include "platform/win_types.h"

namespace platform {

// The fake's back-end factory: the device registered for comNumber, or
// null with `error` 0 when there is none.
std::unique_ptr<SerialBackend> OpenFakeSerial(int comNumber, DWORD& error);

class FakeSerialDevice {
 public:
  enum class WriteMode {
    kComplete,    // every write is taken at once
    kPend,        // writes stay pending until CompletePendingWrites/FailPendingWrites
    kFailAtOnce,  // WriteFile fails at once with the write error
  };

  // Registers a new device for COMn (replacing an earlier one) and returns
  // it. The registration holds the device until Unregister.
  static std::shared_ptr<FakeSerialDevice> Register(int comNumber);
  static void Unregister(int comNumber);

  // --- Opening ---------------------------------------------------------
  // Error for the next opens (0: they succeed). A second open while the
  // device is open always fails with ERROR_SHARING_VIOLATION.
  void SetOpenError(DWORD error);
  bool IsOpen() const;

  // --- What the line brings ------------------------------------------
  void InjectReceived(std::string_view bytes);
  void InjectReceived(std::span<const BYTE> bytes);
  // Bytes of which some arrived with a parity/framing error (`marked` are
  // positions), together with CE_ bits.
  void InjectMarked(std::span<const BYTE> bytes, std::span<const std::size_t> marked,
                    DWORD lineErrors);
  void InjectLineErrors(DWORD lineErrors);  // CE_ bits, no characters
  void InjectBreak();
  // New levels of the input lines (MS_ bits); each change raises its event
  // (EV_CTS, EV_DSR, EV_RLSD; EV_RING on RI rising, EV_RINGTE on falling).
  void SetModemStatus(DWORD status);
  // RI rises and falls again.
  void Ring();
  // The device is gone: pending and later operations fail with 5, and
  // opening it again fails with 2.
  void Vanish();

  // --- Writes --------------------------------------------------------
  void SetWriteMode(WriteMode mode, DWORD error = ERROR_GEN_FAILURE);
  // Takes every pending write now (they complete successfully).
  void CompletePendingWrites();
  // Every write pending now completes with `error`; writes made meanwhile
  // on other threads are served as the write mode says.
  void FailPendingWrites(DWORD error);
  std::string Written() const;
  void ClearWritten();

  // --- Settings and control -----------------------------------------
  // A driver that refuses EV_RINGTE: SetCommMask with it fails with
  // ERROR_INVALID_PARAMETER and leaves no mask, so the next WaitCommEvent
  // fails the same way.
  void RefuseRingTrailingEdge(bool refuse);
  void FailPurges(DWORD error);    // 0: purges succeed
  void FailSetState(DWORD error);  // 0: SetCommState succeeds
  std::vector<DCB> StatesSet() const;
  std::vector<DWORD> EventMasks() const;
  std::vector<DWORD> Escapes() const;
  std::vector<DWORD> Purges() const;
  bool Dtr() const;
  bool Rts() const;

 private:
  friend class FakeSerialBackend;
  friend std::unique_ptr<SerialBackend> OpenFakeSerial(int comNumber, DWORD& error);

  FakeSerialDevice() = default;
  std::shared_ptr<SerialEvents> Sink() const;

  // Guards every member below. Never held while calling the port.
  mutable std::mutex mutex_;
  std::weak_ptr<SerialEvents> sink_;
  bool open_ = false;
  bool vanished_ = false;
  DWORD openError_ = 0;
  WriteMode writeMode_ = WriteMode::kComplete;
  DWORD writeError_ = ERROR_GEN_FAILURE;
  bool releasing_ = false;     // CompletePendingWrites is running
  DWORD failPending_ = 0;      // FailPendingWrites is running
  // The thread running FailPendingWrites: only the writes it completes
  // fail, not a new one another thread makes meanwhile.
  std::thread::id failingThread_;
  bool refuseRingTe_ = false;
  DWORD purgeError_ = 0;
  DWORD stateError_ = 0;
  DWORD lines_ = 0;
  bool dtr_ = true;
  bool rts_ = true;
  std::string written_;
  std::vector<DCB> states_;
  std::vector<DWORD> masks_;
  std::vector<DWORD> escapes_;
  std::vector<DWORD> purges_;
};

}  // namespace platform
