// The waiting half of the port object where no thread of its own moves
// data: a pending operation binds its event to the port, and the threads
// that wait for it drive the device (serial_port.h).
#include "platform/handles.h"
#include "platform/serial_port.h"

namespace platform {

void SerialPort::Start() {
  {
    std::lock_guard sync(detail::SyncMutex());
    progress_->port = weak_from_this();
  }
  backend_->Start(weak_from_this());
}

void SerialPort::MarkPending(OVERLAPPED* overlapped) {
  std::shared_ptr<detail::Event> event;
  if (overlapped->hEvent != 0) event = LookupHandleAs<detail::Event>(overlapped->hEvent);
  std::lock_guard sync(detail::SyncMutex());
  overlapped->Internal = kPending;
  overlapped->InternalHigh = 0;
  if (event) {
    event->ResetLocked();
    // Whoever waits for the event from now on drives this port.
    event->BindLocked(weak_from_this());
  }
}

void SerialPort::Complete(OVERLAPPED* overlapped, DWORD error, DWORD transferred, bool queued) {
  std::shared_ptr<detail::Event> event;
  if (overlapped->hEvent != 0) event = LookupHandleAs<detail::Event>(overlapped->hEvent);
  std::lock_guard sync(detail::SyncMutex());
  overlapped->Internal = error;
  overlapped->InternalHigh = transferred;
  if (event) {
    event->UnbindLocked(this);
    event->SetLocked();
  }
  // Only an operation that was queued can have a thread waiting for it in
  // AwaitCompletion; waking the port's other waiters for one that ends
  // within its own call costs each of them a round for nothing.
  if (queued) progress_->NotifyLocked();
}

void SerialPort::AwaitCompletion(const OVERLAPPED* overlapped) {
  std::unique_lock sync(detail::SyncMutex());
  detail::Waitable* watch[] = {progress_.get()};
  detail::WaitLocked(
      sync, watch, [&] { return overlapped->Internal != kPending; }, detail::Deadline(INFINITE));
}

bool SerialPort::BeginPoll(detail::DevicePoll& poll) {
  Lock lock(mutex_);
  if (closed_ || vanished_) return false;
  poll.descriptor = backend_->Descriptor();
  // A full receive buffer takes nothing from the device: watching for
  // input then would only spin.
  poll.input = input_.size() < inputCapacity_;
  // Output room goes to the back end's write helper alone, which runs
  // while writes wait for room: every thread that waits on the port (the
  // writer, the event watcher, the helper) woke at each drop of the
  // driver's queue and took turns at the port's lock to find the work done.
  poll.output = false;
  poll.due = NextDeadlineLocked();
  return true;
}

void SerialPort::EndPoll(const detail::DeviceReady& ready) {
  if (ready.input || ready.hangup) backend_->Pull(ready.hangup);
  Lock lock(mutex_);
  if (closed_ || vanished_) return;
  if (!reads_.empty()) ServiceReads(Clock::now());
}

}  // namespace platform
