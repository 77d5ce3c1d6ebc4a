// The device layer: TSioWin32Dispatcher drives one serial device through
// the platform's serial functions (platform/serial.h) with overlapped I/O
// and runs three worker threads beside the window's thread:
//   TComThread   waits for the device's communications events and wakes
//                the dispatch thread;
//   TDispThread  moves received bytes into the input ring, runs the trigger
//                passes and delivers their events; it also wakes every
//                50 ms by itself (timer triggers, data without an event);
//   TOutThread   writes the output ring to the device.
//
// Use (as the port component, a bench or a test does):
//   device::TSioWin32Dispatcher d(nullptr);
//   ResultCode rc = d.OpenLine("\\\\.\\COM3", 9600, 2, 7, 1, 4096, 4096, 0x03);
//   // or d.OpenPort(3, ...), or any name CreateFileA takes ("COM3").
//   d.AddWindowReceiver(hiddenWindow);            // trigger messages
//   d.WriteBlock("F1\n", 3);                      // queued, sent by TOutThread
//   while (d.CharAvailable()) d.ReadChar(c);      // filled by TDispThread
//   d.CloseLine();                                // or just destroy it
// OpenLine returns 0 or a negative result code (errors/SioCodes.h; minus the
// system error of a failed open, e.g. -2 no such port, -5 in use). Every
// other operation is the base dispatcher's (dispatcher/SioDispatch.h).
//
// Ownership: the dispatcher owns its three thread objects (one
// std::unique_ptr each); a thread that has ended is joined and freed by the
// stop, by the next start or by the destructor. The destructor closes the
// line if it is open and waits for every thread. A class derived from this
// one closes (CloseForDestruction) in its own destructor: the workers call
// virtual operations until they have ended.
//
// Not on this platform: DTR handshake, DSR output flow and DSR sensitivity
// fail with -50 (ERROR_NOT_SUPPORTED) from SetHardwareFlow; RS-485 has no
// UART base address (UartBase stays 0).
//
// Thread safety: the window's thread (the thread that created the
// dispatcher) calls OpenLine, CloseLine, the line and flow operations,
// WriteBlock, the flushes, the reads and the receiver operations; a
// procedure or method receiver runs on the dispatch thread and may call the
// reads. CloseLine from inside a delivery only marks the close pending; the
// dispatch thread finishes it (ThreadsStarted clears when the last worker
// has ended). The device operations (the Device* overrides) are called by
// the base dispatcher and the workers as documented there: DeviceRead by
// the dispatch thread only, DeviceWrite by WriteBlock only. A stop run on
// the window's thread handles the messages sent to that thread (trigger
// messages, synchronized calls) while it waits, so a worker blocked on one
// cannot deadlock it.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

#include "dispatcher/SioDispatch.h"
#include "framework/Thread.h"

namespace device {

using errors::ResultCode;

class TSioWin32Dispatcher;

// The output ring's index arithmetic over OutRing, OutHead, OutTail and
// OutFull, apart from the threads that use it. The caller holds
// OutputLock for as long as it uses the view.
struct TOutputRing {
  platform::BYTE* Ring;
  std::int32_t Size;
  std::int32_t& Head;
  std::int32_t& Tail;
  bool& Full;

  // The count of the block the next write takes, from Tail; 0 when the
  // ring is empty. Data that wraps is first made contiguous in place
  // (Tail becomes 0), so that it leaves in one write in queue order.
  std::int32_t NextBlock();
  // n bytes of that block have left: Tail moves on, and an emptied ring
  // starts again at 0. A write that moved nothing (n <= 0) changes
  // nothing, so a full ring stays full.
  void Advance(std::int32_t n);
};

// The handles a worker uses, copied when it is made: the fields of the
// dispatcher may change while the worker still runs.
struct TThreadEvents {
  platform::HANDLE CommEvent = platform::INVALID_HANDLE_VALUE;
  platform::HANDLE DispatchDone = platform::INVALID_HANDLE_VALUE;
  platform::HANDLE ThreadAck = platform::INVALID_HANDLE_VALUE;
  platform::HANDLE OutputReady = platform::INVALID_HANDLE_VALUE;
  platform::HANDLE OutputDone = platform::INVALID_HANDLE_VALUE;
  platform::HANDLE OutputFlush = platform::INVALID_HANDLE_VALUE;
};

// The common base of the three workers: a framework thread bound to its
// dispatcher (not owned). Its body runs Run; whether Run returns or
// throws, the end-of-thread bookkeeping runs exactly once afterwards.
//
// Thread safety: SetPriorityStep from any thread under the dispatcher's
// DispatchLock; SynchronizedCall from the worker itself only.
class TSioDispatcherThread : public framework::TThread, public dispatcher::TSioDispatcherThread {
 public:
  TSioDispatcherThread(TSioWin32Dispatcher& owner, const TThreadEvents& events);

  void SetPriorityStep(int step) override;
  // Stores the call in the call slot and runs it on the main thread while
  // this worker waits; an exception it raises is raised again here.
  void SynchronizedCall(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam,
                        const dispatcher::TTriggerMethod& method) override;

 protected:
  virtual void Run() = 0;
  void Execute() final;

  TSioWin32Dispatcher& Dispatcher;
  const TThreadEvents Events;

 private:
  // The call slot (the worker's own; filled and used on one call).
  platform::UINT CallMessage = 0;
  platform::WPARAM CallWParam = 0;
  platform::LPARAM CallLParam = 0;
  dispatcher::TTriggerMethod CallMethod;
};

// Waits for the device's events; wakes TDispThread after each and waits for
// its pass before the next event wait.
class TComThread final : public TSioDispatcherThread {
 public:
  using TSioDispatcherThread::TSioDispatcherThread;

 protected:
  void Run() override;

 private:
  bool WaitForEvent(platform::DWORD& mask, platform::OVERLAPPED& overlapped);
  platform::DWORD EventBits = 0;  // written by the device on completion
};

// Runs the event and timer passes after each event; every DispatchWakeMs
// without one, the timer pass only (and the event pass too while the device
// held characters when last asked); at once again while the last fill step
// left characters in the device that the ring now has room for.
class TDispThread final : public TSioDispatcherThread {
 public:
  using TSioDispatcherThread::TSioDispatcherThread;

 protected:
  void Run() override;
};

// Writes the output ring with one overlapped write per contiguous block.
class TOutThread final : public TSioDispatcherThread {
 public:
  using TSioDispatcherThread::TSioDispatcherThread;

 protected:
  void Run() override;

 private:
  // One round of the write loop; false when a flush ended it.
  bool WriteOneBlock();
  platform::OVERLAPPED Overlapped;
};

class TSioWin32Dispatcher : public dispatcher::TSioBaseDispatcher {
 public:
  explicit TSioWin32Dispatcher(comport::TSioCustomComPort* owner);
  ~TSioWin32Dispatcher() override;

  // OpenLine with the name "\\.\COM<comNumber>".
  ResultCode OpenPort(int comNumber, platform::DWORD baud, std::int32_t parity,
                      std::int32_t dataBits, std::int32_t stopBits, platform::DWORD inSize,
                      platform::DWORD outSize, platform::DWORD options);

  // How long the dispatch thread waits for a communications event before it
  // runs its passes all the same (the timer triggers need it): 50 ms. Set
  // before the open.
  std::atomic<platform::DWORD> DispatchWakeMs{50};
  // The passes the dispatch thread has run.
  std::atomic<std::uint64_t> DispatchPasses{0};

  // Called on the worker with the exception that ended its body, after
  // which the worker ends normally. Unset: the exception's text goes to
  // stderr. Set before the open.
  std::function<void(std::exception_ptr)> OnThreadException;

  // ---- Device operations --------------------------------------------------
  // Always 0, whatever the device reports.
  ResultCode DeviceEscape(platform::DWORD code) override;
  // queue != 0: receive purge. 0: transmit purge: the output thread drops
  // its write and acknowledges (only its own answer, or its end, lets the
  // purge go on), then the ring and the device's transmit queue are
  // emptied. 0 or minus the system error.
  ResultCode DevicePurge(std::int32_t queue) override;
  // The device's error bits (0 when it cannot say); status.cbOutQue is the
  // output ring's fill.
  platform::DWORD DeviceGetErrors(platform::COMSTAT& status) override;
  ResultCode DeviceClearEvents(std::int32_t events) override;
  // 0, or -1 (the copy is left as it was).
  ResultCode DeviceGetState(platform::DCB& state) override;
  // What the device holds, at most count; 0 when the read failed.
  std::int32_t DeviceRead(void* buffer, std::int32_t count) override;
  ResultCode DeviceSetState(platform::DCB& state) override;
  // With the output ring empty and not marked full, first hands the device
  // what it takes at once; copies the rest into OutRing at OutHead (the
  // caller checked the room and keeps OutFull) and wakes the output
  // thread; count.
  std::int32_t DeviceWrite(const void* buffer, std::int32_t count) override;
  bool DeviceWaitEvent(platform::DWORD& eventWord, platform::OVERLAPPED& overlapped) override;
  bool DeviceSetupQueues(platform::DWORD inSize, platform::DWORD outSize) override;
  // The base's release, but the workers are stopped and joined also when
  // they all ended by themselves.
  void ReleaseBuffers() override;
  // Raises "Dispatcher already started" (framework::Exception) when the
  // threads run.
  void StartThreads() override;
  void StopThreads() override;
  // The handle, -1 (system error kept) or -8 (no event).
  platform::HANDLE DeviceOpen(const char* name, platform::DWORD inSize,
                              platform::DWORD outSize) override;
  // 0, or -1 when the device could not be closed (the handle is kept).
  ResultCode DeviceClose() override;
  ResultCode DeviceIdle() override;
  platform::DWORD DeviceModemStatus() override;

 protected:
  using OwnedThread = framework::TThread::Owned<TSioDispatcherThread>;
  // The workers, guarded by DispatchLock; empty when none was started or
  // the one started has been joined.
  OwnedThread ComThreadObject;
  OwnedThread DispThreadObject;
  OwnedThread OutThreadObject;

 private:
  friend class TSioDispatcherThread;
  friend class TComThread;
  friend class TDispThread;
  friend class TOutThread;

  // The end-of-thread bookkeeping, on the worker, after its body.
  void ThreadEnded(TSioDispatcherThread& thread);
  void ReportThreadException(std::exception_ptr error);
  // Starts one worker and waits (at most 3 s) for its acknowledgement.
  // DispatchLock held.
  template <class T>
  void StartOne(OwnedThread& slot, dispatcher::TSioDispatcherThread*& reference,
                const TThreadEvents& events) TESMAR_REQUIRES(DispatchLock);
  // Waits, handling messages sent to the calling thread, until the worker
  // in slot has ended, then joins and frees it. Nothing when the slot is
  // empty or holds the calling thread. lock (DispatchLock) is left while
  // waiting.
  void AwaitThread(OwnedThread& slot, std::unique_lock<platform::CriticalSection>& lock);
  // Joins and frees every worker that has ended; DispatchLock held.
  void ReapEndedThreads();
  bool OnWorkerThread(const OwnedThread& slot) const;
  // The output ring's view; OutputLock held while it is used.
  TOutputRing OutputRing() TESMAR_REQUIRES(OutputLock);
  // The output thread's answer to a flush: it holds no block any more.
  void AcknowledgeFlush(platform::HANDLE ack);

  // The read's and the spare overlapped events, made by DeviceOpen and
  // closed by DeviceClose (window's thread) while the dispatch thread may
  // be reading: hence atomic, and copied into the record at each read.
  std::atomic<platform::HANDLE> ReadEvent{0};
  std::atomic<platform::HANDLE> SpareEvent{0};
  // The dispatch thread's read record (DeviceRead only).
  platform::OVERLAPPED ReadOverlapped;
  // The flushes the output thread has answered. ThreadAck is set by every
  // worker as it starts or ends, so a purge counts this instead: an answer
  // taken from another thread would leave the flush signal behind, to
  // abandon a later, unrelated write.
  std::atomic<std::uint32_t> FlushesAnswered{0};
};

}  // namespace device
