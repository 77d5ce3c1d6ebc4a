// The seam between the serial port object and the device behind it.
//
// The port object (serial_port.h) carries everything the system interface
// promises and that does not depend on the device: the receive buffer, the
// event mask and its history, pending overlapped reads, writes and event
// waits, time-outs, the line-error bits and the control block that was set.
// A back end only moves bytes and settings to and from one device and
// reports what the device does. A back end with a descriptor has no thread
// of its own for input: the threads that wait for the port's operations
// poll the descriptor and pull what has arrived (serial_port.h). Back ends: serial_posix.cpp (a tty through
// termios, speeds through serial_termios2.cpp) and serial_fake.cpp (a
// device scripted by a test, built into the test-support library only).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>

#include "platform/win_types.h"

namespace platform {

// What a back end reports to its port. Implemented by the port object.
//
// Thread safety: every call may come from any thread, also at the same time
// as the port's own calls into the back end; the port serialises them. A
// back end must not hold a lock of its own while it calls in here, because
// the port calls the back end while holding the port's lock.
class SerialEvents {
 public:
  virtual ~SerialEvents() = default;

  // Received bytes in arrival order. `marked` lists the positions in `bytes`
  // of characters received with a parity or framing error; `lineErrors` are
  // CE_ bits seen with this input (CE_BREAK, CE_FRAME, CE_RXPARITY,
  // CE_OVERRUN). Either span may be empty.
  virtual void DeliverInput(std::span<const BYTE> bytes, std::span<const std::size_t> marked,
                            DWORD lineErrors) = 0;
  // How many received bytes the port can take now; a back end that pulls
  // leaves the rest in the device.
  virtual std::size_t InputRoom() = 0;
  // Modem-line events (EV_CTS, EV_DSR, EV_RLSD, EV_RING, EV_RINGTE).
  virtual void DeliverEvents(DWORD events) = 0;
  // The device can take more output: the port retries its pending writes.
  virtual void Writable() = 0;
  // The device is gone: every pending and later operation fails.
  virtual void Vanished() = 0;
  // The earliest moment a pending read times out, if any; the back end
  // calls ServiceDeadlines once that moment has passed.
  virtual std::optional<std::chrono::steady_clock::time_point> NextDeadline() = 0;
  virtual void ServiceDeadlines() = 0;
};

// One open device. Every call except Start and Stop comes from the port
// with the port's lock held, so a back end never sees two of them at once;
// they must not block for longer than a system call that does not wait.
// Results are 0 or a system error number.
//
// Thread safety: see above; Start and Stop come from the thread that opens
// and closes the port, without the port's lock.
class SerialBackend {
 public:
  virtual ~SerialBackend() = default;

  // Begins reporting to `events` (held weakly: the port may go away first).
  virtual void Start(std::weak_ptr<SerialEvents> events) = 0;
  // The descriptor that waiting threads poll for input, output room and a
  // hang-up, or -1 when the back end reports everything by itself. Valid
  // from the open until Stop.
  virtual int Descriptor() const { return -1; }
  // Reads what the device holds now (as much as InputRoom allows), without
  // waiting, and reports it (DeliverInput, and Vanished when the device is
  // gone or `hangup` says the poll saw it hang up). Called without the
  // port's lock, from any thread; pulls run one at a time (a second waits
  // for the first and then takes what is left), so input keeps its order
  // and a pull that returns finds what the device held before it began
  // delivered.
  virtual void Pull(bool /*hangup*/) {}
  // The same, except that while another thread pulls it returns at once:
  // what the device holds then is on its way into the port already. For
  // the calls that only report on input, which would otherwise queue up
  // behind each other's reads.
  virtual void PullUnlessPulling() {}
  // Ends all reporting and releases the device. No call into SerialEvents
  // starts after Stop has returned. Idempotent.
  virtual void Stop() = 0;

  // Line settings of a control block the port has already checked.
  virtual DWORD ApplyState(const DCB& dcb) = 0;
  // The events the port now wants (the back end starts or stops watching
  // the modem lines accordingly).
  virtual DWORD ApplyEventMask(DWORD mask) = 0;
  // Hands as much of `data` as the device takes now to it, without waiting;
  // `accepted` tells how much that was.
  virtual DWORD Transmit(std::span<const BYTE> data, std::size_t& accepted) = 0;
  // Whether the port wants Writable calls (it has writes pending).
  virtual void WatchWritable(bool on) = 0;
  // The device's part of PurgeComm (its own queues).
  virtual DWORD Purge(DWORD flags) = 0;
  virtual DWORD Escape(DWORD function) = 0;
  virtual DWORD ModemStatus(DWORD& status) = 0;
  // Bytes the device has taken but not yet sent.
  virtual DWORD OutputQueued() = 0;
  // A read with a time-out was added: NextDeadline may now be earlier.
  virtual void DeadlineChanged() = 0;
};

}  // namespace platform

namespace platform {

// The control block a port starts with: 9600 baud, 8 data bits, no parity,
// one stop bit, binary mode, DTR and RTS raised, XON 0x11 and XOFF 0x13.
DCB DefaultControlBlock();

// Back-end factories for CreateFileA. Each returns the opened back end, or
// null with `error` set. A test's factory returns null with `error` 0 for a
// number it does not serve, which then opens as a tty.
using SerialBackendFactory = std::unique_ptr<SerialBackend> (*)(int comNumber, DWORD& error);
// The tty back end (serial_posix.cpp; not on Windows, where the system's
// own CreateFileA opens the device).
std::unique_ptr<SerialBackend> OpenTtySerial(int comNumber, DWORD& error);

// The one hook through which a test-support back end (the fake device,
// library tesmar_platform_fake) registers itself: CreateFileA asks it
// first. The product never installs one. Any thread; installing the same
// factory again changes nothing.
void SetTestSerialFactory(SerialBackendFactory factory);
// The factory installed, or null.
SerialBackendFactory TestSerialFactory();

}  // namespace platform
