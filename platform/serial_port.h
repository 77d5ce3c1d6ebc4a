// The serial port object behind a handle from CreateFileA: the device-
// independent half of the communications functions (see serial.h for the
// behaviour callers see, serial_backend.h for the device half).
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/handles.h"
#include "platform/serial_backend.h"
#include "platform/win_types.h"

#if defined(_WIN32)
#include <condition_variable>
#else
#include "platform/wait_core.h"
#endif

namespace platform {

// Wraps an opened back end in a port object and registers it in the handle
// table; its operations are overlapped when flagsAndAttributes has
// FILE_FLAG_OVERLAPPED.
HANDLE RegisterSerialPort(std::unique_ptr<SerialBackend> backend, DWORD flagsAndAttributes);

// On Windows the port object serves the fake device alone: its events are
// kernel32's, set on completion, and a blocking call sleeps on a condition
// variable of the port (serial_port_win32.cpp). Elsewhere
// (serial_port_posix.cpp) no thread of the port's own moves data. A pending operation binds its
// event to the port (detail::Event::BindLocked), and every thread that
// waits for such an event, or in GetOverlappedResult, polls the back end's
// descriptor and pulls what has arrived itself (BeginPoll, EndPoll), which
// completes the operation in that thread. Output room is the back end's
// to watch (Writable, from its write helper while writes wait for room),
// not the waiters'. The calls that report on input (ReadFile,
// WaitCommEvent, ClearCommError, GetOverlappedResult without waiting) pull
// first, so to a caller input is in the port as soon as it is in the
// driver.
//
// Thread safety: every member may be called from any thread at the same
// time. `mutex_` guards all state below it; the back end is called with it
// held (never Start/Stop/Pull). An operation's overlapped record and event
// change under the sync lock too (detail::SyncMutex, taken inside
// `mutex_`), so a waiter tests them atomically with its sleep, and a caller
// that sees an operation done never meets a late SetEvent meant for it
// after it has started the next one.
class SerialPort final : public KernelObject,
                         public SerialEvents,
#if !defined(_WIN32)
                         public detail::DeviceDriver,
#endif
                         public std::enable_shared_from_this<SerialPort> {
 public:
  SerialPort(std::unique_ptr<SerialBackend> backend, bool overlapped, const DCB& initial);
  ~SerialPort() override;

  // Starts the back end's reporting; call once, right after construction.
  void Start();

  BOOL OnClose() override;

  BOOL SetupComm(DWORD inQueue, DWORD outQueue);
  BOOL GetCommState(DCB* dcb);
  BOOL SetCommState(const DCB* dcb);
  BOOL GetCommTimeouts(COMMTIMEOUTS* timeouts);
  BOOL SetCommTimeouts(const COMMTIMEOUTS* timeouts);
  BOOL SetCommMask(DWORD mask);
  BOOL GetCommMask(DWORD* mask);
  BOOL WaitCommEvent(DWORD* events, OVERLAPPED* overlapped);
  BOOL ReadFile(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped);
  BOOL WriteFile(const void* buffer, DWORD count, DWORD* written, OVERLAPPED* overlapped);
  BOOL WriteFileNow(const void* buffer, DWORD count, DWORD* written);
  BOOL GetOverlappedResult(OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
  BOOL ClearCommError(DWORD* errors, COMSTAT* status);
  BOOL PurgeComm(DWORD flags);
  BOOL EscapeCommFunction(DWORD function);
  BOOL GetCommModemStatus(DWORD* status);

  // SerialEvents
  void DeliverInput(std::span<const BYTE> bytes, std::span<const std::size_t> marked,
                    DWORD lineErrors) override;
  std::size_t InputRoom() override;
  void DeliverEvents(DWORD events) override;
  void Writable() override;
  void Vanished() override;
  std::optional<std::chrono::steady_clock::time_point> NextDeadline() override;
  void ServiceDeadlines() override;

#if !defined(_WIN32)
  // detail::DeviceDriver
  bool BeginPoll(detail::DevicePoll& poll) override;
  void EndPoll(const detail::DeviceReady& ready) override;
#endif

 private:
  using Clock = std::chrono::steady_clock;
  using Lock = std::unique_lock<std::mutex>;

  // The receive queue: a ring that grows to the most it has held (at most
  // the queue limit, rounded up to a power of two) and keeps that storage,
  // so a steady stream costs no allocation per byte or per block.
  class ByteQueue {
   public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void Append(std::span<const BYTE> bytes);
    // Moves the first `count` bytes (count <= size()) to `out`.
    void Take(BYTE* out, std::size_t count);
    void Clear() { head_ = size_ = 0; }

   private:
    void Reserve(std::size_t wanted);
    std::vector<BYTE> ring_;  // size 0 or a power of two
    std::size_t head_ = 0;
    std::size_t size_ = 0;
  };

  struct ReadOp {
    OVERLAPPED* overlapped;
    BYTE* buffer;
    DWORD count;
    std::optional<Clock::time_point> totalDeadline;
    DWORD interval;        // 0: none
    bool returnOnAny;      // the "wait for the first byte" mode
    Clock::time_point started;
  };
  struct WriteOp {
    OVERLAPPED* overlapped;
    std::vector<BYTE> data;
    std::size_t done = 0;
  };
  struct WaitOp {
    OVERLAPPED* overlapped;
    DWORD* events;
  };

  // The value an overlapped record's Internal holds while its operation runs.
  static constexpr std::uintptr_t kPending = 0x103;

#if !defined(_WIN32)
  // What a blocking call waits on: never signalled itself, it wakes its
  // waiters on every completion and makes them drive the port.
  class Progress final : public detail::Waitable {
   public:
    bool IsSignalledLocked() const override { return false; }
    std::shared_ptr<detail::DeviceDriver> DriverLocked() const override { return port.lock(); }
    std::weak_ptr<SerialPort> port;  // set by Start
  };
#endif

  // Why a call cannot go on, or 0. Run with the lock held.
  DWORD Unusable() const;
  // Reads what the device holds into the port, unless another thread is
  // doing so; no lock held.
  void PullInput();
  // Sleeps, driving the port, until the operation is no longer pending.
  void AwaitCompletion(const OVERLAPPED* overlapped);
  std::optional<Clock::time_point> NextDeadlineLocked() const;
  BOOL Fail(DWORD error);
  void MarkPending(OVERLAPPED* overlapped);
  // `queued`: the operation was pending past the call that started it.
  void Complete(OVERLAPPED* overlapped, DWORD error, DWORD transferred, bool queued = true);
  BOOL Finish(Lock& lock, OVERLAPPED* overlapped, DWORD* transferred, bool async);
  void RaiseEvents(DWORD events);
  void StoreByte(BYTE byte, bool marked);
  std::size_t Ready(const ReadOp& op) const;
  bool ReadIsDue(const ReadOp& op, Clock::time_point now) const;
  void CompleteRead(ReadOp& op, std::size_t count, DWORD error, bool queued = true);
  void ServiceReads(Clock::time_point now);
  void ServiceWrites();
  void AbortReads(DWORD error);
  void AbortWrites(DWORD error);
  void AbortAll(DWORD error);

  const std::unique_ptr<SerialBackend> backend_;
  const bool overlapped_;
  const bool pulled_;  // the back end has a descriptor to pull input from
#if defined(_WIN32)
  std::condition_variable done_;  // some operation completed (under mutex_)
#else
  const std::shared_ptr<Progress> progress_ = std::make_shared<Progress>();
#endif

  std::mutex mutex_;
  DCB dcb_;
  COMMTIMEOUTS timeouts_{};
  DWORD mask_ = 0;
  DWORD history_ = 0;  // masked events seen while no wait was pending
  DWORD errors_ = 0;   // CE_ bits since the last ClearCommError
  bool abortedByError_ = false;
  ByteQueue input_;
  std::size_t inputCapacity_ = 4096;
  Clock::time_point lastArrival_{};
  std::deque<ReadOp> reads_;
  std::deque<WriteOp> writes_;
  std::optional<WaitOp> wait_;
  bool vanished_ = false;
  bool closed_ = false;
};

}  // namespace platform
