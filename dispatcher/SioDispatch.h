// The device-independent dispatcher behind one open serial port: the
// registry of dispatchers, the input ring and the bookkeeping of the output
// ring, character and block I/O, read-and-clear line errors and modem
// status, the character trace and the dispatch log.
//
// Result codes: every operation that can fail returns a signed 32-bit code,
// 0 or a non-negative count for success, a negative code of errors/SioCodes.h
// for failure (for file errors of the dumps, minus a system or runtime
// input/output error number).
//
// Ownership: the port component creates one dispatcher per open port and
// destroys it after the close has completed. The dispatcher owns its rings,
// trigger tables, receiver lists, trace and log buffers, locks and events; it
// does not own its OwnerPort nor its worker threads (they free themselves).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dispatcher/SioDispatchRecords.h"
#include "errors/SioCodes.h"
#include "platform/sync.h"
#include "platform/thread_safety.h"
#include "platform/win_types.h"

namespace comport {
class TSioCustomComPort;
}

namespace dispatcher {

using errors::ResultCode;

// Size of the input ring; fixed, whatever receive-queue size the port has.
constexpr std::int32_t InRingSize = 8192;
// Largest trace capacity, in entries.
constexpr platform::DWORD MaxTraceEntries = 4000000;
// Largest dispatch-log ring, in bytes.
constexpr platform::DWORD MaxLogRingSize = 16000000;
// Most entries of each trigger table.
constexpr std::size_t MaxTriggersPerTable = 256;

// Bits of LineErrorBits (the device's low five error bits).
constexpr platform::DWORD LineErrorOverflow = 0x01;
constexpr platform::DWORD LineErrorOverrun = 0x02;
constexpr platform::DWORD LineErrorParity = 0x04;
constexpr platform::DWORD LineErrorFraming = 0x08;
constexpr platform::DWORD LineErrorBreak = 0x10;
constexpr platform::DWORD LineErrorMask = 0x1F;

// Bits of ModemBits: change bits 0-3, current levels 4-7.
constexpr platform::DWORD ModemDeltaCts = 0x01;
constexpr platform::DWORD ModemDeltaDsr = 0x02;
constexpr platform::DWORD ModemTrailingRing = 0x04;
constexpr platform::DWORD ModemDeltaDcd = 0x08;
constexpr platform::DWORD ModemCts = 0x10;
constexpr platform::DWORD ModemDsr = 0x20;
constexpr platform::DWORD ModemRing = 0x40;
constexpr platform::DWORD ModemDcd = 0x80;

// The option bit the component drives from its UseEventWord property; the
// dispatcher stores it and does not consult it.
constexpr platform::DWORD OptionUseEventWord = 0x04;

// Trace entry kinds.
constexpr char TraceReceived = 'R';
constexpr char TraceTransmitted = 'T';

// The dispatch log's clock: the performance counter scaled to milliseconds
// (its frequency divided by 1000, rounded), or the multimedia millisecond
// timer when there is no counter; 32 bits, wrapping.
platform::DWORD MillisecondClock();

// The build identification written after "Compiler : " in a log file: the
// compiler's name and version, for example "GCC 12.2.0".
std::string CompilerDescription();

// A worker thread of a dispatcher. The device layer derives its three
// threads from it; the base dispatcher only changes their priority.
//
// Thread safety: SetPriorityStep is called by the dispatcher under its
// DispatchLock, from the window's thread, while the thread runs.
//
// SynchronizedCall is called by the dispatch thread on its own thread
// object, during a delivery, with no dispatcher lock held.
class TSioDispatcherThread {
 public:
  virtual ~TSioDispatcherThread() = default;
  // step: 0 idle, 1 lowest, 2 lower, 3 normal, 4 higher, 5 highest,
  // 6 time-critical.
  virtual void SetPriorityStep(int step) = 0;
  // Runs method(message, wParam, lParam) on the application's main thread
  // while the calling worker waits, and returns when it has run. An
  // exception the method raises is raised again in the caller.
  virtual void SynchronizedCall(platform::UINT message, platform::WPARAM wParam,
                                platform::LPARAM lParam, const TTriggerMethod& method) = 0;
};

class TSioBaseDispatcher;

// Holds the process-wide registry lock for its lifetime, so that a
// dispatcher found through it stays registered until the lock is released.
// The registry lock is taken before any lock of a dispatcher, never after
// one. Dispatchers are created and destroyed on the window's thread, so a
// dispatcher that this thread finds here is whole while the lock is held;
// a receiver run on another thread must not destroy one.
class TSioRegistryLock {
 public:
  TSioRegistryLock();
  ~TSioRegistryLock();
  TSioRegistryLock(const TSioRegistryLock&) = delete;
  TSioRegistryLock& operator=(const TSioRegistryLock&) = delete;
  // The registered dispatcher with that handle, or null.
  TSioBaseDispatcher* Find(std::int32_t handle) const;
};

// TSioBaseDispatcher: abstract; the device layer overrides every device
// operation (the 18 virtual slots below, in their order) and runs the
// worker threads that fill the input ring, drain the output ring and drive
// the trigger passes.
//
// Locks. Three re-entrant critical sections:
//   InputLock    guards InHead, InTail, InputFull, InAvailDelivery,
//                TakenCount, MaxTakenCount, the other delivery counts and
//                the input ring's allocation.
//                Producer: the dispatch thread (FillDispatchBuffer);
//                consumers: the window's thread (reads, FlushInput) and the
//                receivers of a delivery.
//   OutputLock   guards OutHead, OutTail, OutFull, OutRing. Producer: the
//                window's thread (WriteBlock -> DeviceWrite); consumer: the
//                output thread.
//   DispatchLock guards the trigger tables, receiver lists and handler
//                flags, the line settings, ModemBits, the read-and-clear of
//                LineErrorBits, OptionBits, ThreadBoost, the worker-thread
//                references, and the trace and log buffers.
// Order of taking: InputLock, then DispatchLock, then OutputLock. A thread
// that holds a later one never takes an earlier one: ReadChar traces and the
// fill step logs while holding InputLock; ReadBlock and WriteBlock release
// InputLock or OutputLock before they take DispatchLock to trace and log.
// CommStatus has a lock of its own (StatusLock), taken last and never held
// across a call. The process-wide registry lock (TSioRegistryLock) comes
// before all of them. The fields carry their lock's TESMAR_GUARDED_BY, so a
// Clang build with TESMAR_THREAD_SAFETY checks every access; functions that
// expect a lock held say TESMAR_REQUIRES. The locks are re-entrant, but the
// annotations treat them as plain: a function never enters a lock twice
// within its own body.
//
// Thread safety: the dispatch thread calls FillDispatchBuffer (and the
// trigger passes); the window's thread calls the reads, writes, flushes,
// status and option operations and the trace and log operations; both may
// run at the same time, and any thread may read during a delivery (reads
// are then non-destructive). Construction, CloseLine and destruction are the
// window's thread's, with no other call in progress.
class TSioBaseDispatcher {
 public:
  explicit TSioBaseDispatcher(comport::TSioCustomComPort* owner);
  // A derived class closes through CloseForDestruction() in its own
  // destructor: the device operations are gone by the time this one runs.
  virtual ~TSioBaseDispatcher();

  TSioBaseDispatcher(const TSioBaseDispatcher&) = delete;
  TSioBaseDispatcher& operator=(const TSioBaseDispatcher&) = delete;

  // ---- Virtual device operations, in slot order -------------------------
  /*  0 */ virtual ResultCode DeviceEscape(platform::DWORD code) = 0;
  /*  1 */ virtual ResultCode DevicePurge(std::int32_t queue) = 0;  // 1 receive, 0 transmit
  /*  2 */ virtual platform::DWORD DeviceGetErrors(platform::COMSTAT& status) = 0;
  /*  3 */ virtual ResultCode DeviceClearEvents(std::int32_t events) = 0;
  /*  4 */ virtual ResultCode DeviceGetState(platform::DCB& state) = 0;
  /*  5 */ virtual std::int32_t DeviceRead(void* buffer, std::int32_t count) = 0;
  /*  6 */ virtual ResultCode DeviceSetState(platform::DCB& state) = 0;
  /*  7 */ virtual std::int32_t DeviceWrite(const void* buffer, std::int32_t count) = 0;
  /*  8 */ virtual bool DeviceWaitEvent(platform::DWORD& eventWord, platform::OVERLAPPED& overlapped) = 0;
  /*  9 */ virtual bool DeviceSetupQueues(platform::DWORD inSize, platform::DWORD outSize) = 0;
  // Stops the threads if they were started, then frees the output ring and
  // the input ring; safe to run from two threads at once (each ring is
  // freed once). The trace and the log are left alone.
  /* 10 */ virtual void ReleaseBuffers();
  /* 11 */ virtual void StartThreads() = 0;
  /* 12 */ virtual void StopThreads() = 0;
  // Returns the device handle, or a negative code.
  /* 13 */ virtual platform::HANDLE DeviceOpen(const char* name, platform::DWORD inSize,
                                              platform::DWORD outSize) = 0;
  /* 14 */ virtual ResultCode DeviceClose() = 0;
  /* 15 */ virtual ResultCode DeviceIdle() = 0;
  // Priority step boost + 3 for the receive and dispatch threads, + 4 for
  // the output thread while Rs485Active (capped at time-critical). Equal to
  // the current boost: nothing.
  /* 16 */ virtual void SetThreadBoost(platform::BYTE boost);
  // Mode 0 recomputes DeliveryWanted; 1 the component listens; 2 it stops.
  /* 17 */ virtual void UpdateHandlerFlags(int mode);

  // The device's modem status word (GetCommModemStatus: bits 0x10 CTS,
  // 0x20 DSR, 0x40 RI, 0x80 DCD); 0 when it cannot be read.
  virtual platform::DWORD DeviceModemStatus() = 0;

  // ---- Registry -----------------------------------------------------------
  // The component that created the dispatcher; not owned.
  comport::TSioCustomComPort* const OwnerPort;
  // Index of this dispatcher in the process-wide registry; travels in the
  // high 16 bits of every trigger message's lParam.
  const std::int32_t DispatcherHandle;
  // The registered dispatcher with that handle, or null. For the window's
  // thread, which is also the thread that creates and destroys them.
  static TSioBaseDispatcher* FindDispatcher(std::int32_t handle);
  // Calls fn(dispatcher) with the registry lock held when a dispatcher with
  // that handle is registered; returns whether it did. fn may use the
  // dispatcher's operations (they take its own locks after the registry's)
  // but must not destroy it.
  template <typename Fn>
  static bool WithDispatcher(std::int32_t handle, Fn&& fn) {
    TSioRegistryLock lock;
    TSioBaseDispatcher* found = lock.Find(handle);
    if (found == nullptr) return false;
    fn(*found);
    return true;
  }

  // ---- Received data ------------------------------------------------------
  // True when an unread character exists that the current receiver of a
  // delivery has not yet taken.
  bool CharAvailable();
  // Unread characters, less those taken during the current delivery.
  std::int32_t UnreadCount();
  // The n-th unread character (n >= 1) without taking it: 0, or -3007 when
  // fewer than n are unread, -1002 when n < 1.
  ResultCode LookAhead(std::int32_t n, platform::BYTE& c);
  // Takes one character: 0, or -3007 when none is left.
  ResultCode ReadChar(platform::BYTE& c);
  // Takes exactly n characters or none: n, -3007 when fewer are untaken,
  // -1002 when n < 0.
  ResultCode ReadBlock(void* buffer, std::int32_t n);
  // Discards every unread character and the device's receive queue; the
  // purge's code (the ring is reset even when the purge fails).
  ResultCode FlushInput();

  // ---- Data to send -------------------------------------------------------
  // Queues exactly n characters or none: 0, -3006 (no room), -3010 (RS-485
  // without base address), -3004 (the device refused the block), -3007
  // (the buffers are released, as the reads answer then).
  ResultCode WriteBlock(const void* buffer, std::int32_t n);
  // Characters waiting in the output ring, and room left in it.
  std::int32_t OutputPending();
  std::int32_t OutputRoom();
  ResultCode FlushOutput();

  // ---- Line and modem status ---------------------------------------------
  // OR the device's error bits into LineErrorBits and refresh CommStatus;
  // returns the status record just read.
  platform::COMSTAT CollectLineErrors();
  // The modem byte (levels | change bits); afterwards ModemBits &= keepMask.
  platform::BYTE ReadModemStatus(platform::BYTE keepMask);
  // Refreshes the levels and sets the change bit of every level that moved.
  void UpdateModemDeltas();
  // 1 overflow, 2 overrun, 3 parity, 4 framing, 9 break, 0 none; a non-zero
  // code clears the overflow, overrun, parity and framing bits.
  std::int32_t TakeLineError();
  // True when a break was recorded; clears it.
  bool TakeLineBreak();
  // The status record last read from the device.
  platform::COMSTAT CommStatusSnapshot();
  // Sets DTR or RTS unless the line is under handshake control (then 1).
  ResultCode SetDtrLine(platform::BYTE level);
  ResultCode SetRtsLine(platform::BYTE level);
  // Rate codes of the legacy rate table (0xFEFF, 0xFF10 + i) as rates in
  // baud; every other value unchanged.
  static platform::DWORD LegacyRate(platform::DWORD rate);
  // The time of 18 characters of the block's framing at rate (after
  // LegacyRate), doubled when under 1 ms, in whole milliseconds rounded up;
  // 0 for rate 0.
  static platform::DWORD DrainDelayMs(platform::DWORD rate, const platform::DCB& state);

  // ---- Open and line settings (SioDispatchLine.cpp) ----------------------
  // Opens the device, sizes its queues, allocates the rings, sets the
  // control lines and the line settings, and starts the worker threads.
  // options: bit 0 DTR level, bit 1 RTS level, bit 4 DTR under handshake
  // control, bit 5 RTS likewise. 0; -8 when an event or the device's own
  // events cannot be made; minus the system error of the open, the queue
  // sizing or the first SetCommState; -2008 when this dispatcher is open
  // already (it stays open). A failed open has closed everything it made
  // (device, rings, the thread events).
  ResultCode OpenLine(const char* name, platform::DWORD baud, std::int32_t parity,
                      std::int32_t dataBits, std::int32_t stopBits, platform::DWORD inSize,
                      platform::DWORD outSize, platform::DWORD options);
  // The device's queue sizes: 0, or minus the system error.
  ResultCode SetQueueSizes(platform::DWORD inSize, platform::DWORD outSize);
  // Line settings; a sentinel keeps the device's value: baud 0, parity 5,
  // dataBits 9, stopBits 3. Parity 0 none, 1 odd, 2 even, 3 mark, 4 space;
  // stopBits 1 or 2 (below 1 counts as 1, above 2 as 2); 5 data bits always
  // take one and a half stop bits. Settings equal to the device's: 0 and
  // nothing written; otherwise the queued output is sent first (at most
  // about 10 s), then the block is written: 0 or minus the system error.
  ResultCode SetLineSettings(platform::DWORD baud, std::int32_t parity, std::int32_t dataBits,
                             std::int32_t stopBits);
  struct TLineSettings {
    platform::DWORD Baud = 0;
    std::int32_t Parity = 0;
    std::int32_t DataBits = 0;
    std::int32_t StopBits = 0;  // 1 or 2
  };
  // The device's settings (legacy rate codes mapped to their rates).
  TLineSettings GetLineSettings();
  // Hardware flow. options: 1 DTR handshake, 2 RTS handshake, 4 require DSR,
  // 8 require CTS; 0 switches hardware flow off. full/resume: the receive
  // fill at which the peer is stopped (counted down from InQueueSize) and
  // resumed. -1002 when full < resume or full > InQueueSize, else 0 or minus
  // the system error (DTR handshake and DSR flow fail on this platform with
  // -50, ERROR_NOT_SUPPORTED).
  ResultCode SetHardwareFlow(platform::DWORD full, platform::DWORD resume, platform::DWORD options);
  // Software flow. options: 1 honour XON/XOFF from the peer, 2 send them.
  // Bits already on stay on. Results as SetHardwareFlow.
  ResultCode SetSoftwareFlow(platform::DWORD full, platform::DWORD resume, platform::DWORD options);
  ResultCode ClearSoftwareFlow();
  ResultCode SetFlowChars(char xon, char xoff);
  struct TFlowSettings {
    platform::DWORD HardwareOptions = 0;  // bits as SetHardwareFlow's
    platform::DWORD SoftwareOptions = 0;  // bits as SetSoftwareFlow's
    char XOn = 0;
    char XOff = 0;
    ResultCode Code = 0;  // DeviceGetState's
  };
  TFlowSettings GetFlowSettings();
  // RS-485 mode: the output thread runs one priority step above the
  // others. This platform has no UART base address, so UartBase stays 0.
  void SetRs485(bool on);

  // ---- Options ------------------------------------------------------------
  void SetOptionBits(platform::DWORD bits);
  void ClearOptionBits(platform::DWORD bits);
  platform::DWORD OptionBitsValue();

  // ---- Dispatch thread ----------------------------------------------------
  // Moves what the device holds into the input ring, at most two device
  // reads; False when the device had nothing waiting.
  bool FillDispatchBuffer();
  // True when the last fill step left characters in the device and the
  // ring has room for some of them now: another pass can fetch them at
  // once rather than at the next event.
  bool InputBacklog();

  // ---- Close --------------------------------------------------------------
  // Flushes and closes an open device, then releases the buffers, or only
  // sets ClosePending while a delivery is in progress.
  void CloseLine();
  // A delivery is in progress (Dispatching): a close asked now must wait
  // until it has returned.
  bool DeliveryInProgress() const { return Dispatching.load(); }
  // The worker threads were started and have not all ended yet.
  bool WorkerThreadsRunning() const { return ThreadsStarted.load(); }

  // ---- Trigger passes (SioDispatchTrigger.cpp) ---------------------------
  // The dispatch thread's passes, run after every communications event or
  // 50 ms wait: EventPass reads the device, checks status and data
  // triggers and the avail trigger, delivers their events and signals
  // DispatchDone (not when ClosePending ended it early); TimerPass then
  // checks status and timer triggers. Both do nothing new while a delivery
  // is in progress, and stop as soon as ClosePending is set.
  void EventPass();
  void TimerPass();

  // ---- Receivers (SioDispatchTrigger.cpp) --------------------------------
  // Window receivers are sent each event (blocking, TriggerSendLimitMs at
  // most); the list is served only while it holds more than one window or
  // the component listens (UpdateHandlerFlags). Adding sets DeliveryWanted.
  void AddWindowReceiver(platform::HWND window);
  // Removes the first receiver for that window: at once, or at the end of
  // the delivery in progress (it is not called again meanwhile). No such
  // window: only recomputes DeliveryWanted.
  void RemoveWindowReceiver(platform::HWND window);
  // Procedure and method receivers are called on the dispatch thread (a
  // synchronized method on the main thread through the dispatch thread's
  // SynchronizedCall, the dispatch thread waiting). Each Add returns 0 and
  // recomputes DeliveryWanted; -1002 for an empty procedure or method.
  ResultCode AddProcedureReceiver(TTriggerProcedure procedure);
  // 0, or -5003 when the procedure is not registered. Deferred as above.
  ResultCode RemoveProcedureReceiver(TTriggerProcedure procedure);
  // Returns a receiver id (> 0) that removes it, or -1002.
  ResultCode AddMethodReceiver(TTriggerMethod method, bool synchronized);
  // 0, or -5003 for an id that is not registered. Deferred as above.
  ResultCode RemoveMethodReceiver(std::int32_t receiverId);

  // ---- Trigger tables (SioDispatchTrigger.cpp) ---------------------------
  // Announce waiting characters once at least `length` are untaken; 0 turns
  // the avail trigger off.
  void SetAvailLength(platform::DWORD length);
  platform::DWORD AvailLengthValue();
  // Adds a data trigger for `pattern` (1..22 characters), matched without
  // regard to letter case when ignoreCase. Returns its handle (> 0), -5002
  // for a longer pattern, -1002 for an empty one, -5001 when the table is
  // full (MaxTriggersPerTable).
  ResultCode AddDataTrigger(std::string_view pattern, bool ignoreCase);
  // Adds a timer trigger armed to fire once `milliseconds` have passed (in
  // 55-ms ticks, rounded up); its handle, or -5001.
  ResultCode AddTimerTrigger(platform::DWORD milliseconds);
  // Re-arms a timer trigger from now: 0, or -5003.
  ResultCode ArmTimerTrigger(std::int32_t handle, platform::DWORD milliseconds);
  // Adds an armed status trigger of kind 1..5 (StatusModem .. StatusOutputSent)
  // with its value; the handle's low 3 bits are the kind. -1002 for another
  // kind, -5001 when the table is full.
  ResultCode AddStatusTrigger(platform::DWORD kind, platform::WORD value);
  // Re-arms a status trigger with a new value: 0, or -5003.
  ResultCode ArmStatusTrigger(std::int32_t handle, platform::WORD value);
  // Deletes a data, timer or status trigger: 0, or -5003.
  ResultCode RemoveTrigger(std::int32_t handle);
  // The kind of a status trigger by its handle: handle AND 7.
  static std::int32_t StatusKindOf(std::int32_t handle) { return handle & 7; }
  // Avail length 0, the three tables empty, NextTriggerHandle 1.
  void ClearTriggerTables();
  // Clears every status trigger's HitThisPass and StatusHit.
  void ResetStatusHits();

  // Copies the avail length and the three tables into `set` (replacing
  // what it held); RestoreTriggers replaces the tables with the lists the
  // set holds (an absent list leaves its table empty); later handles do not
  // collide with restored ones. DiscardSavedTriggers empties the set.
  void SaveTriggers(TSavedTriggers& set);
  void RestoreTriggers(const TSavedTriggers& set);
  static void DiscardSavedTriggers(TSavedTriggers& set);

  // ---- Character trace (SioDispatchTrace.cpp) ----------------------------
  // 0, or -1002 for a capacity above MaxTraceEntries. An existing trace is
  // only emptied (its capacity stays).
  ResultCode StartTrace(platform::DWORD capacity);
  // Writes the trace to a file and frees it: 0, or the code of the failed
  // open, write or close (-101 disk full, -150 read-only file system, -5 a
  // directory or no access, otherwise minus the system error number). No
  // entry: no file, 0.
  ResultCode DumpTrace(const char* fileName, bool append, bool inHex, bool allHex);
  ResultCode ClearTrace();
  void StopTrace();
  void ResumeTrace();
  void PauseTrace();
  void AddTraceEntry(char kind, platform::BYTE c);
  bool TraceActive() const { return TraceOn.load(std::memory_order_relaxed); }
  // Whether the trace holds an entry: a dump would write a file.
  bool TraceHoldsEntries();

  // ---- Dispatch log (SioDispatchLog.cpp) ---------------------------------
  // 0, or -1002 for a size above MaxLogRingSize. An existing log is only
  // emptied.
  ResultCode StartLog(platform::DWORD size);
  // Writes the log to a file and frees it: 0, or the code of the failed
  // open, write or close (as DumpTrace). An empty log: no file, 0. A file that cannot be opened leaves
  // the log allocated and off.
  ResultCode DumpLog(const char* fileName, bool append, bool inHex, bool allHex);
  void ClearLog();
  void StopLog();
  void ResumeLog();
  void PauseLog();
  // Records one entry while logging is on; an entry that cannot fit in the
  // ring as a whole is not stored. Returns whether it was stored.
  bool AddLogEntry(platform::BYTE type, platform::BYTE subtype, std::int32_t value,
                   const void* data, platform::DWORD length);
  bool LogActive() const { return LogOn.load(std::memory_order_relaxed); }
  // Whether the log holds an entry: a dump would write a file.
  bool LogHoldsEntries();

 protected:
  // The open-time state of the buffers: allocates the input ring (zero
  // filled) and an output ring of outQueueSize bytes, resets every index and
  // flag of the rings and the delivery, and clears the line errors.
  void AllocateBuffers(platform::DWORD inQueueSize, platform::DWORD outQueueSize);
  // The open-time state of the recorders: trace and log off and freed, and
  // TimeBase (the log's zero) set to the millisecond clock.
  void ResetRecorders();
  // The destruction steps that reach the device: ReleaseBuffers when
  // ClosePending is set, CloseLine otherwise.
  void CloseForDestruction();

  // Delivery bookkeeping for the trigger passes (InputLock is taken inside).
  // While a delivery of received data is in progress every read is
  // non-destructive: each receiver starts at InTail, and the end of the
  // delivery moves InTail past the most characters any receiver took.
  // A read made outside a receiver's call meanwhile (another thread, or
  // between two receivers) takes the characters after all that any
  // receiver took; the receivers called after it start behind it, so no
  // character is read twice by it or counted twice at the end.
  void BeginDelivery(bool ofReceivedData);
  void BeginReceiverTakes();
  void EndReceiverTakes();
  // Ends the delivery; returns the characters it took from the ring.
  platform::DWORD EndDelivery();

  // Characters from InTail the calling reader has passed, and taking n more
  // after them; InputLock held.
  std::int32_t ReadOffsetLocked() const TESMAR_REQUIRES(InputLock);
  void TakeLocked(std::int32_t n) TESMAR_REQUIRES(InputLock);

  // Clears the partial-match state of every data trigger.
  void ResetDataMatches();

  // Gives each existing worker its priority for ThreadBoost and
  // Rs485Active. DispatchLock held.
  void ApplyThreadPriorities() TESMAR_REQUIRES(DispatchLock);
  // Writes the block with DtrLevel/RtsLevel applied to the lines that are
  // not under handshake control, then drives the lines: DeviceSetState's
  // code. CurrentBaud takes the block's rate also when the write failed.
  // Runs inside the caller's DispatchLock.
  ResultCode ApplyDeviceState(platform::DCB& state);
  // Waits until the output ring is empty (at most 5000 rounds of 2 ms),
  // then for 18 characters' time at CurrentBaud. No lock held.
  void WaitOutputDrained();
  // The six thread events: created unsignalled (CommEvent, DispatchDone,
  // ThreadAck, OutputReady and OutputFlush auto-reset, OutputDone manual);
  // False when one could not be made (those made are closed again).
  bool CreateThreadEvents();
  // Closes every thread event that is open. DispatchLock held or no thread
  // running.
  void CloseThreadEvents();

  // Delivers one event to every receiver (dispatch thread, no dispatcher
  // lock held): True when the pass may go on, False when ClosePending
  // stopped it or the receivers of an avail event took another number of
  // characters than announced. lParam is DispatcherHandle << 16 | low. An
  // exception from a receiver ends the delivery (Dispatching cleared,
  // pending removals done) and propagates.
  bool DeliverEvent(platform::UINT message, platform::WPARAM wParam, platform::WORD low);
  // One trigger check each; True when one fired and its delivery said go on.
  bool CheckStatusTriggers();
  bool CheckDataTriggers();
  bool CheckTimerTriggers();
  // Feeds one received character to a data trigger's candidates; True when
  // it completes the pattern.
  static bool MatchDataChar(TDataTrigger& trigger, platform::BYTE c);
  // Characters from InTail through ring position (p - k) inclusive, less
  // those taken in the current delivery; 0 when that position is not
  // unread.
  std::int32_t CountThrough(std::int32_t p, std::int32_t k);
  // A character as an ignore-case data trigger compares it: upper case in
  // the program's 8-bit code page.
  static platform::BYTE UpperCase(platform::BYTE c);
  // True when the timer has run out at tick `now`, also across a wrap of
  // the millisecond clock (TicksPerClockCycle ticks).
  static bool TimerExpired(const TEventTimer& timer, std::int32_t now);
  static constexpr platform::DWORD MsPerTimerTick = 55;
  static constexpr std::int64_t TicksPerClockCycle = 0xFFFFFFFFLL / MsPerTimerTick + 1;

  // The clock the log stamps entries with; tests substitute their own.
  using ClockFunction = platform::DWORD (*)();
  void SetClock(ClockFunction clock) { Clock = clock; }

  // Unread characters (InputLock held).
  std::int32_t InCount() const TESMAR_REQUIRES(InputLock);

  // ---- Fields, in their declared order -----------------------------------
  // Written by the window's thread (open, close); read by the workers.
  std::atomic<platform::HANDLE> DeviceHandle{-1};
  std::atomic<platform::DWORD> LineErrorBits{0};
  // The queue sizes are set at open, before the threads start, and stay.
  platform::DWORD InQueueSize = 0;
  platform::DWORD OutQueueSize = 0;
  platform::DWORD ModemBits TESMAR_GUARDED_BY(DispatchLock) = 0;
  platform::COMSTAT CommStatus TESMAR_GUARDED_BY(StatusLock);
  platform::DCB DeviceState;
  // The rate the drain timing uses: the last rate the device accepted, 0
  // from the open until its first settings (no drain time).
  platform::DWORD CurrentBaud = 0;
  platform::DWORD OptionBits TESMAR_GUARDED_BY(DispatchLock) = 0;
  bool DtrLevel = false;
  bool DtrAutomatic = false;
  bool RtsLevel = false;
  bool RtsAutomatic = false;
  bool Rs485Active = false;
  platform::WORD UartBase = 0;
  std::atomic<bool> ComponentListening{false};
  std::atomic<bool> DeliveryWanted{false};
  std::vector<TWindowReceiver> WindowReceivers TESMAR_GUARDED_BY(DispatchLock);
  std::vector<TProcedureReceiver> ProcedureReceivers TESMAR_GUARDED_BY(DispatchLock);
  std::vector<TMethodReceiver> MethodReceivers TESMAR_GUARDED_BY(DispatchLock);
  std::vector<TTimerTrigger> TimerTriggerList TESMAR_GUARDED_BY(DispatchLock);
  std::vector<TDataTrigger> DataTriggerList TESMAR_GUARDED_BY(DispatchLock);
  std::vector<TStatusTrigger> StatusTriggerList TESMAR_GUARDED_BY(DispatchLock);
  std::int32_t DataScanPos TESMAR_GUARDED_BY(DispatchLock) = 0;
  platform::DWORD AvailLength TESMAR_GUARDED_BY(DispatchLock) = 0;
  bool StatusHit TESMAR_GUARDED_BY(DispatchLock) = false;
  bool InAvailDelivery TESMAR_GUARDED_BY(InputLock) = false;
  std::int32_t TakenCount TESMAR_GUARDED_BY(InputLock) = 0;
  // Characters a FlushInput discarded during the current delivery: every
  // receiver's takes start past them, so what was flushed is not read.
  std::int32_t FlushedCount TESMAR_GUARDED_BY(InputLock) = 0;
  platform::DWORD MaxTakenCount TESMAR_GUARDED_BY(InputLock) = 0;
  // A receiver's call is in progress (BeginReceiverTakes..EndReceiverTakes);
  // its takes count from ReceiverBase, where the reads outside receivers
  // (OutsideTaken characters from InTail) had got when it began.
  bool InReceiverCall TESMAR_GUARDED_BY(InputLock) = false;
  std::int32_t ReceiverBase TESMAR_GUARDED_BY(InputLock) = 0;
  std::int32_t OutsideTaken TESMAR_GUARDED_BY(InputLock) = 0;
  bool InputFull TESMAR_GUARDED_BY(InputLock) = false;
  // A fill step made the ring full since the last data scan: a scan
  // position equal to InHead then stands for the whole ring, not for none.
  bool FilledToFull TESMAR_GUARDED_BY(InputLock) = false;
  // Characters came in since the last avail announcement: an unread count
  // ending at the announced position is new then if the ring went round.
  bool FilledSinceAvail TESMAR_GUARDED_BY(InputLock) = false;
  // The device held more than the last fill step took.
  bool DeviceBacklog TESMAR_GUARDED_BY(InputLock) = false;
  std::int32_t AvailNotifyPos TESMAR_GUARDED_BY(DispatchLock) = 0;
  std::atomic<bool> StopRequested{false};
  TSioDispatcherThread* ComThread TESMAR_GUARDED_BY(DispatchLock) = nullptr;
  TSioDispatcherThread* DispThread TESMAR_GUARDED_BY(DispatchLock) = nullptr;
  TSioDispatcherThread* OutThread TESMAR_GUARDED_BY(DispatchLock) = nullptr;
  platform::BYTE ThreadBoost TESMAR_GUARDED_BY(DispatchLock) = 0;
  platform::CriticalSection DispatchLock TESMAR_ACQUIRED_AFTER(InputLock)
      TESMAR_ACQUIRED_BEFORE(OutputLock);
  platform::CriticalSection OutputLock;
  platform::CriticalSection InputLock;
  // The thread events; -1 when closed. The workers take copies when they
  // are made; the fields change only while no worker runs, but are read by
  // the window's thread while the dispatch thread may close them.
  std::atomic<platform::HANDLE> CommEvent{platform::INVALID_HANDLE_VALUE};
  std::atomic<platform::HANDLE> DispatchDone{platform::INVALID_HANDLE_VALUE};
  std::atomic<platform::HANDLE> ThreadAck{platform::INVALID_HANDLE_VALUE};
  std::atomic<platform::HANDLE> OutputReady{platform::INVALID_HANDLE_VALUE};
  std::atomic<platform::HANDLE> OutputDone{platform::INVALID_HANDLE_VALUE};
  std::atomic<platform::HANDLE> OutputFlush{platform::INVALID_HANDLE_VALUE};
  std::atomic<platform::DWORD> EventWord{0};
  std::atomic<bool> RingSeen{false};
  std::unique_ptr<platform::BYTE[]> OutRing TESMAR_GUARDED_BY(OutputLock);
  std::int32_t OutHead TESMAR_GUARDED_BY(OutputLock) = 0;
  std::int32_t OutTail TESMAR_GUARDED_BY(OutputLock) = 0;
  bool OutFull TESMAR_GUARDED_BY(OutputLock) = false;
  std::unique_ptr<platform::BYTE[]> InRing TESMAR_GUARDED_BY(InputLock);
  std::int32_t InHead TESMAR_GUARDED_BY(InputLock) = 0;
  std::int32_t InTail TESMAR_GUARDED_BY(InputLock) = 0;
  std::atomic<bool> Dispatching{false};
  std::atomic<bool> HandlerRemovalPending{false};
  std::atomic<bool> ClosePending{false};
  std::atomic<bool> OutputSent{false};
  // Trace state.
  std::atomic<bool> TraceOn{false};
  std::unique_ptr<platform::BYTE[]> TraceBuffer TESMAR_GUARDED_BY(DispatchLock);
  std::int32_t TraceHead TESMAR_GUARDED_BY(DispatchLock) = 0;
  platform::DWORD TraceCapacity TESMAR_GUARDED_BY(DispatchLock) = 0;
  bool TraceWrapped TESMAR_GUARDED_BY(DispatchLock) = false;
  // Log state.
  std::atomic<bool> LogOn{false};
  std::unique_ptr<platform::BYTE[]> LogRing TESMAR_GUARDED_BY(DispatchLock);
  platform::DWORD LogHead TESMAR_GUARDED_BY(DispatchLock) = 0;
  platform::DWORD LogTail TESMAR_GUARDED_BY(DispatchLock) = 0;
  platform::DWORD LogFree TESMAR_GUARDED_BY(DispatchLock) = 0;
  platform::DWORD LogRingSize TESMAR_GUARDED_BY(DispatchLock) = 0;
  std::vector<platform::BYTE> LogScratch TESMAR_GUARDED_BY(DispatchLock);
  platform::DWORD TimeBase TESMAR_GUARDED_BY(DispatchLock) = 0;
  std::int32_t NextTriggerHandle TESMAR_GUARDED_BY(DispatchLock) = 1;
  std::int32_t NextReceiverId TESMAR_GUARDED_BY(DispatchLock) = 1;
  std::atomic<bool> ThreadsStarted{false};
  std::atomic<bool> ReleaseOnExit{false};
  std::atomic<platform::LONG> ActiveThreads{0};

 private:
  void TraceBlock(char kind, const platform::BYTE* data, std::int32_t n);
  void LogDeviceRead(const platform::BYTE* data, std::int32_t count);
  std::int32_t ReadFromDevice(std::int32_t at, std::int32_t count) TESMAR_REQUIRES(InputLock);
  void DiscardOldestLogEntry() TESMAR_REQUIRES(DispatchLock);
  void LogCopyIn(const void* bytes, platform::DWORD n) TESMAR_REQUIRES(DispatchLock);
  void LogCopyOut(void* bytes, platform::DWORD n) TESMAR_REQUIRES(DispatchLock);
  bool ReadLogEntry(TLogEntryHeader& header, std::vector<platform::BYTE>& data)
      TESMAR_REQUIRES(DispatchLock);
  void StoreCommStatus(const platform::COMSTAT& status);

  // Trigger internals (SioDispatchTrigger.cpp, SioDispatchTables.cpp).
  enum TReceiverList { rlMethods, rlProcedures, rlWindows };
  // Calls the receiver at `index` of `list` unless it is marked removed;
  // False when the list is shorter. served: no close was asked for.
  bool CallReceiver(TReceiverList list, std::size_t index, platform::UINT message,
                    platform::WPARAM wParam, platform::LPARAM lParam, bool& served);
  void FinishDelivery();
  bool DeliverDataMatches(bool result);
  bool StatusLoop();
  void ResetStatusHitsIfHit();
  void ResetStatusHitsLocked() TESMAR_REQUIRES(DispatchLock);
  void UpdateDeliveryWantedLocked(int mode) TESMAR_REQUIRES(DispatchLock);
  std::int32_t CountThroughLocked(std::int32_t p, std::int32_t k) TESMAR_REQUIRES(InputLock);
  std::int32_t NewTriggerHandle(platform::DWORD kind) TESMAR_REQUIRES(DispatchLock);
  // Starts a timer of `milliseconds` (whole ticks, rounded up) from now.
  void StartTimer(TEventTimer& timer, platform::DWORD milliseconds);
  // Marks a receiver removed during a delivery, or removes it at once.
  template <typename List, typename Match>
  bool RemoveReceiverLocked(List& list, Match match) TESMAR_REQUIRES(DispatchLock);

  platform::CriticalSection StatusLock;  // guards CommStatus only
  ClockFunction Clock;
};

}  // namespace dispatcher
