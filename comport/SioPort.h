// The serial port component: the object through which the front panel owns
// one serial port.
//
// TSioCustomComPort holds the port's settings as properties (read from the
// main window's stored layout), turns Open into the creation and opening of
// a communications dispatcher (dispatcher/SioDispatch.h) on the device layer
// (device/SioWin32.h), pushes every later settings change to the open
// dispatcher, offers the character and block I/O the window uses, and turns
// the dispatcher's trigger messages into events on the window's thread.
// TSioComPort only publishes the properties.
//
// Errors: every dispatcher code the component checks goes through
// errors::CheckResult, which raises the class of a negative code (and lets
// every code through while the component is being loaded). Opening maps the
// system's own open failures first, each message naming the port and its
// device: ERROR_SHARING_VIOLATION (another program holds the device) raises
// EAlreadyOpen saying so; ERROR_ACCESS_DENIED (this user may not open it)
// raises EAlreadyOpen as well, with a text of its own on the rights needed
// (the dialout group on Linux); ERROR_FILE_NOT_FOUND and
// ERROR_PATH_NOT_FOUND raise EBadId with a second line naming the link or
// device COMn was looked for at. A device that vanishes while open fails
// the next read or write through the check (EInOutError for the system's
// code, or the I/O class of the dispatcher's code).
//
// Settings written while the port is closed are only stored and all applied
// at the next open. A line setting written while open goes to the device at
// once; a refusal raises and the property keeps the new value. A refused DTR
// or RTS raises and the property keeps the old value. InSize and OutSize
// size the device's queues and the rings at the open: written while open
// they raise EAlreadyOpen and keep their value. Flow options the
// system cannot give (on Linux: DTR handshake and DSR flow) are refused by
// the device with ERROR_NOT_SUPPORTED and raise EFlowNotSupported, whose
// message says which option this system lacks; the option keeps its old
// value.
//
// Open and close:
//   - Open := True while the component is being loaded from a layout only
//     records the wish; Loaded opens the port once the whole layout has been
//     read. If that open fails, Open reads False and the exception goes to
//     the application's exception handling (a message box, unless the
//     application installed its own handler); loading goes on.
//   - Open := True on a closed port opens it: ComNumber 0 asks the port
//     selector (SioPortSelect.h; the dialog of view/SioSelCom.h installs
//     itself there) or, without PromptForPort, without a selector or without
//     an answer, raises ENoPortSelected; a missing device EBadId; a
//     held one EAlreadyOpen; other failures the class of their code. After a
//     failure Open reads False and no dispatcher exists.
//   - Open := False closes the port: an active trace or log is written to
//     TraceName / LogName first; the first close that writes a file
//     replaces it, later closes append to the same name (every session of
//     a port closed and opened again stays in one file, oldest first).
//     Asked while the dispatcher is delivering a trigger (from inside an
//     event handler), the close is completed later through the hidden
//     window (MsgFinishClose, 32266, re-posted while the worker threads
//     run): until then OpenState is osClosing and every I/O, flush, trace
//     and log call does nothing and returns its neutral result.
//     Open written meanwhile records the wish, and the last one wins: True
//     reopens the port when the close has completed, False takes that back.
//     A completed close and every open clear ReopenPending.
//   - With AutoOpen (the default) an I/O call on a closed port first opens
//     it; when that is impossible (or AutoOpen is off) the call raises
//     ECommNotOpen, or the open's own exception. When the open fails with
//     the same code as the open before it, the exception is silent
//     (framework::Exception::Silent): the user was told already, so a
//     failed open at start-up is shown once, not again by every handler
//     that touches the closed port.
//   - Destroying the component closes the port. Destroyed while a deferred
//     close is pending, it completes the close at once; destroyed from
//     inside one of its own event handlers, it raises no further event and
//     hands the dispatcher and its window over to be freed once the worker
//     threads have ended. Either way no message, thread or dispatcher is
//     left that can reach the destroyed component.
//
// Re-entrancy: these calls may run other handlers of the window's thread
// before they return, because they handle window messages while they wait:
//   - a close (Open := False, ComNumber while open, destruction) that must
//     be deferred handles one pending message (PumpOneMessage);
//   - a close that is not deferred stops the worker threads and handles
//     window messages until they have ended (the dispatch thread may be
//     waiting for a trigger message to be taken);
//   - OpenPort with ComNumber 0 asks the port selector (a modal dialog).
// A handler run that way may itself use the component; it finds OpenState
// osClosing during a close. While OpenState is osClosing the component
// raises no trigger event except OnTrigger for MsgFinishClose itself, so no
// handler of its own can destroy it in the middle of a close.
//
// Notifications: while the port is open the component owns a hidden window
// of class "sioComWindow" registered with the dispatcher. For every trigger
// message the window procedure raises OnTrigger, then the specific event
// (for a status trigger OnTriggerStatus, then the event of its kind), each
// only when assigned, on the window's thread, holding the dispatcher
// registry's lock. An exception from a handler goes to the application's
// exception handling and the remaining events of that message are not
// raised. Messages that name no registered dispatcher raise nothing.
// Trigger messages that arrive while the owning form is still being
// constructed raise nothing then: they are held, the latest of each
// trigger, and posted again once the form is whole (Constructed).
//
// Thread safety: every member, setter and event belongs to the thread that
// owns the component (the window's thread). The dispatcher's worker threads
// never call into the component; they reach it only through messages to
// the hidden window.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comport/SioMisc.h"
#include "dispatcher/SioDispatch.h"
#include "errors/SioExcept.h"
#include "framework/Properties.h"
#include "platform/messages.h"

namespace comport {

enum class TDeviceLayer { dlWin16, dlFossil, dlWin32, dlWinsock };
enum class TParity { pNone, pOdd, pEven, pMark, pSpace };
enum class THWFlowOptions { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
using THWFlowOptionSet = framework::TSet<THWFlowOptions>;
enum class TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
// As a stored state only tlOff, tlOn and tlPause occur; tlDump, tlAppend
// and tlClear are commands (see SetTracing).
enum class TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum class TTapiMode { tmNone, tmAuto, tmOn, tmOff };
enum TOpenState : std::uint8_t { osClosed = 0, osClosing = 1, osOpen = 2 };

// Caps of TraceSize (entries) and LogSize (bytes).
inline constexpr std::uint32_t kMaxTraceSize = 4000000;
inline constexpr std::uint32_t kMaxLogSize = 16000000;

using TTriggerEvent =
    std::function<void(framework::TObject* CP, Word Msg, Word TriggerHandle, Word Data)>;
using TTriggerAvailEvent = std::function<void(framework::TObject* CP, Word Count)>;
using TTriggerDataEvent = std::function<void(framework::TObject* CP, Word TriggerHandle)>;
using TTriggerStatusEvent = std::function<void(framework::TObject* CP, Word TriggerHandle)>;
using TTriggerTimerEvent = std::function<void(framework::TObject* CP, Word TriggerHandle)>;
using TTriggerLineErrorEvent =
    std::function<void(framework::TObject* CP, Word Error, bool LineBreak)>;
using TWaitCharEvent = std::function<void(framework::TObject* CP, char C)>;
using framework::TNotifyEvent;

// The window class of the component's hidden window.
inline constexpr const char* kComWindowClass = "sioComWindow";
// The component's own message: complete a deferred close (wParam 0, lParam
// the dispatcher's handle in its high word).
inline constexpr platform::UINT MsgFinishClose = 32266;

// A flow option that the system cannot give; ResultCode is minus
// ERROR_NOT_SUPPORTED and the message names the options this system lacks.
class EFlowNotSupported : public errors::ESIOException {
 public:
  using errors::ESIOException::ESIOException;
};

class TSioCustomComPort : public TSioBaseComponent {
 public:
  TSioCustomComPort();
  ~TSioCustomComPort() override;

  static const framework::TClassInfo& StaticClassInfo();
  const framework::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // ---- Port and line --------------------------------------------------
  // Only dlWin32 is supported; other values, and writes while the port is
  // not closed, are ignored.
  TDeviceLayer DeviceLayer() const { return deviceLayer_; }
  void SetDeviceLayer(TDeviceLayer value);
  // Written while open: the trace and log are written, the port closes and
  // opens on the new number with the same trace/log state and triggers.
  Word ComNumber() const { return comNumber_; }
  void SetComNumber(Word value);
  std::int32_t Baud() const { return baud_; }
  void SetBaud(std::int32_t value);
  bool PromptForPort() const { return promptForPort_; }
  void SetPromptForPort(bool value) { promptForPort_ = value; }
  TParity Parity() const { return parity_; }
  void SetParity(TParity value);
  Word DataBits() const { return dataBits_; }
  void SetDataBits(Word value);
  Word StopBits() const { return stopBits_; }
  void SetStopBits(Word value);
  Word InSize() const { return inSize_; }
  void SetInSize(Word value);
  Word OutSize() const { return outSize_; }
  void SetOutSize(Word value);
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool value) { autoOpen_ = value; }
  bool Open() const { return open_; }
  void SetOpen(bool value);
  bool DTR() const { return dtr_; }
  void SetDTR(bool value);
  bool RTS() const { return rts_; }
  void SetRTS(bool value);

  // ---- Flow control ----------------------------------------------------
  // With any hardware option, BufferFull of 0 or above InSize becomes
  // InSize * 0.9 and BufferResume of 0 or above BufferFull InSize * 0.1;
  // software options use 0.75 and 0.25. Options using RTS clear RS485Mode.
  THWFlowOptionSet HWFlowOptions() const { return hwFlowOptions_; }
  void SetHWFlowOptions(THWFlowOptionSet value);
  TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }
  void SetSWFlowOptions(TSWFlowOptions value);
  char XOnChar() const { return xOnChar_; }
  void SetXOnChar(char value);
  char XOffChar() const { return xOffChar_; }
  void SetXOffChar(char value);
  // A value above InSize is stored as value * 0.9. Then both option sets
  // are applied again, which re-derives thresholds out of range.
  Word BufferFull() const { return bufferFull_; }
  void SetBufferFull(Word value);
  // Above BufferFull: BufferFull * 0.1. Then as BufferFull.
  Word BufferResume() const { return bufferResume_; }
  void SetBufferResume(Word value);

  // ---- Trace and dispatch log -----------------------------------------
  // Writes act on an open port by this table (C the current state; other
  // combinations do nothing):
  //   tlOff    C on or paused   discard the trace         -> tlOff
  //   tlOn     C not paused     begin with TraceSize      -> tlOn
  //   tlOn     C paused         resume                    -> tlOn
  //   tlDump   C on or paused   write TraceName           -> tlOff
  //   tlAppend C on or paused   append to TraceName       -> tlOff
  //   tlClear  C on or paused   empty the trace           -> C
  //   tlPause  C on             pause                     -> tlPause
  // On a port that is not open tlOff and tlOn are stored, anything else
  // stores tlOff. Logging is the same with the log and LogName.
  TTraceLogState Tracing() const { return tracing_; }
  void SetTracing(TTraceLogState value);
  // Capped at kMaxTraceSize. Changed while a trace runs, the trace restarts
  // empty with the new size; a paused trace ends.
  std::uint32_t TraceSize() const { return traceSize_; }
  void SetTraceSize(std::uint32_t value);
  // Files of trace and log dumps (at most 255 characters are kept).
  const std::string& TraceName() const { return traceName_; }
  void SetTraceName(const std::string& value);
  bool TraceHex() const { return traceHex_; }
  void SetTraceHex(bool value) { traceHex_ = value; }
  bool TraceAllHex() const { return traceAllHex_; }
  void SetTraceAllHex(bool value) { traceAllHex_ = value; }
  TTraceLogState Logging() const { return logging_; }
  void SetLogging(TTraceLogState value);
  // Capped at kMaxLogSize; otherwise as TraceSize.
  std::uint32_t LogSize() const { return logSize_; }
  void SetLogSize(std::uint32_t value);
  const std::string& LogName() const { return logName_; }
  void SetLogName(const std::string& value);
  bool LogHex() const { return logHex_; }
  void SetLogHex(bool value) { logHex_ = value; }
  bool LogAllHex() const { return logAllHex_; }
  void SetLogAllHex(bool value) { logAllHex_ = value; }

  // Trace and log operations. Each does nothing while osClosing; each opens
  // a closed port when AutoOpen allows (else does nothing). Only those that
  // write a file, TraceBegin and TraceReset check the dispatcher's code;
  // the state is set after the dispatcher call, so a raise leaves it.
  // TraceBegin with a Size above kMaxTraceSize raises EBadArgument and
  // changes nothing; Size 0 begins with TraceSize.
  void TraceBegin(std::uint32_t Size);
  void TraceSaveToFile(const std::string& FileName, bool InHex);
  void TraceAppendToFile(const std::string& FileName, bool InHex);
  void TraceReset();
  void TraceDiscard();
  void TraceResume();
  void TracePause();
  void LogBegin(std::uint32_t Size);
  void LogSaveToFile(const std::string& FileName, bool InHex);
  void LogAppendToFile(const std::string& FileName, bool InHex);
  void LogReset();
  void LogDiscard();
  void LogResume();
  void LogPause();

  // ---- Other settings -----------------------------------------------
  // Always reads True; writes change nothing.
  bool UseMSRShadow() const { return true; }
  virtual void SetUseMSRShadow(bool Value);
  bool UseEventWord() const { return useEventWord_; }
  void SetUseEventWord(bool value);
  Word CommNotificationLevel() const { return commNotificationLevel_; }
  void SetCommNotificationLevel(Word value) { commNotificationLevel_ = value; }
  // tmOn asks for a device supplied by telephony, which nothing in this
  // system supplies: an open with tmOn raises ENotOpenedByTapi.
  TTapiMode TapiMode() const { return tapiMode_; }
  void SetTapiMode(TTapiMode value) { tapiMode_ = value; }
  // True takes hwfUseRTS and hwfRequireCTS out of HWFlowOptions and drops
  // RTS.
  bool RS485Mode() const { return rs485Mode_; }
  void SetRS485Mode(bool value);
  // Received characters needed for an avail trigger; 0 never.
  Word AvailThreshold() const { return availThreshold_; }
  void SetAvailThreshold(Word value);
  std::uint8_t WorkerPriorityBoost() const { return workerPriorityBoost_; }
  void SetWorkerPriorityBoost(std::uint8_t value);

  // ---- Events -----------------------------------------------------------
  const TTriggerEvent& OnTrigger() const { return onTrigger_; }
  void SetOnTrigger(TTriggerEvent value);
  const TTriggerAvailEvent& OnTriggerAvail() const { return onTriggerAvail_; }
  void SetOnTriggerAvail(TTriggerAvailEvent value);
  const TTriggerDataEvent& OnTriggerData() const { return onTriggerData_; }
  void SetOnTriggerData(TTriggerDataEvent value);
  const TTriggerStatusEvent& OnTriggerStatus() const { return onTriggerStatus_; }
  void SetOnTriggerStatus(TTriggerStatusEvent value);
  const TTriggerTimerEvent& OnTriggerTimer() const { return onTriggerTimer_; }
  void SetOnTriggerTimer(TTriggerTimerEvent value);
  const TTriggerLineErrorEvent& OnTriggerLineError() const { return onTriggerLineError_; }
  void SetOnTriggerLineError(TTriggerLineErrorEvent value);
  const TNotifyEvent& OnTriggerModemStatus() const { return onTriggerModemStatus_; }
  void SetOnTriggerModemStatus(TNotifyEvent value);
  const TNotifyEvent& OnTriggerOutbuffFree() const { return onTriggerOutbuffFree_; }
  void SetOnTriggerOutbuffFree(TNotifyEvent value);
  const TNotifyEvent& OnTriggerOutbuffUsed() const { return onTriggerOutbuffUsed_; }
  void SetOnTriggerOutbuffUsed(TNotifyEvent value);
  const TNotifyEvent& OnTriggerOutSent() const { return onTriggerOutSent_; }
  void SetOnTriggerOutSent(TNotifyEvent value);
  const TWaitCharEvent& OnWaitChar() const { return onWaitChar_; }
  void SetOnWaitChar(TWaitCharEvent value) { onWaitChar_ = std::move(value); }

  // ---- State -----------------------------------------------------------
  TOpenState OpenState() const { return openState_; }
  bool ReapplyAll() const { return reapplyAll_; }
  bool ReopenPending() const { return reopenPending_; }
  // The hidden window while the port is open, else 0.
  platform::HWND NotifyWindow() const { return notifyWindow_; }
  // The open dispatcher (null when the port is closed).
  dispatcher::TSioBaseDispatcher* Dispatcher() const { return dispatcher_.get(); }

  // ---- I/O (see the header comment for closed ports) ------------------
  // Queues Len bytes for sending and returns at once; always 0. Raises
  // EOutputBufferTooSmall when they do not fit the free room of the
  // OutSize-byte output ring; raises the class of the system's error (a
  // vanished device: EInOutError) when the device no longer answers.
  std::int32_t WriteBlock(const void* Block, Word Len);
  // True when at least one received character waits; checks no code.
  // Finding none while the dispatcher waits for the hidden window to take a
  // trigger message, it takes the sent messages of this thread (a window of
  // another component, or another sent message, may run its procedure
  // here); the trigger events of this component are then raised later,
  // from the message loop, never inside the caller's handler.
  bool CharAvailable();
  // The oldest waiting character; EBufferIsEmpty when none waits.
  char ReadChar();
  // Exactly Len characters, or EBufferIsEmpty (and none taken).
  void ReadBlock(void* Block, Word Len);
  void FlushInput();
  void FlushOutput();
  // The line error recorded since the last call (1 overflow, 2 overrun,
  // 3 parity, 4 framing, 9 break, 0 none) and clears it; 0 unless open.
  Word TakeLineError();
  // Whether a break was recorded since the last call; clears it.
  bool TakeLineBreak();

  void Loaded() override;
  // Copies the settings of another port component (nothing for any other
  // source) as plain values, without reaching a dispatcher; the copy is
  // closed. The open source's triggers are installed when the copy opens.
  void Assign(const framework::TPersistent& Source) override;
  void Constructed() override;

 protected:
  virtual void CreateDispatcher();
  virtual void DeviceLayerChanged() {}
  virtual std::int32_t OpenDevice();
  virtual void SetupNotifyWindow(bool Create);
  virtual void ValidatePort();
  virtual void FireTrigger(Word Msg, Word TriggerHandle, Word Data);
  virtual void FireTriggerAvail(Word Count);
  virtual void FireTriggerData(Word TriggerHandle);
  virtual void FireTriggerStatus(Word TriggerHandle);
  virtual void FireTriggerTimer(Word TriggerHandle);
  virtual void UpdateHandlerState();
  virtual void FireTriggerLineError(Word Error, bool LineBreak);
  virtual void FireTriggerModemStatus();
  virtual void FireTriggerOutbuffFree();
  virtual void FireTriggerOutbuffUsed();
  virtual void FireTriggerOutSent();
  virtual void FireWaitChar(char C);
  virtual void ClosePort();
  virtual void ProcessIdle();
  virtual void OpenPort();

  // The dispatcher, opening the port first when AutoOpen allows; null when
  // there is none.
  dispatcher::TSioBaseDispatcher* GetDispatcher();
  // GetDispatcher, or ECommNotOpen (null only while loading).
  dispatcher::TSioBaseDispatcher* RequireDispatcher();

 private:
  struct TDeliveryFrame;
  class TDetachedClose;
  friend class TDetachedClose;

  static platform::LRESULT WindowProc(platform::HWND window, platform::UINT msg,
                                      platform::WPARAM wParam, platform::LPARAM lParam);
  void HandleTriggerMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam,
                            TDeliveryFrame& frame);
  void RaiseStatusEvents(Word TriggerHandle, TDeliveryFrame& frame);
  void OpenAutomatically();
  void HandleFinishClose(platform::LPARAM lParam);
  void CompleteClose();
  // ClosePort for SetOpen: false when a handler that the close ran
  // (the deferred close's own MsgFinishClose) destroyed the component.
  bool CloseSurvived();
  void ReapplySettings();
  void ApplyLineSettings();
  void RefuseWhileOpen();
  void DriveLine(bool value, bool& stored,
                 errors::ResultCode (dispatcher::TSioBaseDispatcher::*drive)(platform::BYTE));
  struct TRecorderOps;
  static const TRecorderOps kTraceOps;
  static const TRecorderOps kLogOps;
  void ChangeRecorderState(const TRecorderOps& ops, TTraceLogState value);
  void ChangeRecorderSize(const TRecorderOps& ops, std::uint32_t value, std::uint32_t cap);
  dispatcher::TSioBaseDispatcher* RecorderDispatcher();
  void DeriveThresholds(int fullPercent, int resumePercent);
  void CheckFlowResult(std::int32_t code, const char* unsupported);
  void ReapplyFlow();
  bool AnyTriggerEvent() const;
  void ClearEvents();
  void ReleaseWaitingDelivery();
  std::exception_ptr DumpRecorders();
  void DumpAtClose(const TRecorderOps& ops);
  void DestroyWhileDelivering();
  void HandOver();

  TDeviceLayer deviceLayer_ = TDeviceLayer::dlWin32;
  Word comNumber_ = 0;
  std::int32_t baud_ = 19200;
  bool promptForPort_ = true;
  TParity parity_ = TParity::pNone;
  Word dataBits_ = 8;
  Word stopBits_ = 1;
  Word inSize_ = 4096;
  Word outSize_ = 4096;
  bool autoOpen_ = true;
  bool open_ = false;
  bool dtr_ = true;
  bool rts_ = true;
  THWFlowOptionSet hwFlowOptions_;
  TSWFlowOptions swFlowOptions_ = TSWFlowOptions::swfNone;
  char xOnChar_ = 17;
  char xOffChar_ = 19;
  Word bufferFull_ = 0;
  Word bufferResume_ = 0;
  TTraceLogState tracing_ = TTraceLogState::tlOff;
  std::uint32_t traceSize_ = 10000;
  std::string traceName_ = "SIO.TRC";
  bool traceHex_ = true;
  bool traceAllHex_ = false;
  TTraceLogState logging_ = TTraceLogState::tlOff;
  std::uint32_t logSize_ = 10000;
  std::string logName_ = "SIO.LOG";
  bool logHex_ = true;
  bool logAllHex_ = false;
  // The files the last closes wrote the trace and the log to.
  std::string traceClosedTo_;
  std::string logClosedTo_;
  bool useEventWord_ = true;
  Word commNotificationLevel_ = 10;
  TTapiMode tapiMode_ = TTapiMode::tmAuto;
  bool rs485Mode_ = false;

  TTriggerEvent onTrigger_;
  TTriggerAvailEvent onTriggerAvail_;
  TTriggerDataEvent onTriggerData_;
  TTriggerStatusEvent onTriggerStatus_;
  TTriggerTimerEvent onTriggerTimer_;
  TTriggerLineErrorEvent onTriggerLineError_;
  TNotifyEvent onTriggerModemStatus_;
  TNotifyEvent onTriggerOutbuffFree_;
  TNotifyEvent onTriggerOutbuffUsed_;
  TNotifyEvent onTriggerOutSent_;
  TWaitCharEvent onWaitChar_;

  TOpenState openState_ = osClosed;
  bool reapplyAll_ = false;
  bool reopenPending_ = false;
  bool openAfterLoad_ = false;
  bool triggersSaved_ = false;
  dispatcher::TSavedTriggers savedTriggers_;
  Word availThreshold_ = 1;
  std::uint8_t workerPriorityBoost_ = 0;
  std::unique_ptr<dispatcher::TSioBaseDispatcher> dispatcher_;
  std::int32_t lastOpenFailure_ = 0;  // the code the last open failed with; 0 after a success
  struct THeldTrigger {
    platform::UINT msg;
    platform::WPARAM wParam;
    platform::LPARAM lParam;
  };
  std::vector<THeldTrigger> heldTriggers_;  // arrived while the form was under construction
  // Holds a trigger message that arrived under construction, replacing the
  // one held for the same trigger.
  void HoldTrigger(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam);
  platform::HWND notifyWindow_ = 0;
  // The innermost window-procedure call raising events of this component,
  // or null; tells those calls when the component is destroyed under them.
  TDeliveryFrame* delivery_ = nullptr;
  // CharAvailable is taking sent trigger messages so that the dispatch
  // thread can go on; their events wait for the message loop.
  int polling_ = 0;
};

// Publishes the settings of TSioCustomComPort; adds nothing else.
class TSioComPort : public TSioCustomComPort {
 public:
  static const framework::TClassInfo& StaticClassInfo();
  const framework::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// Registers the components of this library with the layout reader.
// Harmless to call more than once.
void RegisterComponents();

}  // namespace comport
