#include "platform/serial_port.h"

#include <algorithm>
#include <cstring>

#include "platform/last_error.h"
#include "platform/serial.h"
#include "platform/sync.h"

namespace platform {

namespace {

constexpr DWORD kKnownEvents = 0x3FFF;
constexpr DWORD kLineStatusErrors = CE_FRAME | CE_OVERRUN | CE_RXPARITY;

DWORD CheckControlBlock(const DCB& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      dcb.StopBits > TWOSTOPBITS) {
    return ERROR_INVALID_PARAMETER;
  }
  // A UART sends one and a half stop bits only with five data bits, and two
  // stop bits only with more than five.
  if ((dcb.StopBits == ONE5STOPBITS) != (dcb.ByteSize == 5) && dcb.StopBits != ONESTOPBIT) {
    return ERROR_INVALID_PARAMETER;
  }
  if ((dcb.Flags & (DCB_fOutX | DCB_fInX)) != 0 && dcb.XonChar == dcb.XoffChar) {
    return ERROR_INVALID_PARAMETER;
  }
  return 0;
}

}  // namespace

void SerialPort::ByteQueue::Reserve(std::size_t wanted) {
  if (wanted <= ring_.size()) return;
  std::size_t capacity = std::max<std::size_t>(ring_.size(), 256);
  while (capacity < wanted) capacity *= 2;
  std::vector<BYTE> grown(capacity);
  const std::size_t held = size_;
  Take(grown.data(), held);
  ring_ = std::move(grown);
  head_ = 0;
  size_ = held;
}

void SerialPort::ByteQueue::Append(std::span<const BYTE> bytes) {
  if (bytes.empty()) return;
  Reserve(size_ + bytes.size());
  const std::size_t mask = ring_.size() - 1;
  const std::size_t tail = (head_ + size_) & mask;
  const std::size_t first = std::min(bytes.size(), ring_.size() - tail);
  std::memcpy(ring_.data() + tail, bytes.data(), first);
  std::memcpy(ring_.data(), bytes.data() + first, bytes.size() - first);
  size_ += bytes.size();
}

void SerialPort::ByteQueue::Take(BYTE* out, std::size_t count) {
  if (count == 0) return;
  const std::size_t first = std::min(count, ring_.size() - head_);
  std::memcpy(out, ring_.data() + head_, first);
  std::memcpy(out + first, ring_.data(), count - first);
  head_ = (head_ + count) & (ring_.size() - 1);
  size_ -= count;
}

SerialPort::SerialPort(std::unique_ptr<SerialBackend> backend, bool overlapped, const DCB& initial)
    : backend_(std::move(backend)),
      overlapped_(overlapped),
      pulled_(backend_->Descriptor() >= 0),
      dcb_(initial) {}

SerialPort::~SerialPort() { backend_->Stop(); }

void SerialPort::PullInput() {
  if (pulled_) backend_->PullUnlessPulling();
}

BOOL SerialPort::OnClose() {
  {
    Lock lock(mutex_);
    if (closed_) return TRUE;
    closed_ = true;
    AbortAll(ERROR_OPERATION_ABORTED);
  }
  // Outside the lock: stopping joins the back end's threads, which may be
  // waiting for the lock to report something.
  backend_->Stop();
  return TRUE;
}

DWORD SerialPort::Unusable() const {
  if (closed_) return ERROR_INVALID_HANDLE;
  if (vanished_) return ERROR_ACCESS_DENIED;
  return 0;
}

BOOL SerialPort::Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL SerialPort::Finish(Lock& lock, OVERLAPPED* overlapped, DWORD* transferred, bool async) {
  if (overlapped->Internal == kPending) {
    if (async) return Fail(ERROR_IO_PENDING);
    lock.unlock();
    AwaitCompletion(overlapped);
    lock.lock();
  }
  if (transferred != nullptr) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
  if (overlapped->Internal != 0) return Fail(static_cast<DWORD>(overlapped->Internal));
  return TRUE;
}

BOOL SerialPort::SetupComm(DWORD inQueue, DWORD) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  // The buffer grows as bytes arrive; the size is the limit beyond which
  // received bytes are lost with CE_RXOVER. 0 keeps the current limit.
  if (inQueue != 0) inputCapacity_ = inQueue;
  return TRUE;
}

BOOL SerialPort::GetCommState(DCB* dcb) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *dcb = dcb_;
  return TRUE;
}

BOOL SerialPort::SetCommState(const DCB* dcb) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (DWORD error = CheckControlBlock(*dcb)) return Fail(error);
  if (DWORD error = backend_->ApplyState(*dcb)) return Fail(error);
  // The block as set is kept: a device that cannot show some setting (a
  // pseudo-terminal has no parity) still reports what the caller chose.
  dcb_ = *dcb;
  dcb_.DCBlength = sizeof(DCB);
  return TRUE;
}

BOOL SerialPort::GetCommTimeouts(COMMTIMEOUTS* timeouts) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *timeouts = timeouts_;
  return TRUE;
}

BOOL SerialPort::SetCommTimeouts(const COMMTIMEOUTS* timeouts) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (timeouts->ReadIntervalTimeout == MAXDWORD &&
      timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
      timeouts->ReadTotalTimeoutConstant == MAXDWORD) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  timeouts_ = *timeouts;
  return TRUE;
}

BOOL SerialPort::SetCommMask(DWORD mask) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if ((mask & ~kKnownEvents) != 0) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD error = backend_->ApplyEventMask(mask);
  // A new mask ends a pending wait with no events, refused or not.
  if (wait_) {
    *wait_->events = 0;
    Complete(wait_->overlapped, 0, 0);
    wait_.reset();
  }
  history_ = 0;
  mask_ = error == 0 ? mask : 0;
  return error == 0 ? TRUE : Fail(error);
}

BOOL SerialPort::GetCommMask(DWORD* mask) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if (mask == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *mask = mask_;
  return TRUE;
}

BOOL SerialPort::WaitCommEvent(DWORD* events, OVERLAPPED* overlapped) {
  OVERLAPPED local{};
  const bool async = overlapped_ && overlapped != nullptr;
  if (overlapped == nullptr) overlapped = &local;
  // Input that arrived while no wait was pending ends this one at once.
  PullInput();
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  // One wait at a time, and only with a mask to wait for.
  if (events == nullptr || mask_ == 0 || wait_) return Fail(ERROR_INVALID_PARAMETER);
  MarkPending(overlapped);
  if ((history_ & mask_) != 0) {
    *events = history_ & mask_;
    history_ = 0;
    Complete(overlapped, 0, 0, false);
  } else {
    wait_ = WaitOp{overlapped, events};
  }
  return Finish(lock, overlapped, nullptr, async);
}

BOOL SerialPort::ReadFile(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) {
  OVERLAPPED local{};
  const bool async = overlapped_ && overlapped != nullptr;
  if (overlapped == nullptr) overlapped = &local;
  PullInput();
  Lock lock(mutex_);
  if (read != nullptr) *read = 0;
  if (DWORD error = Unusable()) return Fail(error);
  if (abortedByError_) return Fail(ERROR_OPERATION_ABORTED);
  if (buffer == nullptr && count != 0) return Fail(ERROR_INVALID_PARAMETER);

  const COMMTIMEOUTS& t = timeouts_;
  const Clock::time_point now = Clock::now();
  ReadOp op{overlapped, static_cast<BYTE*>(buffer), count, std::nullopt, 0, false, now};
  const bool intervalOnly = t.ReadIntervalTimeout == MAXDWORD;
  if (intervalOnly && t.ReadTotalTimeoutMultiplier == MAXDWORD) {
    op.returnOnAny = true;
    op.totalDeadline = now + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
  } else if (intervalOnly && t.ReadTotalTimeoutMultiplier == 0 &&
             t.ReadTotalTimeoutConstant == 0) {
    op.totalDeadline = now;  // return at once with what has arrived
  } else {
    if (!intervalOnly) op.interval = t.ReadIntervalTimeout;
    const std::uint64_t total =
        std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
    if (total != 0) op.totalDeadline = now + std::chrono::milliseconds(total);
  }

  MarkPending(overlapped);
  if (reads_.empty() && ReadIsDue(op, now)) {
    CompleteRead(op, Ready(op), 0, false);
  } else {
    reads_.push_back(op);
    if (op.totalDeadline || op.interval != 0) backend_->DeadlineChanged();
  }
  return Finish(lock, overlapped, read, async);
}

std::size_t SerialPort::Ready(const ReadOp& op) const {
  return std::min<std::size_t>(op.count, input_.size());
}

bool SerialPort::ReadIsDue(const ReadOp& op, Clock::time_point now) const {
  const std::size_t available = input_.size();
  if (available >= op.count) return true;
  if (op.returnOnAny && available > 0) return true;
  if (op.totalDeadline && now >= *op.totalDeadline) return true;
  if (op.interval != 0 && available > 0) {
    const Clock::time_point last = std::max(lastArrival_, op.started);
    return now >= last + std::chrono::milliseconds(op.interval);
  }
  return false;
}

void SerialPort::CompleteRead(ReadOp& op, std::size_t count, DWORD error, bool queued) {
  input_.Take(op.buffer, count);
  Complete(op.overlapped, error, static_cast<DWORD>(count), queued);
}

void SerialPort::ServiceReads(Clock::time_point now) {
  while (!reads_.empty() && ReadIsDue(reads_.front(), now)) {
    ReadOp op = reads_.front();
    reads_.pop_front();
    CompleteRead(op, Ready(op), 0);
  }
}

BOOL SerialPort::WriteFile(const void* buffer, DWORD count, DWORD* written,
                           OVERLAPPED* overlapped) {
  OVERLAPPED local{};
  const bool async = overlapped_ && overlapped != nullptr;
  if (overlapped == nullptr) overlapped = &local;
  Lock lock(mutex_);
  if (written != nullptr) *written = 0;
  if (DWORD error = Unusable()) return Fail(error);
  if (abortedByError_) return Fail(ERROR_OPERATION_ABORTED);
  if (buffer == nullptr && count != 0) return Fail(ERROR_INVALID_PARAMETER);

  const BYTE* bytes = static_cast<const BYTE*>(buffer);
  WriteOp op{overlapped, std::vector<BYTE>(bytes, bytes + count)};
  MarkPending(overlapped);
  if (writes_.empty()) {
    std::size_t accepted = 0;
    if (count != 0) {
      if (DWORD error = backend_->Transmit(op.data, accepted)) {
        // A write refused at once does not signal its event.
        overlapped->Internal = error;
        return Fail(error);
      }
    }
    if (accepted == count) {
      Complete(overlapped, 0, count, false);
      RaiseEvents(EV_TXEMPTY);
      return Finish(lock, overlapped, written, async);
    }
    op.done = accepted;
  }
  writes_.push_back(std::move(op));
  backend_->WatchWritable(true);
  return Finish(lock, overlapped, written, async);
}

BOOL SerialPort::WriteFileNow(const void* buffer, DWORD count, DWORD* written) {
  Lock lock(mutex_);
  if (written != nullptr) *written = 0;
  if (DWORD error = Unusable()) return Fail(error);
  if (abortedByError_) return Fail(ERROR_OPERATION_ABORTED);
  if (buffer == nullptr && count != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (count == 0 || !writes_.empty()) return TRUE;
  std::size_t accepted = 0;
  if (DWORD error = backend_->Transmit(std::span(static_cast<const BYTE*>(buffer), count), accepted)) {
    return Fail(error);
  }
  if (written != nullptr) *written = static_cast<DWORD>(accepted);
  if (accepted == count) RaiseEvents(EV_TXEMPTY);
  return TRUE;
}

void SerialPort::ServiceWrites() {
  bool completed = false;
  while (!writes_.empty()) {
    WriteOp& op = writes_.front();
    std::size_t accepted = 0;
    const DWORD error =
        backend_->Transmit(std::span<const BYTE>(op.data).subspan(op.done), accepted);
    op.done += accepted;
    if (error == 0 && op.done < op.data.size()) break;
    Complete(op.overlapped, error, static_cast<DWORD>(op.done));
    writes_.pop_front();
    completed = true;
  }
  if (writes_.empty()) {
    backend_->WatchWritable(false);
    if (completed) RaiseEvents(EV_TXEMPTY);
  }
}

BOOL SerialPort::GetOverlappedResult(OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
  if (overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  Lock lock(mutex_);
  if (overlapped->Internal == kPending && !wait) {
    // A caller that only looks still finds done what the device has done.
    lock.unlock();
    PullInput();
    lock.lock();
    if (!closed_ && !vanished_) {
      if (!writes_.empty()) ServiceWrites();
      ServiceReads(Clock::now());
    }
    if (overlapped->Internal == kPending) return Fail(ERROR_IO_INCOMPLETE);
  }
  return Finish(lock, overlapped, transferred, false);
}

BOOL SerialPort::ClearCommError(DWORD* errors, COMSTAT* status) {
  PullInput();
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if (errors != nullptr) *errors = errors_;
  errors_ = 0;
  abortedByError_ = false;
  if (status != nullptr) {
    std::size_t queued = 0;
    for (const WriteOp& op : writes_) queued += op.data.size() - op.done;
    status->Flags = 0;
    status->cbInQue = static_cast<DWORD>(input_.size());
    status->cbOutQue = static_cast<DWORD>(queued) + backend_->OutputQueued();
  }
  return TRUE;
}

BOOL SerialPort::PurgeComm(DWORD flags) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  constexpr DWORD kAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
  if (flags == 0 || (flags & ~kAll) != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (DWORD error = backend_->Purge(flags)) return Fail(error);
  if (flags & PURGE_TXABORT) AbortWrites(ERROR_OPERATION_ABORTED);
  if (flags & PURGE_RXABORT) AbortReads(ERROR_OPERATION_ABORTED);
  if (flags & PURGE_RXCLEAR) input_.Clear();
  return TRUE;
}

BOOL SerialPort::EscapeCommFunction(DWORD function) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if (DWORD error = backend_->Escape(function)) return Fail(error);
  return TRUE;
}

BOOL SerialPort::GetCommModemStatus(DWORD* status) {
  Lock lock(mutex_);
  if (DWORD error = Unusable()) return Fail(error);
  if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (DWORD error = backend_->ModemStatus(*status)) return Fail(error);
  return TRUE;
}

void SerialPort::RaiseEvents(DWORD events) {
  events &= mask_;
  if (events == 0) return;
  if (wait_) {
    *wait_->events = events;
    Complete(wait_->overlapped, 0, 0);
    wait_.reset();
  } else {
    history_ |= events;
  }
}

void SerialPort::AbortReads(DWORD error) {
  for (ReadOp& op : reads_) Complete(op.overlapped, error, 0);
  reads_.clear();
}

void SerialPort::AbortWrites(DWORD error) {
  for (WriteOp& op : writes_) Complete(op.overlapped, error, static_cast<DWORD>(op.done));
  writes_.clear();
  backend_->WatchWritable(false);
}

void SerialPort::AbortAll(DWORD error) {
  AbortReads(error);
  AbortWrites(error);
  if (wait_) {
    *wait_->events = 0;
    Complete(wait_->overlapped, error, 0);
    wait_.reset();
  }
}

void SerialPort::DeliverInput(std::span<const BYTE> bytes, std::span<const std::size_t> marked,
                              DWORD lineErrors) {
  Lock lock(mutex_);
  if (closed_ || vanished_) return;
  const std::size_t before = input_.size();
  DWORD events = 0;
  std::size_t nextMark = 0;
  if (marked.empty() && (dcb_.Flags & DCB_fNull) == 0) {
    // Nothing to replace or drop: the bytes go in as one block.
    const std::size_t room = inputCapacity_ - std::min(inputCapacity_, input_.size());
    const std::size_t take = std::min(room, bytes.size());
    if (take < bytes.size()) lineErrors |= CE_RXOVER;
    input_.Append(bytes.first(take));
    if (take > 0) events |= EV_RXCHAR;
    if (take > 0 && std::memchr(bytes.data(), static_cast<BYTE>(dcb_.EvtChar), take) != nullptr) {
      events |= EV_RXFLAG;
    }
    bytes = {};
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool isMarked = nextMark < marked.size() && marked[nextMark] == i;
    if (isMarked) ++nextMark;
    BYTE byte = bytes[i];
    if (isMarked && (dcb_.Flags & DCB_fErrorChar)) byte = static_cast<BYTE>(dcb_.ErrorChar);
    if (byte == 0 && (dcb_.Flags & DCB_fNull)) continue;
    if (input_.size() >= inputCapacity_) {
      lineErrors |= CE_RXOVER;
      continue;
    }
    input_.Append({&byte, 1});
    events |= EV_RXCHAR;
    if (byte == static_cast<BYTE>(dcb_.EvtChar)) events |= EV_RXFLAG;
  }
  const Clock::time_point now = Clock::now();
  if (input_.size() > before) lastArrival_ = now;
  const std::size_t nearlyFull = inputCapacity_ - inputCapacity_ / 5;
  if (before < nearlyFull && input_.size() >= nearlyFull) events |= EV_RX80FULL;
  if (lineErrors & kLineStatusErrors) events |= EV_ERR;
  if (lineErrors & CE_BREAK) events |= EV_BREAK;
  errors_ |= lineErrors;
  RaiseEvents(events);
  ServiceReads(now);
  // A read with an interval time-out starts its clock with this input.
  if (input_.size() > before && !reads_.empty() && reads_.front().interval != 0) {
    backend_->DeadlineChanged();
  }
  if (lineErrors != 0 && (dcb_.Flags & DCB_fAbortOnError)) {
    // Until ClearCommError, reads and writes end with "aborted".
    abortedByError_ = true;
    AbortReads(ERROR_OPERATION_ABORTED);
    AbortWrites(ERROR_OPERATION_ABORTED);
  }
}

std::size_t SerialPort::InputRoom() {
  Lock lock(mutex_);
  return inputCapacity_ - std::min(inputCapacity_, input_.size());
}

void SerialPort::DeliverEvents(DWORD events) {
  Lock lock(mutex_);
  if (closed_ || vanished_) return;
  RaiseEvents(events);
}

void SerialPort::Writable() {
  Lock lock(mutex_);
  if (closed_ || vanished_) return;
  ServiceWrites();
}

void SerialPort::Vanished() {
  Lock lock(mutex_);
  if (closed_ || vanished_) return;
  vanished_ = true;
  AbortAll(ERROR_ACCESS_DENIED);
}

std::optional<std::chrono::steady_clock::time_point> SerialPort::NextDeadline() {
  Lock lock(mutex_);
  return NextDeadlineLocked();
}

std::optional<SerialPort::Clock::time_point> SerialPort::NextDeadlineLocked() const {
  if (closed_ || vanished_ || reads_.empty()) return std::nullopt;
  const ReadOp& op = reads_.front();
  std::optional<Clock::time_point> next = op.totalDeadline;
  if (op.interval != 0 && !input_.empty()) {
    const Clock::time_point due =
        std::max(lastArrival_, op.started) + std::chrono::milliseconds(op.interval);
    if (!next || due < *next) next = due;
  }
  return next;
}

void SerialPort::ServiceDeadlines() {
  Lock lock(mutex_);
  if (closed_ || vanished_) return;
  ServiceReads(Clock::now());
}
}  // namespace platform
