// The three worker threads of TSioWin32Dispatcher, their start and stop and
// the bookkeeping at the end of each.
#include <cstring>
#include <vector>

#include "device/SioWin32.h"
#include "framework/Exception.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/messages.h"
#include "platform/serial.h"
#include "platform/thread.h"

namespace device {

using platform::BYTE;
using platform::DWORD;
using platform::HANDLE;

namespace {

constexpr DWORD kEventMaskNT = 0x01F9;
constexpr DWORD kEventMaskWithRingEdge = 0x21F9;
constexpr DWORD kStartAckMs = 3000;

// Closes an event of a worker's own when the worker's body ends, however
// it ends.
class OwnEvent {
 public:
  OwnEvent() : handle_(platform::CreateEventA(nullptr, platform::TRUE, platform::FALSE, nullptr)) {}
  ~OwnEvent() {
    if (handle_ != 0) platform::CloseHandle(handle_);
  }
  OwnEvent(const OwnEvent&) = delete;
  OwnEvent& operator=(const OwnEvent&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

// ---- The common base ---------------------------------------------------------------

TSioDispatcherThread::TSioDispatcherThread(TSioWin32Dispatcher& owner, const TThreadEvents& events)
    : framework::TThread(false), Dispatcher(owner), Events(events) {}

void TSioDispatcherThread::SetPriorityStep(int step) {
  SetPriority(static_cast<framework::TThreadPriority>(step));
}

void TSioDispatcherThread::SynchronizedCall(platform::UINT message, platform::WPARAM wParam,
                                            platform::LPARAM lParam,
                                            const dispatcher::TTriggerMethod& method) {
  CallMessage = message;
  CallWParam = wParam;
  CallLParam = lParam;
  CallMethod = method;
  framework::TThread::Synchronize([this] { CallMethod(CallMessage, CallWParam, CallLParam); });
}

void TSioDispatcherThread::Execute() {
  try {
    Run();
  } catch (...) {
    Dispatcher.ReportThreadException(std::current_exception());
  }
  try {
    Dispatcher.ThreadEnded(*this);
  } catch (...) {
    Dispatcher.ReportThreadException(std::current_exception());
  }
}

// ---- TComThread ----------------------------------------------------------------------

void TComThread::Run() {
  const HANDLE device = Dispatcher.DeviceHandle.load();
  OwnEvent own;
  platform::OVERLAPPED overlapped;
  overlapped.hEvent = own.Get();
  DWORD mask = platform::IsWindowsNT() ? kEventMaskNT : kEventMaskWithRingEdge;
  platform::SetCommMask(device, mask);
  // Reads return at once with whatever has arrived.
  platform::COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = platform::MAXDWORD;
  platform::SetCommTimeouts(device, &timeouts);
  // Bytes that reached the device after the open's last look and before
  // the mask was armed raised no event: one pass now fetches them.
  platform::SetEvent(Events.CommEvent);
  platform::SetEvent(Events.ThreadAck);

  do {
    if (!WaitForEvent(mask, overlapped)) break;
    if (Dispatcher.StopRequested.load()) break;
    platform::SetEvent(Events.CommEvent);
    platform::WaitForSingleObject(Events.DispatchDone, platform::INFINITE);
  } while (!Dispatcher.StopRequested.load());
  platform::SetEvent(Events.ThreadAck);
}

bool TComThread::WaitForEvent(DWORD& mask, platform::OVERLAPPED& overlapped) {
  const HANDLE device = Dispatcher.DeviceHandle.load();
  EventBits = 0;
  if (!Dispatcher.DeviceWaitEvent(EventBits, overlapped)) {
    const DWORD error = platform::GetLastError();
    if (error == platform::ERROR_IO_PENDING) {
      DWORD unused = 0;
      if (!platform::GetOverlappedResult(device, &overlapped, &unused, platform::TRUE)) {
        return false;
      }
      platform::ResetEvent(overlapped.hEvent);
    } else if (error == platform::ERROR_INVALID_PARAMETER && (mask & platform::EV_RINGTE)) {
      // A driver that refuses the ring's trailing edge.
      mask = kEventMaskNT;
      platform::SetCommMask(device, mask);
      return true;
    } else {
      return true;
    }
  }
  // A wait that completes at once reports the events kept since the last
  // one; a ring among them counts as much as one that was waited for.
  Dispatcher.EventWord.store(EventBits);
  if (EventBits & (platform::EV_RINGTE | platform::EV_RING)) Dispatcher.RingSeen.store(true);
  return true;
}

// ---- TDispThread -----------------------------------------------------------------------

void TDispThread::Run() {
  platform::SetEvent(Events.ThreadAck);
  bool backlog = false;
  do {
    // Characters the last pass had no room for are fetched at once, not
    // at the next event or wake.
    bool event = true;
    if (!backlog) {
      event = platform::WaitForSingleObject(Events.CommEvent, Dispatcher.DispatchWakeMs) ==
              platform::WAIT_OBJECT_0;
    }
    if (Dispatcher.StopRequested.load()) {
      Dispatcher.ReleaseOnExit.store(true);
      return;
    }
    ++Dispatcher.DispatchPasses;
    // A wake without an event only has the timer and status triggers to
    // look at, unless the device still held characters when last asked:
    // that keeps the idle line's wake free of device calls.
    if (event || Dispatcher.CommStatusSnapshot().cbInQue > 0) Dispatcher.EventPass();
    Dispatcher.TimerPass();
    backlog = Dispatcher.InputBacklog();
  } while (!Dispatcher.StopRequested.load() && !Dispatcher.ClosePending.load());
  platform::SetEvent(Events.ThreadAck);
  Dispatcher.ReleaseOnExit.store(Dispatcher.ClosePending.load() || Dispatcher.StopRequested.load());
}

// ---- TOutThread --------------------------------------------------------------------------

void TOutThread::Run() {
  Overlapped = platform::OVERLAPPED{};
  Overlapped.hEvent = Events.OutputDone;
  platform::SetEvent(Events.ThreadAck);
  const HANDLE readyOrFlush[2] = {Events.OutputReady, Events.OutputFlush};
  do {
    const DWORD woke =
        platform::WaitForMultipleObjects(2, readyOrFlush, platform::FALSE, platform::INFINITE);
    if (woke == platform::WAIT_OBJECT_0) {
      if (Dispatcher.StopRequested.load()) return;
      while (WriteOneBlock()) {
      }
    } else if (woke == platform::WAIT_OBJECT_0 + 1) {
      Dispatcher.AcknowledgeFlush(Events.ThreadAck);
    } else {
      // The events are gone: nothing can wake this thread any more.
      return;
    }
  } while (!Dispatcher.StopRequested.load() && !Dispatcher.ClosePending.load());
}

bool TOutThread::WriteOneBlock() {
  TSioWin32Dispatcher& d = Dispatcher;
  const BYTE* block = nullptr;
  std::int32_t count = 0;
  {
    platform::CriticalSectionLock guard(d.OutputLock);
    if (!d.OutRing) return false;
    count = d.OutputRing().NextBlock();
    if (count == 0) return false;
    block = d.OutRing.get() + d.OutTail;
  }

  const HANDLE device = d.DeviceHandle.load();
  DWORD written = 0;
  if (platform::WriteFile(device, block, static_cast<DWORD>(count), &written, &Overlapped)) {
    platform::CriticalSectionLock guard(d.OutputLock);
    d.OutputRing().Advance(static_cast<std::int32_t>(std::min<DWORD>(written, count)));
    return true;
  }
  if (platform::GetLastError() != platform::ERROR_IO_PENDING) {
    // Refused at once: the block is dropped.
    platform::CriticalSectionLock guard(d.OutputLock);
    d.OutputRing().Advance(count);
    return true;
  }
  const HANDLE doneOrFlush[2] = {Events.OutputDone, Events.OutputFlush};
  const DWORD woke =
      platform::WaitForMultipleObjects(2, doneOrFlush, platform::FALSE, platform::INFINITE);
  if (woke == platform::WAIT_OBJECT_0) {
    // A completion that cannot be read leaves the block to be written again.
    if (platform::GetOverlappedResult(device, &Overlapped, &written, platform::FALSE)) {
      platform::CriticalSectionLock guard(d.OutputLock);
      d.OutputRing().Advance(static_cast<std::int32_t>(std::min<DWORD>(written, count)));
      platform::ResetEvent(Events.OutputDone);
    }
    return true;
  }
  if (woke == platform::WAIT_OBJECT_0 + 1) Dispatcher.AcknowledgeFlush(Events.ThreadAck);
  return false;
}

// ---- The output ring -------------------------------------------------------------------------

std::int32_t TOutputRing::NextBlock() {
  if (!Full && Head == Tail) return 0;
  if (Tail < Head) return Head - Tail;
  if (Head == 0) return Size - Tail;
  // The data wraps: make it contiguous in place, so that it leaves in one
  // write in the order it was queued.
  std::vector<BYTE> front(Ring, Ring + Head);
  std::memmove(Ring, Ring + Tail, Size - Tail);
  std::memcpy(Ring + (Size - Tail), front.data(), front.size());
  const std::int32_t count = Head + Size - Tail;
  // A full ring fills all of it: its head is then at the start again, not
  // one past the end (where every round would send the whole ring anew).
  Head = count % Size;
  Tail = 0;
  return count;
}

void TOutputRing::Advance(std::int32_t n) {
  // A write that moved nothing must not make a full ring look empty.
  if (n <= 0) return;
  Tail += n;
  if (Tail >= Size) Tail = 0;
  if (Tail == Head) {
    Tail = 0;
    Head = 0;
  }
  Full = false;
}

TOutputRing TSioWin32Dispatcher::OutputRing() {
  return TOutputRing{OutRing.get(), static_cast<std::int32_t>(OutQueueSize), OutHead, OutTail, OutFull};
}

void TSioWin32Dispatcher::AcknowledgeFlush(HANDLE ack) {
  ++FlushesAnswered;
  platform::SetEvent(ack);
}

// ---- Start and stop -------------------------------------------------------------------------

template <class T>
void TSioWin32Dispatcher::StartOne(OwnedThread& slot, dispatcher::TSioDispatcherThread*& reference,
                                   const TThreadEvents& events) {
  // Counted before the thread exists: one that ends at once must not bring
  // the count to 0 while the others are still to come.
  ++ActiveThreads;
  try {
    slot = framework::TThread::New<T>(*this, events);
  } catch (...) {
    --ActiveThreads;
    throw;
  }
  reference = slot.get();
  platform::WaitForSingleObject(events.ThreadAck, kStartAckMs);
}

void TSioWin32Dispatcher::StartThreads() {
  platform::CriticalSectionLock guard(DispatchLock);
  if (ThreadsStarted.load()) throw framework::Exception("Dispatcher already started");
  ReapEndedThreads();
  ThreadsStarted.store(true);
  StopRequested.store(false);
  ReleaseOnExit.store(false);
  TThreadEvents events;
  events.CommEvent = CommEvent.load();
  events.DispatchDone = DispatchDone.load();
  events.ThreadAck = ThreadAck.load();
  events.OutputReady = OutputReady.load();
  events.OutputDone = OutputDone.load();
  events.OutputFlush = OutputFlush.load();
  StartOne<TComThread>(ComThreadObject, ComThread, events);
  StartOne<TDispThread>(DispThreadObject, DispThread, events);
  StartOne<TOutThread>(OutThreadObject, OutThread, events);
  ApplyThreadPriorities();
}

void TSioWin32Dispatcher::StopThreads() {
  std::unique_lock lock(DispatchLock);
  // Workers that all ended by themselves (the close told them to) still
  // have to be joined and their events closed.
  if (!ThreadsStarted.load() && !ComThreadObject && !DispThreadObject && !OutThreadObject) return;
  StopRequested.store(true);
  if (OutThreadObject) platform::SetEvent(OutputFlush.load());
  AwaitThread(OutThreadObject, lock);
  if (ComThreadObject) {
    platform::SetCommMask(DeviceHandle.load(), 0);
    platform::SetEvent(DispatchDone.load());
    platform::ResetEvent(ThreadAck.load());
  }
  AwaitThread(ComThreadObject, lock);
  // Wakes the dispatch thread now rather than at its next 50 ms round.
  if (DispThreadObject) platform::SetEvent(CommEvent.load());
  AwaitThread(DispThreadObject, lock);
  CloseThreadEvents();
}

bool TSioWin32Dispatcher::OnWorkerThread(const OwnedThread& slot) const {
  return slot && slot->ThreadID() == platform::GetCurrentThreadId();
}

void TSioWin32Dispatcher::AwaitThread(OwnedThread& slot,
                                      std::unique_lock<platform::CriticalSection>& lock) {
  if (!slot || OnWorkerThread(slot)) return;
  const HANDLE thread = slot->Handle();
  // DispatchLock is left while waiting: the worker may need it to finish
  // the step it is in (a modem read, a delivery).
  lock.unlock();
  // Messages sent to this thread (trigger messages, synchronized calls) are
  // what a worker may be waiting for; posted ones wait for the caller's loop.
  // Only sent ones are taken: a sent message withdrawn by its sender's
  // limit between the wake and the look must not let a posted one through.
  while (platform::MsgWaitForMultipleObjects(1, &thread, platform::FALSE, platform::INFINITE,
                                             platform::QS_SENDMESSAGE) ==
         platform::WAIT_OBJECT_0 + 1) {
    platform::MSG message;
    platform::PeekMessageA(&message, 0, 0, 0, platform::PM_NOREMOVE);
  }
  lock.lock();
  // Another stop (the dispatch thread's own) may have joined it already.
  OwnedThread ended = std::move(slot);
  lock.unlock();
  ended.reset();
  lock.lock();
}

void TSioWin32Dispatcher::ReapEndedThreads() {
  for (OwnedThread* slot : {&ComThreadObject, &DispThreadObject, &OutThreadObject}) {
    if (*slot && platform::WaitForSingleObject((*slot)->Handle(), 0) == platform::WAIT_OBJECT_0) {
      slot->reset();
    }
  }
}

void TSioWin32Dispatcher::ReleaseBuffers() {
  StopThreads();
  TSioBaseDispatcher::ReleaseBuffers();
}

void TSioWin32Dispatcher::ThreadEnded(TSioDispatcherThread& thread) {
  bool isDispatchThread = false;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    isDispatchThread = DispThread == &thread;
  }
  // The release runs before this thread is forgotten, so a stop that waits
  // for it finds the buffers released when it goes on.
  if (isDispatchThread && ReleaseOnExit.exchange(false)) ReleaseBuffers();
  {
    platform::CriticalSectionLock guard(DispatchLock);
    if (ComThread == &thread) ComThread = nullptr;
    if (DispThread == &thread) DispThread = nullptr;
    if (OutThread == &thread) OutThread = nullptr;
  }
  if (--ActiveThreads == 0) ThreadsStarted.store(false);
}

}  // namespace device
