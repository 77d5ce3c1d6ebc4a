// Flow control, the trace and the dispatch log of the port component.
#include <algorithm>
#include <exception>

#include "comport/SioPort.h"
#include "errors/SioExcept.h"
#include "platform/serial.h"

namespace comport {

namespace {

using dispatcher::TSioBaseDispatcher;

// The device's answer to a flow option the system cannot give.
constexpr std::int32_t kNotSupported = -static_cast<std::int32_t>(platform::ERROR_NOT_SUPPORTED);

constexpr const char* kHardwareFlowNotSupported =
    "This hardware flow option is not available on Linux: the serial driver offers only "
    "RTS/CTS flow control (hwfUseRTS, hwfRequireCTS); DTR handshake (hwfUseDTR) and DSR flow "
    "(hwfRequireDSR) cannot be used.";
constexpr const char* kSoftwareFlowNotSupported =
    "This software flow option is not available on Linux with this device.";

std::uint32_t SoftwareFlowBits(TSWFlowOptions options) {
  switch (options) {
    case TSWFlowOptions::swfReceive: return 2;
    case TSWFlowOptions::swfTransmit: return 1;
    case TSWFlowOptions::swfBoth: return 3;
    case TSWFlowOptions::swfNone: break;
  }
  return 0;
}

// Sets a flag for the length of a scope and puts its old value back.
class TForced {
 public:
  explicit TForced(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~TForced() { flag_ = old_; }
  TForced(const TForced&) = delete;
  TForced& operator=(const TForced&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

// The operations of one recorder, the trace or the log, for the state table
// that SetTracing and SetLogging share.
struct TSioCustomComPort::TRecorderOps {
  TTraceLogState TSioCustomComPort::*state;
  std::uint32_t TSioCustomComPort::*size;
  std::string TSioCustomComPort::*name;
  bool TSioCustomComPort::*hex;
  void (TSioCustomComPort::*begin)(std::uint32_t);
  void (TSioCustomComPort::*save)(const std::string&, bool);
  void (TSioCustomComPort::*append)(const std::string&, bool);
  void (TSioCustomComPort::*reset)();
  void (TSioCustomComPort::*discard)();
  void (TSioCustomComPort::*resume)();
  void (TSioCustomComPort::*pause)();
  // The file the last close wrote this recorder to ("" before the first).
  std::string TSioCustomComPort::*closeDumpedTo;
  bool (TSioBaseDispatcher::*holdsEntries)();
};

const TSioCustomComPort::TRecorderOps TSioCustomComPort::kTraceOps = {
    &TSioCustomComPort::tracing_,          &TSioCustomComPort::traceSize_,
    &TSioCustomComPort::traceName_,        &TSioCustomComPort::traceHex_,
    &TSioCustomComPort::TraceBegin,        &TSioCustomComPort::TraceSaveToFile,
    &TSioCustomComPort::TraceAppendToFile, &TSioCustomComPort::TraceReset,
    &TSioCustomComPort::TraceDiscard,      &TSioCustomComPort::TraceResume,
    &TSioCustomComPort::TracePause,        &TSioCustomComPort::traceClosedTo_,
    &TSioBaseDispatcher::TraceHoldsEntries};

const TSioCustomComPort::TRecorderOps TSioCustomComPort::kLogOps = {
    &TSioCustomComPort::logging_,        &TSioCustomComPort::logSize_, &TSioCustomComPort::logName_,
    &TSioCustomComPort::logHex_,         &TSioCustomComPort::LogBegin, &TSioCustomComPort::LogSaveToFile,
    &TSioCustomComPort::LogAppendToFile, &TSioCustomComPort::LogReset, &TSioCustomComPort::LogDiscard,
    &TSioCustomComPort::LogResume,       &TSioCustomComPort::LogPause, &TSioCustomComPort::logClosedTo_,
    &TSioBaseDispatcher::LogHoldsEntries};

// --- Flow control --------------------------------------------------------------

void TSioCustomComPort::DeriveThresholds(int fullPercent, int resumePercent) {
  // Whole-number arithmetic truncates as the thresholds' rule asks.
  if (bufferFull_ == 0 || bufferFull_ > inSize_)
    bufferFull_ = static_cast<Word>(inSize_ * fullPercent / 100);
  if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
    bufferResume_ = static_cast<Word>(inSize_ * resumePercent / 100);
}

void TSioCustomComPort::CheckFlowResult(std::int32_t code, const char* unsupported) {
  if (code == kNotSupported && !IsLoading())
    throw EFlowNotSupported(kNotSupported, unsupported);
  errors::CheckResult(this, code);
}

void TSioCustomComPort::SetHWFlowOptions(THWFlowOptionSet value) {
  if (value == hwFlowOptions_ && !reapplyAll_) return;
  const std::uint32_t mask = value.Bits();
  if (mask != 0) DeriveThresholds(90, 10);
  if (openState_ == osOpen)
    CheckFlowResult(dispatcher_->SetHardwareFlow(bufferFull_, bufferResume_, mask),
                    kHardwareFlowNotSupported);
  hwFlowOptions_ = value;
  if (value.Contains(THWFlowOptions::hwfUseRTS) || value.Contains(THWFlowOptions::hwfRequireCTS))
    SetRS485Mode(false);
}

void TSioCustomComPort::SetSWFlowOptions(TSWFlowOptions value) {
  if (value == swFlowOptions_ && !reapplyAll_) return;
  const std::uint32_t option = SoftwareFlowBits(value);
  if (option != 0) DeriveThresholds(75, 25);
  if (openState_ == osOpen) {
    const std::int32_t code = option != 0
                                  ? dispatcher_->SetSoftwareFlow(bufferFull_, bufferResume_, option)
                                  : dispatcher_->ClearSoftwareFlow();
    CheckFlowResult(code, kSoftwareFlowNotSupported);
    // The dispatcher sets the device's flow characters to XON and XOFF
    // with the option; the component's own are pushed again after it.
    if (option != 0 && code == 0) errors::CheckResult(this, dispatcher_->SetFlowChars(xOnChar_, xOffChar_));
  }
  swFlowOptions_ = value;
}

void TSioCustomComPort::SetXOnChar(char value) {
  if (value == xOnChar_ && !reapplyAll_) return;
  xOnChar_ = value;
  if (openState_ == osOpen) errors::CheckResult(this, dispatcher_->SetFlowChars(xOnChar_, xOffChar_));
}

void TSioCustomComPort::SetXOffChar(char value) {
  if (value == xOffChar_ && !reapplyAll_) return;
  xOffChar_ = value;
  if (openState_ == osOpen) errors::CheckResult(this, dispatcher_->SetFlowChars(xOnChar_, xOffChar_));
}

void TSioCustomComPort::ReapplyFlow() {
  TForced forced(reapplyAll_);
  SetHWFlowOptions(hwFlowOptions_);
  SetSWFlowOptions(swFlowOptions_);
}

void TSioCustomComPort::SetBufferFull(Word value) {
  if (value == bufferFull_) return;
  bufferFull_ = value > inSize_ ? static_cast<Word>(value * 9 / 10) : value;
  ReapplyFlow();
}

void TSioCustomComPort::SetBufferResume(Word value) {
  if (value == bufferResume_) return;
  bufferResume_ = value > bufferFull_ ? static_cast<Word>(bufferFull_ / 10) : value;
  ReapplyFlow();
}

// --- Trace and log states ----------------------------------------------------------

void TSioCustomComPort::ChangeRecorderState(const TRecorderOps& ops, TTraceLogState value) {
  TTraceLogState& state = this->*ops.state;
  if (value == state && !reapplyAll_) return;
  if (openState_ != osOpen) {
    state = value == TTraceLogState::tlOn ? TTraceLogState::tlOn : TTraceLogState::tlOff;
    return;
  }
  const TTraceLogState current = state;
  const bool running = current == TTraceLogState::tlOn || current == TTraceLogState::tlPause;
  switch (value) {
    case TTraceLogState::tlOff:
      if (running) (this->*ops.discard)();
      break;
    case TTraceLogState::tlOn:
      if (current == TTraceLogState::tlPause)
        (this->*ops.resume)();
      else
        (this->*ops.begin)(this->*ops.size);
      break;
    case TTraceLogState::tlDump:
    case TTraceLogState::tlAppend:
      if (!running) break;
      (this->*ops.resume)();
      try {
        (this->*(value == TTraceLogState::tlDump ? ops.save : ops.append))(this->*ops.name, this->*ops.hex);
      } catch (framework::Exception& e) {
        // "Disk full" alone does not say which of the two files failed.
        e.SetMessage("Cannot write \"" + this->*ops.name + "\": " + e.Message());
        throw;
      }
      break;
    case TTraceLogState::tlClear:
      if (running) (this->*ops.reset)();
      break;
    case TTraceLogState::tlPause:
      if (current == TTraceLogState::tlOn) (this->*ops.pause)();
      break;
  }
}

// The first close that writes a recorder to its file replaces the file;
// later closes append to it, as long as the name stays. A port closed and
// opened again (a reopen, a ComNumber change) thus keeps every session of
// the component's life in one file, oldest first. A dump with nothing
// recorded writes no file and does not count as the first.
void TSioCustomComPort::DumpAtClose(const TRecorderOps& ops) {
  const TTraceLogState state = this->*ops.state;
  if (openState_ != osOpen || (state != TTraceLogState::tlOn && state != TTraceLogState::tlPause)) return;
  const std::string& name = this->*ops.name;
  std::string& closedTo = this->*ops.closeDumpedTo;
  const bool recorded = (dispatcher_.get()->*ops.holdsEntries)();
  ChangeRecorderState(ops, closedTo == name ? TTraceLogState::tlAppend : TTraceLogState::tlDump);
  if (recorded) closedTo = name;
}

std::exception_ptr TSioCustomComPort::DumpRecorders() {
  // A file that cannot be written must not keep the port open: the close
  // goes on, and the first failure is raised once it is done.
  std::exception_ptr failure;
  for (const TRecorderOps* ops : {&kTraceOps, &kLogOps}) {
    try {
      DumpAtClose(*ops);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  return failure;
}

void TSioCustomComPort::SetTracing(TTraceLogState value) { ChangeRecorderState(kTraceOps, value); }

void TSioCustomComPort::SetLogging(TTraceLogState value) { ChangeRecorderState(kLogOps, value); }

void TSioCustomComPort::ChangeRecorderSize(const TRecorderOps& ops, std::uint32_t value,
                                           std::uint32_t cap) {
  std::uint32_t& size = this->*ops.size;
  if (value == size) return;
  size = std::min(value, cap);
  const TTraceLogState previous = this->*ops.state;
  if (openState_ != osOpen ||
      (previous != TTraceLogState::tlOn && previous != TTraceLogState::tlPause))
    return;
  (this->*ops.discard)();
  ChangeRecorderState(ops, previous);
}

void TSioCustomComPort::SetTraceSize(std::uint32_t value) {
  ChangeRecorderSize(kTraceOps, value, kMaxTraceSize);
}

void TSioCustomComPort::SetLogSize(std::uint32_t value) {
  ChangeRecorderSize(kLogOps, value, kMaxLogSize);
}

// --- Trace and log operations --------------------------------------------------------

TSioBaseDispatcher* TSioCustomComPort::RecorderDispatcher() {
  return openState_ == osClosing ? nullptr : GetDispatcher();
}

void TSioCustomComPort::TraceBegin(std::uint32_t Size) {
  if (openState_ == osClosing) return;
  // A size the trace cannot have is refused, not cut down unasked.
  if (Size > kMaxTraceSize) {
    errors::CheckResult(this, errors::ecBadArgument);
    return;
  }
  if (Size != 0) traceSize_ = Size;
  TSioBaseDispatcher* d = RecorderDispatcher();
  if (d == nullptr) return;
  // Size 0 means the stored size: a trace of no entries records nothing.
  errors::CheckResult(this, d->StartTrace(traceSize_));
  tracing_ = TTraceLogState::tlOn;
}

void TSioCustomComPort::TraceSaveToFile(const std::string& FileName, bool InHex) {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    errors::CheckResult(this, d->DumpTrace(FileName.c_str(), false, InHex, traceAllHex_));
    tracing_ = TTraceLogState::tlOff;
  }
}

void TSioCustomComPort::TraceAppendToFile(const std::string& FileName, bool InHex) {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    errors::CheckResult(this, d->DumpTrace(FileName.c_str(), true, InHex, traceAllHex_));
    tracing_ = TTraceLogState::tlOff;
  }
}

void TSioCustomComPort::TraceReset() {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) errors::CheckResult(this, d->ClearTrace());
}

void TSioCustomComPort::TraceDiscard() {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    d->StopTrace();
    tracing_ = TTraceLogState::tlOff;
  }
}

void TSioCustomComPort::TraceResume() {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    d->ResumeTrace();
    tracing_ = TTraceLogState::tlOn;
  }
}

void TSioCustomComPort::TracePause() {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    d->PauseTrace();
    tracing_ = TTraceLogState::tlPause;
  }
}

void TSioCustomComPort::LogBegin(std::uint32_t Size) {
  if (openState_ == osClosing) return;
  if (Size != 0) logSize_ = std::min(Size, kMaxLogSize);
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    d->StartLog(logSize_);
    logging_ = TTraceLogState::tlOn;
  }
}

void TSioCustomComPort::LogSaveToFile(const std::string& FileName, bool InHex) {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    errors::CheckResult(this, d->DumpLog(FileName.c_str(), false, InHex, logAllHex_));
    logging_ = TTraceLogState::tlOff;
  }
}

void TSioCustomComPort::LogAppendToFile(const std::string& FileName, bool InHex) {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    errors::CheckResult(this, d->DumpLog(FileName.c_str(), true, InHex, logAllHex_));
    logging_ = TTraceLogState::tlOff;
  }
}

void TSioCustomComPort::LogReset() {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) d->ClearLog();
}

void TSioCustomComPort::LogDiscard() {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    d->StopLog();
    logging_ = TTraceLogState::tlOff;
  }
}

void TSioCustomComPort::LogResume() {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    d->ResumeLog();
    logging_ = TTraceLogState::tlOn;
  }
}

void TSioCustomComPort::LogPause() {
  if (TSioBaseDispatcher* d = RecorderDispatcher()) {
    d->PauseLog();
    logging_ = TTraceLogState::tlPause;
  }
}

}  // namespace comport
