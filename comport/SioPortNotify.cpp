// The component's hidden window: trigger messages become events, and a close
// that had to wait for a delivery is completed here.
#include <algorithm>
#include <mutex>
#include <utility>

#include "comport/SioPort.h"
#include "framework/ExceptionSink.h"
#include "platform/thread.h"

namespace comport {

namespace {

using dispatcher::TSioBaseDispatcher;
using namespace platform;

// Kinds of status trigger, in the low three bits of the trigger's handle.
constexpr Word kStatusModem = 1;
constexpr Word kStatusLineError = 2;
constexpr Word kStatusOutbuffFree = 3;
constexpr Word kStatusOutbuffUsed = 4;
constexpr Word kStatusOutSent = 5;

bool IsComWindowMessage(UINT msg) {
  return msg == dispatcher::MsgTriggerAvail || msg == dispatcher::MsgTriggerData ||
         msg == dispatcher::MsgTriggerTimer || msg == dispatcher::MsgTriggerStatus ||
         msg == MsgFinishClose;
}

std::int32_t HandleOf(LPARAM lParam) {
  return static_cast<std::int32_t>((static_cast<std::uint64_t>(lParam) >> 16) & 0xFFFF);
}

void RegisterWindowClass(WNDPROC procedure) {
  static std::once_flag registered;
  std::call_once(registered, [procedure] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.lpszClassName = kComWindowClass;
    // The result is not needed: without the class no window is made, and
    // the port then only raises no trigger events.
    RegisterClassA(&windowClass);
  });
}

// Raises an event from a copy of its handler on this frame: a handler may
// destroy the component, and one small enough for the function object's
// own storage would otherwise go on running from the freed component.
template <class Event, class... Args>
void RaiseCopy(const Event& event, Args... args) {
  if (!event) return;
  const Event handler = event;
  handler(args...);
}

}  // namespace

// One window-procedure call that raises events of a component. The
// component's destructor marks every frame of it, so that the call touches
// nothing of the component once its handler has returned.
struct TSioCustomComPort::TDeliveryFrame {
  TSioCustomComPort* port;
  TDeliveryFrame* outer;
  bool destroyed = false;

  explicit TDeliveryFrame(TSioCustomComPort* p) : port(p), outer(p->delivery_) { p->delivery_ = this; }
  ~TDeliveryFrame() {
    if (!destroyed) port->delivery_ = outer;
  }
  TDeliveryFrame(const TDeliveryFrame&) = delete;
  TDeliveryFrame& operator=(const TDeliveryFrame&) = delete;
};

bool TSioCustomComPort::CloseSurvived() {
  TDeliveryFrame frame(this);
  ClosePort();
  return !frame.destroyed;
}

// The dispatcher and window of a component destroyed from inside one of its
// own event handlers. The dispatch thread is waiting for that handler, so
// the threads cannot be waited for then; the window, now owning this record
// through its extra bytes, re-posts MsgFinishClose to itself until they
// have ended and then frees everything. The window takes no other message.
class TSioCustomComPort::TDetachedClose {
 public:
  static void Start(std::unique_ptr<TSioBaseDispatcher> dispatcher, HWND window) {
    auto record = std::unique_ptr<TDetachedClose>(new TDetachedClose(std::move(dispatcher), window));
    const LPARAM lParam = static_cast<LPARAM>(record->dispatcher_->DispatcherHandle) << 16;
    record->dispatcher_->RemoveWindowReceiver(window);
    SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(record.release()));
    PostMessageA(window, MsgFinishClose, 0, lParam);
  }

  // The record the window holds, or null for a component's live window.
  static TDetachedClose* Of(HWND window) {
    return reinterpret_cast<TDetachedClose*>(GetWindowLongPtrA(window, 0));
  }

  LRESULT Handle(UINT msg, LPARAM lParam) {
    if (msg != MsgFinishClose) return 0;
    if (dispatcher_->WorkerThreadsRunning()) {
      PostMessageA(window_, MsgFinishClose, 0, lParam);
      return 0;
    }
    const HWND window = window_;
    std::unique_ptr<TDetachedClose> self(this);
    SetWindowLongPtrA(window, 0, 0);
    self.reset();
    DestroyWindow(window);
    return 0;
  }

 private:
  TDetachedClose(std::unique_ptr<TSioBaseDispatcher> dispatcher, HWND window)
      : dispatcher_(std::move(dispatcher)), window_(window) {}

  std::unique_ptr<TSioBaseDispatcher> dispatcher_;
  HWND window_;
};

// --- The window ----------------------------------------------------------------

void TSioCustomComPort::SetupNotifyWindow(bool Create) {
  if (Create) {
    RegisterWindowClass(&TSioCustomComPort::WindowProc);
    notifyWindow_ = CreateWindowExA(0, kComWindowClass, "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    if (notifyWindow_ != 0 && dispatcher_) dispatcher_->AddWindowReceiver(notifyWindow_);
    return;
  }
  if (notifyWindow_ == 0) return;
  if (dispatcher_) dispatcher_->RemoveWindowReceiver(notifyWindow_);
  DestroyWindow(notifyWindow_);
  notifyWindow_ = 0;
}

LRESULT TSioCustomComPort::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!IsComWindowMessage(msg)) return DefWindowProcA(window, msg, wParam, lParam);
  if (TDetachedClose* detached = TDetachedClose::Of(window)) return detached->Handle(msg, lParam);
  // Handlers run under the registry's lock: no other thread opens or closes
  // a port meanwhile; this thread may (the lock is re-entrant).
  dispatcher::TSioRegistryLock registry;
  TSioBaseDispatcher* found = registry.Find(HandleOf(lParam));
  if (found == nullptr || found->OwnerPort == nullptr) return 0;
  TSioCustomComPort* port = found->OwnerPort;
  if (msg != MsgFinishClose && port->InConstruction()) {
    // The form's handlers may use fields its constructor has not set yet.
    port->HoldTrigger(msg, wParam, lParam);
    return 0;
  }
  if (port->openState_ == osClosing && msg != MsgFinishClose) {
    // A close under way may handle sent messages while it waits for the
    // workers; a handler run then could destroy the component under it.
    return 0;
  }
  if (port->polling_ > 0 && msg != MsgFinishClose) {
    // Taken inside CharAvailable, in the middle of some handler: answered
    // at once, raised when the loop gets to the copy.
    PostMessageA(window, msg, wParam, lParam);
    return 0;
  }
  TDeliveryFrame frame(port);
  try {
    port->HandleTriggerMessage(msg, wParam, lParam, frame);
  } catch (...) {
    if (GetCurrentThreadId() == GetMainThreadId())
      framework::HandleException(frame.destroyed ? nullptr : port);
  }
  return 0;
}

void TSioCustomComPort::HoldTrigger(UINT msg, WPARAM wParam, LPARAM lParam) {
  // An availability message carries a count, the others their trigger's
  // handle: the latest count stands for all before it.
  const auto same = std::find_if(heldTriggers_.begin(), heldTriggers_.end(), [&](const THeldTrigger& held) {
    return held.msg == msg && (msg == dispatcher::MsgTriggerAvail || held.wParam == wParam);
  });
  if (same != heldTriggers_.end()) {
    *same = THeldTrigger{msg, wParam, lParam};
  } else {
    heldTriggers_.push_back(THeldTrigger{msg, wParam, lParam});
  }
}

void TSioCustomComPort::HandleTriggerMessage(UINT msg, WPARAM wParam, LPARAM lParam,
                                             TDeliveryFrame& frame) {
  const Word handle = static_cast<Word>(wParam);
  const Word data = msg == dispatcher::MsgTriggerAvail ? handle : static_cast<Word>(lParam & 0xFFFF);
  FireTrigger(static_cast<Word>(msg), handle, data);
  if (frame.destroyed) return;
  switch (msg) {
    case dispatcher::MsgTriggerAvail: FireTriggerAvail(handle); break;
    case dispatcher::MsgTriggerData: FireTriggerData(handle); break;
    case dispatcher::MsgTriggerTimer: FireTriggerTimer(handle); break;
    case dispatcher::MsgTriggerStatus: RaiseStatusEvents(handle, frame); break;
    case MsgFinishClose: HandleFinishClose(lParam); break;
    default: break;
  }
}

void TSioCustomComPort::RaiseStatusEvents(Word TriggerHandle, TDeliveryFrame& frame) {
  FireTriggerStatus(TriggerHandle);
  if (frame.destroyed) return;
  switch (TriggerHandle & 7) {
    case kStatusModem: FireTriggerModemStatus(); break;
    case kStatusLineError: {
      const bool lineBreak = TakeLineBreak();
      FireTriggerLineError(TakeLineError(), lineBreak);
      break;
    }
    case kStatusOutbuffFree: FireTriggerOutbuffFree(); break;
    case kStatusOutbuffUsed: FireTriggerOutbuffUsed(); break;
    case kStatusOutSent: FireTriggerOutSent(); break;
    default: break;
  }
}

void TSioCustomComPort::HandleFinishClose(LPARAM lParam) {
  // A stray message (the close completed meanwhile, or the port opened
  // again) has nothing left to finish.
  if (openState_ != osClosing || !dispatcher_) return;
  if (dispatcher_->WorkerThreadsRunning()) {
    PostMessageA(notifyWindow_, MsgFinishClose, 0, lParam);
    return;
  }
  CompleteClose();
  if (std::exchange(reopenPending_, false)) OpenPort();
}

void TSioCustomComPort::DestroyWhileDelivering() {
  for (TDeliveryFrame* frame = delivery_; frame != nullptr; frame = frame->outer)
    frame->destroyed = true;
  delivery_ = nullptr;
  if (openState_ == osClosed) return;
  std::exception_ptr dumpFailure;
  if (openState_ == osOpen) {
    dumpFailure = DumpRecorders();
    openState_ = osClosing;
    dispatcher_->CloseLine();
  }
  HandOver();
  if (dumpFailure) std::rethrow_exception(dumpFailure);
}

void TSioCustomComPort::HandOver() {
  const HWND window = notifyWindow_;
  notifyWindow_ = 0;
  openState_ = osClosed;
  if (window != 0) {
    TDetachedClose::Start(std::move(dispatcher_), window);
  } else {
    dispatcher_.reset();
  }
}

// --- Events ----------------------------------------------------------------------

bool TSioCustomComPort::AnyTriggerEvent() const {
  return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ ||
         onTriggerLineError_ || onTriggerModemStatus_ || onTriggerOutbuffFree_ ||
         onTriggerOutbuffUsed_ || onTriggerOutSent_;
}

void TSioCustomComPort::UpdateHandlerState() {
  if (openState_ != osOpen) return;
  dispatcher_->UpdateHandlerFlags(AnyTriggerEvent() ? 1 : 2);
}

void TSioCustomComPort::ClearEvents() {
  // A handler still running is a copy on its Fire* frame (see there).
  onTrigger_ = nullptr;
  onTriggerAvail_ = nullptr;
  onTriggerData_ = nullptr;
  onTriggerStatus_ = nullptr;
  onTriggerTimer_ = nullptr;
  onTriggerLineError_ = nullptr;
  onTriggerModemStatus_ = nullptr;
  onTriggerOutbuffFree_ = nullptr;
  onTriggerOutbuffUsed_ = nullptr;
  onTriggerOutSent_ = nullptr;
  onWaitChar_ = nullptr;
}

void TSioCustomComPort::SetOnTrigger(TTriggerEvent value) {
  onTrigger_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent value) {
  onTriggerAvail_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerData(TTriggerDataEvent value) {
  onTriggerData_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerStatus(TTriggerStatusEvent value) {
  onTriggerStatus_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerTimer(TTriggerTimerEvent value) {
  onTriggerTimer_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent value) {
  onTriggerLineError_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerModemStatus(TNotifyEvent value) {
  onTriggerModemStatus_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent value) {
  onTriggerOutbuffFree_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent value) {
  onTriggerOutbuffUsed_ = std::move(value);
  UpdateHandlerState();
}
void TSioCustomComPort::SetOnTriggerOutSent(TNotifyEvent value) {
  onTriggerOutSent_ = std::move(value);
  UpdateHandlerState();
}

void TSioCustomComPort::FireTrigger(Word Msg, Word TriggerHandle, Word Data) {
  RaiseCopy(onTrigger_, this, Msg, TriggerHandle, Data);
}
void TSioCustomComPort::FireTriggerAvail(Word Count) { RaiseCopy(onTriggerAvail_, this, Count); }
void TSioCustomComPort::FireTriggerData(Word TriggerHandle) {
  RaiseCopy(onTriggerData_, this, TriggerHandle);
}
void TSioCustomComPort::FireTriggerStatus(Word TriggerHandle) {
  RaiseCopy(onTriggerStatus_, this, TriggerHandle);
}
void TSioCustomComPort::FireTriggerTimer(Word TriggerHandle) {
  RaiseCopy(onTriggerTimer_, this, TriggerHandle);
}
void TSioCustomComPort::FireTriggerLineError(Word Error, bool LineBreak) {
  RaiseCopy(onTriggerLineError_, this, Error, LineBreak);
}
void TSioCustomComPort::FireTriggerModemStatus() { RaiseCopy(onTriggerModemStatus_, this); }
void TSioCustomComPort::FireTriggerOutbuffFree() { RaiseCopy(onTriggerOutbuffFree_, this); }
void TSioCustomComPort::FireTriggerOutbuffUsed() { RaiseCopy(onTriggerOutbuffUsed_, this); }
void TSioCustomComPort::FireTriggerOutSent() { RaiseCopy(onTriggerOutSent_, this); }
void TSioCustomComPort::FireWaitChar(char C) { RaiseCopy(onWaitChar_, this, C); }

}  // namespace comport
