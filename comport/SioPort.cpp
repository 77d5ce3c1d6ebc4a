#include "comport/SioPort.h"

#include <algorithm>
#include <mutex>

#include "comport/SioPortSelect.h"
#include "errors/SioCodes.h"
#include "errors/SioExcept.h"
#include "framework/ExceptionSink.h"
#include "framework/Properties.h"
#include "framework/SysUtils.h"
#include "platform/com_names.h"
#include "platform/thread.h"

namespace comport {

namespace {

using namespace platform;

// The line's number in the high word of its messages. One line per
// component, and the component is found through its window, so the number
// only tells this component's messages from stray ones.
constexpr std::uint16_t kLineHandle = 1;

void RegisterWindowClass(WNDPROC procedure) {
  static std::once_flag registered;
  std::call_once(registered, [procedure] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.lpszClassName = kComWindowClass;
    // A class of that name registered earlier stays; the result is not
    // needed (a missing window only means no trigger events).
    RegisterClassA(&windowClass);
  });
}

std::string ShortString(const std::string& value) { return value.substr(0, 255); }

bool IsTriggerMessage(UINT msg) {
  return msg == MsgTriggerAvail || msg == MsgTriggerData || msg == MsgTriggerTimer ||
         msg == MsgTriggerStatus || msg == MsgFinishClose;
}

}  // namespace

// --- Construction --------------------------------------------------------

TSioCustomComPort::TSioCustomComPort() = default;

TSioCustomComPort::~TSioCustomComPort() {
  if (openState_ == osOpen) {
    open_ = false;
    openState_ = osClosing;
  }
  // A close still pending in the window's queue is finished here, so no
  // message or line is left that refers to this component.
  if (openState_ == osClosing) FinishClose();
}

// --- Settings ------------------------------------------------------------

void TSioCustomComPort::SetComNumber(Word value) {
  if (value == comNumber_) return;
  lastOpenFailure_ = 0;  // another port: its failure is news
  if (openState_ != osOpen) {
    comNumber_ = value;
    return;
  }
  SetOpen(false);
  comNumber_ = value;
  SetOpen(true);
}

TLineSettings TSioCustomComPort::LineSettings() const {
  TLineSettings settings;
  settings.baud = baud_;
  settings.parity = static_cast<std::uint8_t>(parity_);
  settings.dataBits = static_cast<std::uint8_t>(dataBits_ & 0xFF);
  settings.stopBits = static_cast<std::uint8_t>(stopBits_ & 0xFF);
  return settings;
}

void TSioCustomComPort::ApplyLineSettings() {
  if (openState_ != osOpen || !line_) return;
  errors::CheckResult(this, line_->SetLineSettings(LineSettings()));
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

void TSioCustomComPort::SetInSize(Word value) {
  inSize_ = value;
  if (openState_ == osOpen && line_) line_->SetQueueSizes(inSize_, outSize_);
}

void TSioCustomComPort::SetOutSize(Word value) {
  outSize_ = value;
  if (openState_ == osOpen && line_) line_->SetQueueSizes(inSize_, outSize_);
}

void TSioCustomComPort::SetTraceName(const std::string& value) { traceName_ = ShortString(value); }

void TSioCustomComPort::SetLogName(const std::string& value) { logName_ = ShortString(value); }

void TSioCustomComPort::SetOnTrigger(TTriggerEvent value) {
  onTrigger_ = std::move(value);
  UpdateHandlerState();
}

void TSioCustomComPort::UpdateHandlerState() {
  if (openState_ != osOpen || !line_) return;
  line_->SetListening(static_cast<bool>(onTrigger_));
}

// --- Open and close ------------------------------------------------------

void TSioCustomComPort::SetOpen(bool value) {
  if (value == open_) return;
  if (IsDesigning() || IsLoading()) {
    open_ = value;
    if (value) openAfterLoad_ = true;
    return;
  }
  if (value) {
    if (openState_ == osClosed)
      OpenPort();
    else
      reopenPending_ = true;
  } else {
    ClosePort();
  }
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
  std::vector<HeldTrigger> held;
  held.swap(heldTriggers_);
  if (openState_ != osOpen || notifyWindow_ == 0) return;
  for (const HeldTrigger& t : held) PostMessageA(notifyWindow_, t.msg, t.wParam, t.lParam);
}

void TSioCustomComPort::ValidatePort() {
  if (comNumber_ != 0) return;
  const int number = SelectPort();
  if (number <= 0) throw errors::ENoPortSelected::Create(errors::ecNoPortSelected);
  SetComNumber(static_cast<Word>(number));
}

void TSioCustomComPort::OpenPort() {
  lastOpenFailure_ = 0;
  ValidatePort();
  line_ = std::make_unique<TSioLine>(kLineHandle);
  try {
    std::int32_t code = line_->OpenLine(framework::Format("\\\\.\\COM%d", comNumber_).substr(0, 12),
                                        LineSettings(), inSize_, outSize_);
    if (code == -5) {
      lastOpenFailure_ = errors::ecAlreadyOpen;
      // The system reports a port held elsewhere and a port the user may
      // not open alike; the message names both causes.
      auto failure = errors::EAlreadyOpen::Create(errors::ecAlreadyOpen);
      failure.SetMessage(failure.Message() + "\n" +
                         std::string(platform::OpenFailureHint(platform::ERROR_ACCESS_DENIED)));
      throw failure;
    }
    if (code == -2 || code == -3) code = errors::ecBadId;
    lastOpenFailure_ = code;
    if (code != 0) errors::CheckResult(false, code);
    openState_ = osOpen;
    UpdateHandlerState();
    open_ = true;
    SetupNotifyWindow(true);
  } catch (...) {
    open_ = false;
    openState_ = osClosed;
    line_.reset();
    throw;
  }
}

void TSioCustomComPort::ClosePort() {
  open_ = false;
  if (openState_ != osOpen) return;
  openState_ = osClosing;
  if (delivering_ > 0) {
    // The line's worker is waiting for this very handler to return: it
    // cannot be stopped here. Finish through the window once it has.
    line_->RequestStop();
    PostMessageA(notifyWindow_, MsgFinishClose, 0, static_cast<LPARAM>(line_->Handle()) << 16);
    PumpOneMessage();
    return;
  }
  FinishClose();
}

void TSioCustomComPort::FinishClose() {
  SetupNotifyWindow(false);
  line_.reset();  // closes the device
  openState_ = osClosed;
}

void TSioCustomComPort::SetupNotifyWindow(bool Create) {
  if (Create) {
    RegisterWindowClass(&TSioCustomComPort::WindowProc);
    notifyWindow_ = CreateWindowExA(0, kComWindowClass, "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    if (notifyWindow_ == 0) return;
    SetWindowLongPtrA(notifyWindow_, 0, reinterpret_cast<LONG_PTR>(this));
    if (line_) line_->AddWindowReceiver(notifyWindow_);
    return;
  }
  if (line_) line_->RemoveWindowReceiver();
  if (notifyWindow_ != 0) {
    SetWindowLongPtrA(notifyWindow_, 0, 0);
    DestroyWindow(notifyWindow_);
    notifyWindow_ = 0;
  }
}

// --- I/O -----------------------------------------------------------------

TSioLine* TSioCustomComPort::GetDispatcher() {
  if (!line_ && !IsDesigning() && !IsLoading() && openState_ != osOpen && autoOpen_) OpenAutomatically();
  return line_.get();
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

TSioLine* TSioCustomComPort::RequireDispatcher() {
  TSioLine* line = GetDispatcher();
  // While the component is being loaded the check lets the code through:
  // the call then does nothing (the port opens when loading ends).
  if (line == nullptr) errors::CheckResult(this, errors::ecCommNotOpen);
  return line;
}

std::int32_t TSioCustomComPort::WriteBlock(const void* Block, Word Len) {
  if (openState_ == osClosing) return 0;
  if (TSioLine* line = RequireDispatcher()) errors::CheckResult(this, line->WriteBlock(Block, Len));
  return 0;
}

bool TSioCustomComPort::CharAvailable() {
  if (openState_ == osClosing) return false;
  TSioLine* line = RequireDispatcher();
  return line != nullptr && line->CharAvailable();
}

char TSioCustomComPort::ReadChar() {
  if (openState_ == osClosing) return '\0';
  TSioLine* line = RequireDispatcher();
  if (line == nullptr) return '\0';
  char c = '\0';
  const std::int32_t code = line->ReadChar(c);
  if (code == 0) return c;
  errors::CheckResult(this, code);
  return '\0';
}

void TSioCustomComPort::ReadBlock(void* Block, Word Len) {
  if (openState_ == osClosing) return;
  if (TSioLine* line = RequireDispatcher()) errors::CheckResult(this, line->ReadBlock(Block, Len));
}

void TSioCustomComPort::FlushInput() {
  if (openState_ == osClosing) return;
  if (TSioLine* line = RequireDispatcher()) errors::CheckResult(this, line->FlushInput());
}

void TSioCustomComPort::FlushOutput() {
  if (openState_ == osClosing) return;
  if (TSioLine* line = RequireDispatcher()) errors::CheckResult(this, line->FlushOutput());
}

// --- Trigger delivery ----------------------------------------------------

void TSioCustomComPort::FireTrigger(Word Msg, Word TriggerHandle, Word Data) {
  if (onTrigger_) onTrigger_(this, Msg, TriggerHandle, Data);
}

LRESULT TSioCustomComPort::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!IsTriggerMessage(msg)) return DefWindowProcA(window, msg, wParam, lParam);
  auto* port = reinterpret_cast<TSioCustomComPort*>(GetWindowLongPtrA(window, 0));
  if (port == nullptr || !port->line_ || port->notifyWindow_ != window) return 0;
  if (((static_cast<std::uint64_t>(lParam) >> 16) & 0xFFFF) != port->line_->Handle()) return 0;
  return port->HandleMessage(msg, wParam, lParam);
}

LRESULT TSioCustomComPort::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  // Characters announced before a close began belong to nobody now.
  if (msg != MsgFinishClose && openState_ != osOpen) return 0;
  if (msg != MsgFinishClose && InConstruction()) {
    // The form's handler may use fields its constructor has not set yet.
    auto same = std::find_if(heldTriggers_.begin(), heldTriggers_.end(),
                             [msg](const HeldTrigger& held) { return held.msg == msg; });
    if (same == heldTriggers_.end()) same = heldTriggers_.insert(same, HeldTrigger{msg, 0, 0});
    *same = HeldTrigger{msg, wParam, lParam};
    return 0;
  }
  ++delivering_;
  try {
    const Word data = msg == MsgTriggerAvail ? static_cast<Word>(wParam) : static_cast<Word>(lParam);
    FireTrigger(static_cast<Word>(msg), static_cast<Word>(wParam), data);
    if (msg == MsgFinishClose) HandleFinishClose(lParam);
  } catch (...) {
    if (GetCurrentThreadId() == GetMainThreadId()) framework::HandleException(this);
  }
  --delivering_;
  return 0;
}

void TSioCustomComPort::HandleFinishClose(LPARAM lParam) {
  if (openState_ != osClosing) return;
  if (line_->ThreadsStarted()) {
    PostMessageA(notifyWindow_, MsgFinishClose, 0, lParam);
    return;
  }
  FinishClose();
  if (reopenPending_) {
    OpenPort();
    reopenPending_ = false;
  }
}

// --- Class information -----------------------------------------------------

const framework::TClassInfo& TSioCustomComPort::StaticClassInfo() {
  static const framework::TClassInfo info = framework::DefineClass<TSioCustomComPort>(
      "TSioCustomComPort", &TSioBaseComponent::StaticClassInfo());
  return info;
}

const framework::TClassInfo& TSioComPort::StaticClassInfo() {
  using P = TSioComPort;
  static const framework::TClassInfo info = framework::DefineClass<P>(
      "TSioComPort", &TSioCustomComPort::StaticClassInfo(), [](framework::PropertyBuilder<P>& p) {
        p.Int("ComNumber", &P::ComNumber, &P::SetComNumber, 0);
        p.Int("Baud", &P::Baud, &P::SetBaud, 19200);
        p.Bool("PromptForPort", &P::PromptForPort, &P::SetPromptForPort, true);
        p.Enum<TParity>("Parity", &P::Parity, &P::SetParity, TParity::pNone,
                        {"pNone", "pOdd", "pEven", "pMark", "pSpace"});
        p.Int("DataBits", &P::DataBits, &P::SetDataBits, 8);
        p.Int("StopBits", &P::StopBits, &P::SetStopBits, 1);
        p.Int("InSize", &P::InSize, &P::SetInSize, 4096);
        p.Int("OutSize", &P::OutSize, &P::SetOutSize, 4096);
        p.Bool("AutoOpen", &P::AutoOpen, &P::SetAutoOpen, true);
        p.Bool("Open", &P::Open, &P::SetOpen, false);
        p.Str("TraceName", &P::TraceName, &P::SetTraceName, std::nullopt);
        p.Str("LogName", &P::LogName, &P::SetLogName, std::nullopt);
        p.Event<void(framework::TObject*, Word, Word, Word)>("OnTrigger", &P::SetOnTrigger);
      });
  return info;
}

void RegisterComponents() { framework::RegisterClass(TSioComPort::StaticClassInfo()); }

}  // namespace comport
