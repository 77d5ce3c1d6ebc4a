#include "comport/SioPort.h"

#include <utility>

#include "comport/SioPortSelect.h"
#include "device/SioWin32.h"
#include "errors/SioExcept.h"
#include "framework/ExceptionSink.h"
#include "framework/SysUtils.h"
#include "platform/com_names.h"
#include "platform/last_error.h"

namespace comport {

namespace {

using dispatcher::TSioBaseDispatcher;

// The system's own open failures, as OpenLine passes them on (negated).
constexpr std::int32_t kOpenFileNotFound = -static_cast<std::int32_t>(platform::ERROR_FILE_NOT_FOUND);
constexpr std::int32_t kOpenPathNotFound = -static_cast<std::int32_t>(platform::ERROR_PATH_NOT_FOUND);
constexpr std::int32_t kOpenAccessDenied = -static_cast<std::int32_t>(platform::ERROR_ACCESS_DENIED);
constexpr std::int32_t kOpenSharingViolation = -static_cast<std::int32_t>(platform::ERROR_SHARING_VIOLATION);

// Bits of OpenLine's option byte.
constexpr std::uint8_t kOpenDtr = 0x01;
constexpr std::uint8_t kOpenRts = 0x02;
constexpr std::uint8_t kOpenDtrHandshake = 0x10;
constexpr std::uint8_t kOpenRtsHandshake = 0x20;

// A message number nothing posts: a peek for it only handles sent messages.
constexpr platform::UINT kNoPostedMessage = MsgFinishClose + 1;

// The longest device name OpenLine is given.
constexpr std::size_t kDeviceNameLimit = 12;

std::string ShortString(const std::string& value) { return value.substr(0, 255); }

// The open failures the user sees, each naming the port and its device. A
// port held elsewhere and one this user may not open are both EAlreadyOpen
// (the system of the original design cannot tell them apart), but each is
// told as what it is.
[[noreturn]] void RaiseHeld(int comNumber) {
  std::string text = errors::ErrorText(static_cast<std::int16_t>(-errors::ecAlreadyOpen));
  text += "\n" + platform::DescribeComPort(comNumber) + ": " +
          std::string(platform::OpenFailureHint(platform::ERROR_SHARING_VIOLATION));
  throw errors::EAlreadyOpen(errors::ecAlreadyOpen, std::move(text));
}

[[noreturn]] void RaiseNoRights(int comNumber) {
  std::string text = "Access to " + platform::DescribeComPort(comNumber) + " is denied";
  const std::string_view hint = platform::OpenFailureHint(platform::ERROR_ACCESS_DENIED);
  if (!hint.empty()) text += "\n" + std::string(hint);
  throw errors::EAlreadyOpen(errors::ecAlreadyOpen, std::move(text));
}

[[noreturn]] void RaiseMissing(int comNumber) {
  std::string text = errors::ErrorText(static_cast<std::int16_t>(-errors::ecBadId));
  text += "\nCOM" + std::to_string(comNumber) + ": no serial device (" +
          platform::DescribeComLookup(comNumber) + ")";
  throw errors::EBadId(errors::ecBadId, std::move(text));
}

}  // namespace

// --- Construction ----------------------------------------------------------

TSioCustomComPort::TSioCustomComPort() = default;

TSioCustomComPort::~TSioCustomComPort() {
  // A component being destroyed raises no event: a close below may handle
  // messages, and the handlers' owner may be half gone already.
  ClearEvents();
  // A destructor cannot raise: a failing dump at close is reported like any
  // other failure of the window's thread.
  const bool delivering = delivery_ != nullptr;
  try {
    if (delivering)
      DestroyWhileDelivering();
    else if (openState_ == osOpen)
      ClosePort();
  } catch (...) {
    framework::HandleException(this);
  }
  // A deferred close still waiting in the queue is completed now; its
  // message dies with the window.
  if (!delivering && openState_ == osClosing) CompleteClose();
  if (triggersSaved_) TSioBaseDispatcher::DiscardSavedTriggers(savedTriggers_);
}

// --- Port and line settings ------------------------------------------------

void TSioCustomComPort::SetDeviceLayer(TDeviceLayer value) {
  if (openState_ != osClosed || value != TDeviceLayer::dlWin32) return;
  deviceLayer_ = value;
  DeviceLayerChanged();
}

void TSioCustomComPort::SetComNumber(Word value) {
  if (value == comNumber_) return;
  lastOpenFailure_ = 0;  // another port: its failure is news
  if (openState_ != osOpen) {
    comNumber_ = value;
    return;
  }
  dispatcher::TSavedTriggers triggers;
  dispatcher_->SaveTriggers(triggers);
  const TTraceLogState tracing = tracing_;
  const TTraceLogState logging = logging_;
  SetOpen(false);
  comNumber_ = value;
  SetTracing(tracing);
  SetLogging(logging);
  SetOpen(true);
  if (dispatcher_) dispatcher_->RestoreTriggers(triggers);
  TSioBaseDispatcher::DiscardSavedTriggers(triggers);
}

void TSioCustomComPort::ApplyLineSettings() {
  if (openState_ != osOpen) return;
  errors::CheckResult(this, dispatcher_->SetLineSettings(
                                static_cast<platform::DWORD>(baud_), static_cast<platform::BYTE>(parity_),
                                static_cast<platform::BYTE>(dataBits_ & 0xFF),
                                static_cast<platform::BYTE>(stopBits_ & 0xFF)));
}

void TSioCustomComPort::SetBaud(std::int32_t value) {
  baud_ = value;
  ApplyLineSettings();
}

void TSioCustomComPort::SetParity(TParity value) {
  parity_ = value;
  ApplyLineSettings();
}

void TSioCustomComPort::SetDataBits(Word value) {
  dataBits_ = value;
  ApplyLineSettings();
}

void TSioCustomComPort::SetStopBits(Word value) {
  stopBits_ = value;
  ApplyLineSettings();
}

void TSioCustomComPort::RefuseWhileOpen() {
  // The open dispatcher checks its flow thresholds against the receive size
  // and holds an output ring of the transmit size, both fixed at the open:
  // a new size would be read back here but not used there.
  if (openState_ != osClosed) errors::CheckResult(this, errors::ecAlreadyOpen);
}

void TSioCustomComPort::SetInSize(Word value) {
  if (value == inSize_) return;
  RefuseWhileOpen();
  inSize_ = value;
}

void TSioCustomComPort::SetOutSize(Word value) {
  if (value == outSize_) return;
  RefuseWhileOpen();
  outSize_ = value;
}

void TSioCustomComPort::DriveLine(bool value, bool& stored,
                                  errors::ResultCode (TSioBaseDispatcher::*drive)(platform::BYTE)) {
  if (value == stored && !reapplyAll_) return;
  if (openState_ != osOpen) {
    stored = value;
    return;
  }
  // 1: the line is under handshake control and was not driven.
  if (errors::CheckResult(this, (dispatcher_.get()->*drive)(value ? 1 : 0)) == 0) stored = value;
}

void TSioCustomComPort::SetDTR(bool value) { DriveLine(value, dtr_, &TSioBaseDispatcher::SetDtrLine); }

void TSioCustomComPort::SetRTS(bool value) { DriveLine(value, rts_, &TSioBaseDispatcher::SetRtsLine); }

void TSioCustomComPort::SetUseMSRShadow(bool) {}

void TSioCustomComPort::SetUseEventWord(bool value) {
  if (value == useEventWord_ && !reapplyAll_) return;
  useEventWord_ = value;
  if (openState_ != osOpen) return;
  if (value)
    dispatcher_->SetOptionBits(dispatcher::OptionUseEventWord);
  else
    dispatcher_->ClearOptionBits(dispatcher::OptionUseEventWord);
}

void TSioCustomComPort::SetRS485Mode(bool value) {
  if (value == rs485Mode_ && !reapplyAll_) return;
  rs485Mode_ = value;
  if (openState_ == osOpen) dispatcher_->SetRs485(value);
  if (!value) return;
  THWFlowOptionSet options = hwFlowOptions_;
  options.Exclude(THWFlowOptions::hwfUseRTS).Exclude(THWFlowOptions::hwfRequireCTS);
  SetHWFlowOptions(options);
  SetRTS(false);
}

void TSioCustomComPort::SetAvailThreshold(Word value) {
  if (value == availThreshold_ && !reapplyAll_) return;
  availThreshold_ = value;
  if (openState_ == osOpen) dispatcher_->SetAvailLength(value);
}

void TSioCustomComPort::SetWorkerPriorityBoost(std::uint8_t value) {
  if (value == workerPriorityBoost_ && !reapplyAll_) return;
  workerPriorityBoost_ = value;
  if (openState_ == osOpen) dispatcher_->SetThreadBoost(value);
}

void TSioCustomComPort::SetTraceName(const std::string& value) { traceName_ = ShortString(value); }

void TSioCustomComPort::SetLogName(const std::string& value) { logName_ = ShortString(value); }

// --- Open and close ----------------------------------------------------------

void TSioCustomComPort::SetOpen(bool value) {
  if (openState_ == osClosing && !IsDesigning() && !IsLoading()) {
    // The close under way decides; the last wish made meanwhile stands.
    reopenPending_ = value;
    return;
  }
  if (value == open_) return;
  if (IsDesigning() || IsLoading()) {
    open_ = value;
    if (value) openAfterLoad_ = true;
    return;
  }
  if (value) {
    OpenPort();
    return;
  }
  if (!CloseSurvived()) return;
  // A close that was not deferred handled sent messages while it waited; an
  // open asked by one of them is the last wish.
  if (openState_ == osClosed && std::exchange(reopenPending_, false)) OpenPort();
}

void TSioCustomComPort::Loaded() {
  TSioBaseComponent::Loaded();
  if (IsDesigning()) return;
  if (openAfterLoad_) open_ = true;
  if (!open_) return;
  openAfterLoad_ = false;
  try {
    OpenPort();
  } catch (...) {
    open_ = false;
    framework::HandleException(this);
  }
}

void TSioCustomComPort::Constructed() {
  std::vector<THeldTrigger> held;
  held.swap(heldTriggers_);
  // Held messages of a dispatcher closed meanwhile name no registered one
  // and would raise nothing anyway.
  if (openState_ != osOpen || notifyWindow_ == 0) return;
  for (const THeldTrigger& t : held) platform::PostMessageA(notifyWindow_, t.msg, t.wParam, t.lParam);
}

void TSioCustomComPort::ValidatePort() {
  if (comNumber_ != 0) return;
  if (!promptForPort_) throw errors::ENoPortSelected::Create(errors::ecNoPortSelected);
  const int number = SelectPort();
  if (number <= 0) throw errors::ENoPortSelected::Create(errors::ecNoPortSelected);
  SetComNumber(static_cast<Word>(number));
}

void TSioCustomComPort::CreateDispatcher() {
  if (deviceLayer_ != TDeviceLayer::dlWin32) errors::CheckResult(this, errors::ecNullApi);
  dispatcher_ = std::make_unique<device::TSioWin32Dispatcher>(this);
}

std::int32_t TSioCustomComPort::OpenDevice() {
  std::uint8_t options = 0;
  if (dtr_) options |= kOpenDtr;
  if (rts_) options |= kOpenRts;
  if (hwFlowOptions_.Contains(THWFlowOptions::hwfUseDTR)) options |= kOpenDtrHandshake;
  if (hwFlowOptions_.Contains(THWFlowOptions::hwfUseRTS)) options |= kOpenRtsHandshake;
  const std::string name = framework::Format("\\\\.\\COM%d", comNumber_).substr(0, kDeviceNameLimit);
  return dispatcher_->OpenLine(name.c_str(), static_cast<platform::DWORD>(baud_),
                               static_cast<platform::BYTE>(parity_),
                               static_cast<platform::BYTE>(dataBits_ & 0xFF),
                               static_cast<platform::BYTE>(stopBits_ & 0xFF), inSize_, outSize_,
                               options);
}

void TSioCustomComPort::OpenPort() {
  lastOpenFailure_ = 0;
  reopenPending_ = false;
  if (tapiMode_ != TTapiMode::tmOn) ValidatePort();
  CreateDispatcher();
  try {
    // Nothing supplies a telephony device handle here.
    if (tapiMode_ == TTapiMode::tmOn) errors::CheckResult(false, errors::ecNotOpenedByTapi);
    std::int32_t code = OpenDevice();
    if (code == kOpenAccessDenied || code == kOpenSharingViolation) {
      lastOpenFailure_ = errors::ecAlreadyOpen;
      if (code == kOpenAccessDenied) RaiseNoRights(comNumber_);
      RaiseHeld(comNumber_);
    }
    if (code == kOpenFileNotFound || code == kOpenPathNotFound) {
      lastOpenFailure_ = errors::ecBadId;
      RaiseMissing(comNumber_);
    }
    lastOpenFailure_ = code;
    if (code != 0) errors::CheckResult(false, code);
    openState_ = osOpen;
    UpdateHandlerState();
    ReapplySettings();
    open_ = true;
    SetupNotifyWindow(true);
    if (triggersSaved_) {
      triggersSaved_ = false;
      dispatcher_->RestoreTriggers(savedTriggers_);
      TSioBaseDispatcher::DiscardSavedTriggers(savedTriggers_);
    }
  } catch (...) {
    reapplyAll_ = false;
    open_ = false;
    openState_ = osClosed;
    SetupNotifyWindow(false);
    dispatcher_.reset();
    throw;
  }
}

void TSioCustomComPort::ReapplySettings() {
  reapplyAll_ = true;
  SetTracing(tracing_);
  SetLogging(logging_);
  SetHWFlowOptions(hwFlowOptions_);
  SetSWFlowOptions(swFlowOptions_);
  SetXOnChar(xOnChar_);
  SetXOffChar(xOffChar_);
  SetAvailThreshold(availThreshold_);
  SetDTR(dtr_);
  SetRTS(rts_);
  SetUseMSRShadow(true);
  SetUseEventWord(useEventWord_);
  SetCommNotificationLevel(commNotificationLevel_);
  SetRS485Mode(rs485Mode_);
  SetWorkerPriorityBoost(workerPriorityBoost_);
  reapplyAll_ = false;
}

void TSioCustomComPort::ClosePort() {
  open_ = false;
  if (openState_ != osOpen) return;
  const std::exception_ptr dumpFailure = DumpRecorders();
  openState_ = osClosing;
  dispatcher_->SaveTriggers(savedTriggers_);
  triggersSaved_ = true;
  dispatcher_->CloseLine();
  if (dispatcher_->DeliveryInProgress()) {
    platform::PostMessageA(notifyWindow_, MsgFinishClose, 0,
                           static_cast<platform::LPARAM>(dispatcher_->DispatcherHandle) << 16);
    platform::PumpOneMessage();
  } else {
    CompleteClose();
  }
  if (dumpFailure) std::rethrow_exception(dumpFailure);
}

void TSioCustomComPort::CompleteClose() {
  SetupNotifyWindow(false);
  dispatcher_.reset();
  openState_ = osClosed;
}

// --- I/O -----------------------------------------------------------------------

TSioBaseDispatcher* TSioCustomComPort::GetDispatcher() {
  if (!dispatcher_ && !IsDesigning() && !IsLoading() && openState_ != osOpen && autoOpen_)
    OpenAutomatically();
  return dispatcher_.get();
}

void TSioCustomComPort::OpenAutomatically() {
  const std::int32_t before = lastOpenFailure_;
  try {
    SetOpen(true);
  } catch (framework::Exception& e) {
    if (before != 0 && lastOpenFailure_ == before) e.SetSilent(true);
    throw;
  }
}

TSioBaseDispatcher* TSioCustomComPort::RequireDispatcher() {
  TSioBaseDispatcher* found = GetDispatcher();
  // While the component is being loaded the check lets the code through:
  // the call then does nothing (the port opens when loading ends).
  if (found == nullptr) errors::CheckResult(this, errors::ecCommNotOpen);
  return found;
}

std::int32_t TSioCustomComPort::WriteBlock(const void* Block, Word Len) {
  if (openState_ == osClosing) return 0;
  if (TSioBaseDispatcher* d = RequireDispatcher()) {
    // The output thread writes the block later, and its failure reaches no
    // caller: a device that went away is found by asking it for its state,
    // as the flushes find it by their purge.
    platform::DCB state;
    if (d->DeviceGetState(state) != errors::ecOK) {
      const platform::DWORD error = platform::GetLastError();
      errors::CheckResult(this, error != 0 ? -static_cast<std::int32_t>(error) : errors::ecPutBlockFail);
    }
    errors::CheckResult(this, d->WriteBlock(Block, Len));
  }
  return 0;
}

bool TSioCustomComPort::CharAvailable() {
  if (openState_ == osClosing) return false;
  TSioBaseDispatcher* d = RequireDispatcher();
  if (d == nullptr) return false;
  if (d->CharAvailable()) return true;
  ReleaseWaitingDelivery();
  return d->CharAvailable();
}

void TSioCustomComPort::ReleaseWaitingDelivery() {
  // The dispatch thread stores nothing new while it waits for this window
  // to take a trigger message, and a caller that polls here handles no
  // messages: it would wait out the send's limit. Taking the sent messages
  // now lets the dispatch thread go on; the window procedure keeps their
  // events for the message loop (see WindowProc).
  if (notifyWindow_ == 0 || !dispatcher_ || !dispatcher_->DeliveryInProgress()) return;
  struct PollingScope {
    int& depth;
    explicit PollingScope(int& d) : depth(d) { ++depth; }
    ~PollingScope() { --depth; }
  } scope(polling_);
  platform::MSG msg;
  platform::PeekMessageA(&msg, notifyWindow_, kNoPostedMessage, kNoPostedMessage, platform::PM_NOREMOVE);
}

char TSioCustomComPort::ReadChar() {
  if (openState_ == osClosing) return '\0';
  TSioBaseDispatcher* d = RequireDispatcher();
  if (d == nullptr) return '\0';
  platform::BYTE c = 0;
  const std::int32_t code = d->ReadChar(c);
  if (code == 0) return static_cast<char>(c);
  errors::CheckResult(this, code);
  return '\0';
}

void TSioCustomComPort::ReadBlock(void* Block, Word Len) {
  if (openState_ == osClosing) return;
  if (TSioBaseDispatcher* d = RequireDispatcher()) errors::CheckResult(this, d->ReadBlock(Block, Len));
}

void TSioCustomComPort::FlushInput() {
  if (openState_ == osClosing) return;
  if (TSioBaseDispatcher* d = RequireDispatcher()) errors::CheckResult(this, d->FlushInput());
}

void TSioCustomComPort::FlushOutput() {
  if (openState_ == osClosing) return;
  if (TSioBaseDispatcher* d = RequireDispatcher()) errors::CheckResult(this, d->FlushOutput());
}

Word TSioCustomComPort::TakeLineError() {
  if (openState_ != osOpen) return 0;
  return static_cast<Word>(errors::CheckResult(this, dispatcher_->TakeLineError() & 0xFFFF));
}

bool TSioCustomComPort::TakeLineBreak() {
  return openState_ == osOpen && dispatcher_->TakeLineBreak();
}

void TSioCustomComPort::ProcessIdle() {
  if (openState_ == osOpen) errors::CheckResult(this, dispatcher_->DeviceIdle());
}

// --- Copy ------------------------------------------------------------------------

void TSioCustomComPort::Assign(const framework::TPersistent& Source) {
  const auto* source = dynamic_cast<const TSioCustomComPort*>(&Source);
  if (source == nullptr || source == this) return;
  // The copy reads closed; an open port is really closed first, or it would
  // stay open behind Open = False and never open again.
  if (openState_ == osOpen) ClosePort();
  if (source->openState_ == osOpen) {
    source->dispatcher_->SaveTriggers(savedTriggers_);
    triggersSaved_ = true;
  }
  reapplyAll_ = source->reapplyAll_;
  deviceLayer_ = source->deviceLayer_;
  comNumber_ = source->comNumber_;
  baud_ = source->baud_;
  parity_ = source->parity_;
  dataBits_ = source->dataBits_;
  stopBits_ = source->stopBits_;
  inSize_ = source->inSize_;
  outSize_ = source->outSize_;
  autoOpen_ = source->autoOpen_;
  promptForPort_ = source->promptForPort_;
  rs485Mode_ = source->rs485Mode_;
  workerPriorityBoost_ = source->workerPriorityBoost_;
  dtr_ = source->dtr_;
  rts_ = source->rts_;
  bufferFull_ = source->bufferFull_;
  bufferResume_ = source->bufferResume_;
  hwFlowOptions_ = source->hwFlowOptions_;
  swFlowOptions_ = source->swFlowOptions_;
  xOnChar_ = source->xOnChar_;
  xOffChar_ = source->xOffChar_;
  // A paused recorder is not copied as paused: the copy opens with nothing
  // to resume, and would read "tracing" while recording nothing.
  tracing_ = source->tracing_ == TTraceLogState::tlOn ? TTraceLogState::tlOn : TTraceLogState::tlOff;
  traceSize_ = source->traceSize_;
  traceName_ = source->traceName_;
  traceHex_ = source->traceHex_;
  traceAllHex_ = source->traceAllHex_;
  logging_ = source->logging_ == TTraceLogState::tlOn ? TTraceLogState::tlOn : TTraceLogState::tlOff;
  logSize_ = source->logSize_;
  logName_ = source->logName_;
  logHex_ = source->logHex_;
  logAllHex_ = source->logAllHex_;
  availThreshold_ = source->availThreshold_;
  tapiMode_ = source->tapiMode_;
  open_ = false;
  reopenPending_ = false;
  SetOnTrigger(source->onTrigger_);
  SetOnTriggerAvail(source->onTriggerAvail_);
  SetOnTriggerData(source->onTriggerData_);
  SetOnTriggerStatus(source->onTriggerStatus_);
  SetOnTriggerTimer(source->onTriggerTimer_);
}

}  // namespace comport
