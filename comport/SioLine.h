// The port component's line: one open serial device worked directly
// through the platform's serial functions, with an input buffer filled by a
// worker thread and overlapped writes. It answers in result codes (0 or a
// count for success, a negative code for failure: minus the system error,
// or one of errors/SioCodes.h) and never raises; the port component turns
// the codes into exceptions.
//
// The worker thread waits for received characters, moves them from the
// device into the input buffer and, while a receiver window is registered
// and listening, tells it with a blocking send of MsgTriggerAvail (32257;
// wParam the number of waiting characters, lParam the line's handle in its
// high word), waiting at most kTriggerSendLimitMs for the window to answer.
// A send that is not answered in time is dropped; the characters stay in
// the buffer.
//
// Thread safety: every member is called on the thread that owns the port
// component (the window's thread), one call at a time. The worker thread
// shares with it only the input buffer (guarded by inputMutex_), the
// listening and stop flags (atomic) and the device handle and receiver
// window, which do not change while it runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dispatcher/SioDispatchRecords.h"
#include "platform/messages.h"
#include "platform/win_types.h"

namespace comport {

// Trigger messages (the dispatcher's) and the component's own message, all
// sent to the component's hidden window.
using dispatcher::MsgTriggerAvail;
using dispatcher::MsgTriggerData;
using dispatcher::MsgTriggerStatus;
using dispatcher::MsgTriggerTimer;
inline constexpr platform::UINT MsgFinishClose = 32266;

// How long the worker waits for the window to take a trigger message.
inline constexpr platform::UINT kTriggerSendLimitMs = dispatcher::TriggerSendLimitMs;

// Characters held between the device and the reader; received characters
// beyond this are dropped (the reader is that far behind).
inline constexpr std::size_t kInputBufferSize = 8192;

struct TLineSettings {
  std::int32_t baud = 19200;
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t dataBits = 8;  // 5..8
  std::uint8_t stopBits = 1;  // 1 or 2
};

class TSioLine {
 public:
  explicit TSioLine(std::uint16_t handle = 0);
  ~TSioLine();  // CloseLine

  TSioLine(const TSioLine&) = delete;
  TSioLine& operator=(const TSioLine&) = delete;

  // The number that travels in the high word of this line's messages.
  std::uint16_t Handle() const { return handle_; }

  // Opens `name` ("\\.\COMn") exclusively, sizes the queues and applies the
  // settings with DTR and RTS raised. 0, or minus the system error of the
  // step that failed (nothing stays open then).
  std::int32_t OpenLine(const std::string& name, const TLineSettings& settings,
                        std::uint16_t inSize, std::uint16_t outSize);
  // Stops the worker (handling messages sent to this thread meanwhile),
  // discards what is queued either way and closes the device. Idempotent.
  void CloseLine();
  bool IsOpen() const { return device_ != platform::INVALID_HANDLE_VALUE; }

  std::int32_t SetLineSettings(const TLineSettings& settings);
  std::int32_t SetQueueSizes(std::uint16_t inSize, std::uint16_t outSize);

  // Queues `len` bytes for sending and returns at once: 0, -3006 when they
  // do not fit the free room of the output queue (nothing is queued), or
  // minus the system error.
  std::int32_t WriteBlock(const void* block, std::uint16_t len);
  bool CharAvailable();
  std::size_t InCount();
  // 0 with the oldest waiting character in `c`, or -3007 when none waits.
  std::int32_t ReadChar(char& c);
  // Takes exactly `len` characters (the count) or none (-3007).
  std::int32_t ReadBlock(void* block, std::uint16_t len);
  // Discard what was received and not read / what was queued and not sent.
  std::int32_t FlushInput();
  std::int32_t FlushOutput();

  // Starts the worker that tells `window` of received characters. Returns
  // false when the thread cannot be started (characters are then still
  // collected by the polling calls, but no window hears of them).
  bool AddWindowReceiver(platform::HWND window);
  // Stops the worker and forgets the window (see CloseLine).
  void RemoveWindowReceiver();
  // Whether the registered window wants trigger messages.
  void SetListening(bool listening) { listening_.store(listening); }
  // Asks the worker to end without waiting for it (a close requested while
  // the worker waits for the window that asks). ThreadsStarted stays true
  // until the worker has ended.
  void RequestStop();
  bool ThreadsStarted() const;

 private:
  struct PendingWrite;

  void RunWorker();
  void DrainDevice();
  std::size_t TakeIntoBuffer();
  void ReapWrites(bool wait);
  std::int32_t ApplySettings(const TLineSettings& settings);
  void StopWorker();

  const std::uint16_t handle_;
  platform::HANDLE device_ = platform::INVALID_HANDLE_VALUE;
  std::uint16_t outSize_ = 4096;

  // Writes handed to the device and not yet reaped; the window's thread only.
  std::deque<std::unique_ptr<PendingWrite>> writes_;

  // Guards input_. Producer: the worker (DrainDevice); consumers: the
  // window's thread (CharAvailable, ReadChar, ReadBlock, FlushInput), which
  // also drains the device itself, so a reader never waits for the worker.
  std::mutex inputMutex_;
  std::deque<std::uint8_t> input_;

  platform::HANDLE worker_ = 0;
  platform::HWND window_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> listening_{false};
};

}  // namespace comport
