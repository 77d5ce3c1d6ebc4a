// The waiting half of the port object on Windows, where it serves the fake
// device alone: completions set kernel32's events, and a blocking call
// sleeps on the port's condition variable (serial_port.h).
#include "platform/serial_port.h"
#include "platform/sync.h"

namespace platform {

void SerialPort::Start() { backend_->Start(weak_from_this()); }

void SerialPort::MarkPending(OVERLAPPED* overlapped) {
  overlapped->Internal = kPending;
  overlapped->InternalHigh = 0;
  if (overlapped->hEvent != 0) ResetEvent(overlapped->hEvent);
}

void SerialPort::Complete(OVERLAPPED* overlapped, DWORD error, DWORD transferred, bool) {
  overlapped->Internal = error;
  overlapped->InternalHigh = transferred;
  if (overlapped->hEvent != 0) SetEvent(overlapped->hEvent);
  done_.notify_all();
}

void SerialPort::AwaitCompletion(const OVERLAPPED* overlapped) {
  Lock lock(mutex_);
  done_.wait(lock, [&] { return overlapped->Internal != kPending; });
}

}  // namespace platform
