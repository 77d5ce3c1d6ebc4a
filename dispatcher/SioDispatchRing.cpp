// The input ring (reads, look-ahead, flush and the fill step), the output
// side (WriteBlock and the output counts) and the bookkeeping that makes
// reads non-destructive during a delivery of received data.
#include <algorithm>
#include <cstring>

#include "dispatcher/SioDispatch.h"
#include "platform/clock.h"

namespace dispatcher {

using platform::BYTE;
using platform::COMSTAT;
using platform::DWORD;

namespace {

std::int32_t Wrap(std::int32_t index) { return index >= InRingSize ? index - InRingSize : index; }

}  // namespace

std::int32_t TSioBaseDispatcher::InCount() const {
  if (InHead == InTail) return InputFull ? InRingSize : 0;
  const std::int32_t count = InHead - InTail;
  return count < 0 ? count + InRingSize : count;
}

std::int32_t TSioBaseDispatcher::ReadOffsetLocked() const {
  if (!InAvailDelivery) return 0;
  if (InReceiverCall) return ReceiverBase + TakenCount;
  return std::max(OutsideTaken, static_cast<std::int32_t>(MaxTakenCount));
}

void TSioBaseDispatcher::TakeLocked(std::int32_t n) {
  if (!InAvailDelivery) {
    InTail = Wrap(InTail + n);
    InputFull = false;
  } else if (InReceiverCall) {
    TakenCount += n;
  } else {
    OutsideTaken = ReadOffsetLocked() + n;
  }
}

bool TSioBaseDispatcher::CharAvailable() {
  platform::CriticalSectionLock guard(InputLock);
  return ReadOffsetLocked() < InCount();
}

std::int32_t TSioBaseDispatcher::UnreadCount() {
  platform::CriticalSectionLock guard(InputLock);
  return std::max(InCount() - ReadOffsetLocked(), 0);
}

ResultCode TSioBaseDispatcher::LookAhead(std::int32_t n, BYTE& c) {
  if (n < 1) return errors::ecBadArgument;
  platform::CriticalSectionLock guard(InputLock);
  if (n > InCount() || !InRing) return errors::ecBufferIsEmpty;
  c = InRing[(InTail + n - 1) % InRingSize];
  return errors::ecOK;
}

ResultCode TSioBaseDispatcher::ReadChar(BYTE& c) {
  platform::CriticalSectionLock guard(InputLock);
  const std::int32_t offset = ReadOffsetLocked();
  if (offset >= InCount() || !InRing) return errors::ecBufferIsEmpty;
  c = InRing[Wrap(InTail + offset)];
  TakeLocked(1);
  if (TraceOn.load(std::memory_order_relaxed)) TraceBlock(TraceReceived, &c, 1);
  return errors::ecOK;
}

ResultCode TSioBaseDispatcher::ReadBlock(void* buffer, std::int32_t n) {
  if (n < 0) return errors::ecBadArgument;
  if (n == 0) return 0;
  auto* out = static_cast<BYTE*>(buffer);
  {
    platform::CriticalSectionLock guard(InputLock);
    const std::int32_t offset = ReadOffsetLocked();
    if (n > InCount() - offset || !InRing) return errors::ecBufferIsEmpty;
    const std::int32_t start = Wrap(InTail + offset);
    const std::int32_t first = std::min(n, InRingSize - start);
    std::memcpy(out, InRing.get() + start, first);
    std::memcpy(out + first, InRing.get(), n - first);
    TakeLocked(n);
  }
  if (TraceOn.load(std::memory_order_relaxed)) TraceBlock(TraceReceived, out, n);
  return n;
}

ResultCode TSioBaseDispatcher::FlushInput() {
  platform::CriticalSectionLock guard(InputLock);
  const ResultCode result = DevicePurge(1);
  if (InAvailDelivery) {
    // The end of the delivery moves InTail past all that is unread now.
    // A full ring stays marked full until then: unmarked, it would look
    // empty to the receivers still reading and to the fill step.
    // The reader must not see them meanwhile either: the window's thread
    // reads during a delivery that waits for it to handle messages.
    FlushedCount = InCount();
    OutsideTaken = FlushedCount;
    if (InReceiverCall) TakenCount = std::max(FlushedCount - ReceiverBase, 0);
    MaxTakenCount = static_cast<DWORD>(FlushedCount);
  } else {
    InTail = InHead;
    TakenCount = 0;
    InputFull = false;
  }
  ResetDataMatches();
  return result;
}

void TSioBaseDispatcher::TraceBlock(char kind, const BYTE* data, std::int32_t n) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (!TraceOn.load(std::memory_order_relaxed)) return;
  for (std::int32_t i = 0; i < n; ++i) AddTraceEntry(kind, data[i]);
}

// ---- Delivery bookkeeping -------------------------------------------------------

void TSioBaseDispatcher::BeginDelivery(bool ofReceivedData) {
  platform::CriticalSectionLock guard(InputLock);
  MaxTakenCount = 0;
  TakenCount = 0;
  FlushedCount = 0;
  OutsideTaken = 0;
  ReceiverBase = 0;
  InReceiverCall = false;
  InAvailDelivery = ofReceivedData;
}

void TSioBaseDispatcher::BeginReceiverTakes() {
  platform::CriticalSectionLock guard(InputLock);
  TakenCount = 0;
  // What a flush in this delivery discarded is read by no receiver.
  ReceiverBase = std::max(OutsideTaken, FlushedCount);
  InReceiverCall = true;
}

void TSioBaseDispatcher::EndReceiverTakes() {
  platform::CriticalSectionLock guard(InputLock);
  MaxTakenCount = std::max(MaxTakenCount, static_cast<DWORD>(ReceiverBase + TakenCount));
  InReceiverCall = false;
}

DWORD TSioBaseDispatcher::EndDelivery() {
  platform::CriticalSectionLock guard(InputLock);
  const DWORD taken = std::max(MaxTakenCount, static_cast<DWORD>(OutsideTaken));
  if (InAvailDelivery) {
    InAvailDelivery = false;
    InTail = static_cast<std::int32_t>((InTail + taken) % InRingSize);
    if (taken > 0) InputFull = false;
  }
  TakenCount = 0;
  OutsideTaken = 0;
  ReceiverBase = 0;
  InReceiverCall = false;
  return taken;
}

// ---- Data to send ---------------------------------------------------------------

ResultCode TSioBaseDispatcher::WriteBlock(const void* buffer, std::int32_t n) {
  if (n == 0) return errors::ecOK;
  if (n < 0) return errors::ecBadArgument;
  std::int32_t queued = 0;
  ResultCode result = errors::ecOK;
  {
    platform::CriticalSectionLock guard(OutputLock);
    // After the buffers are released the device layer would write through
    // a ring that is gone; answer as the reads do.
    if (!OutRing) return errors::ecBufferIsEmpty;
    COMSTAT status;
    LineErrorBits.store(DeviceGetErrors(status) & LineErrorMask);
    StoreCommStatus(status);
    const std::int64_t room = std::int64_t{OutQueueSize} - status.cbOutQue;
    if (n > room) return errors::ecOutputBufferTooSmall;
    if (Rs485Active && !platform::IsWindowsNT()) {
      if (UartBase == 0) return errors::ecBaseAddressNotSet;
      SetRtsLine(1);
    }
    // Marked full only once the block is really going in, and unmarked when
    // the device refuses it: a full mark over an empty ring would send the
    // whole stale ring.
    const bool fills = n == room;
    if (fills) OutFull = true;
    if (DeviceWrite(buffer, n) <= 0) {
      if (fills) OutFull = false;
      result = errors::ecPutBlockFail;
      COMSTAT again;
      LineErrorBits.store(DeviceGetErrors(again) & LineErrorMask);
      StoreCommStatus(again);
    } else {
      queued = n;
    }
    OutputSent.store(true);
  }
  if (LogOn.load(std::memory_order_relaxed) || TraceOn.load(std::memory_order_relaxed)) {
    platform::CriticalSectionLock guard(DispatchLock);
    AddLogEntry(letDispatch, lstWriteCom, queued, buffer, static_cast<DWORD>(queued));
    TraceBlock(TraceTransmitted, static_cast<const BYTE*>(buffer), queued);
  }
  return result;
}

std::int32_t TSioBaseDispatcher::OutputPending() {
  platform::CriticalSectionLock guard(OutputLock);
  return static_cast<std::int32_t>(CollectLineErrors().cbOutQue);
}

std::int32_t TSioBaseDispatcher::OutputRoom() {
  platform::CriticalSectionLock guard(OutputLock);
  return static_cast<std::int32_t>(OutQueueSize - CollectLineErrors().cbOutQue);
}

ResultCode TSioBaseDispatcher::FlushOutput() { return DevicePurge(0); }

// ---- The fill step ----------------------------------------------------------------

std::int32_t TSioBaseDispatcher::ReadFromDevice(std::int32_t at, std::int32_t count) {
  std::int32_t got = DeviceRead(InRing.get() + at, count);
  if (got < 0) {
    got = 0;
    DeviceClearEvents(-1);
  }
  // A device that claims more than it was asked for cannot have written
  // past the request; never let the count run past the ring.
  got = std::min(got, count);
  LogDeviceRead(InRing.get() + at, got);
  return got;
}

void TSioBaseDispatcher::LogDeviceRead(const BYTE* data, std::int32_t count) {
  if (!LogOn.load(std::memory_order_relaxed)) return;
  AddLogEntry(letDispatch, lstReadCom, count, data, static_cast<DWORD>(count));
}

bool TSioBaseDispatcher::FillDispatchBuffer() {
  platform::CriticalSectionLock guard(InputLock);
  // A full ring reads nothing and leaves the backlog as the last read saw it.
  if (InputFull) return true;
  DeviceBacklog = false;
  if (!InRing) return false;
  const COMSTAT status = CollectLineErrors();
  const std::int64_t waiting = status.cbInQue;
  if (waiting == 0) return false;

  std::int32_t free = 0;
  std::int32_t first = 0;
  if (InHead == InTail) {
    free = InRingSize;
    first = InRingSize - InHead;
  } else if (InTail < InHead) {
    free = InTail + InRingSize - InHead;
    first = InRingSize - InHead;
  } else {
    free = first = InTail - InHead;
  }
  const auto wanted = static_cast<std::int32_t>(std::min<std::int64_t>(free, waiting));
  std::int32_t second = first < wanted ? wanted - first : 0;

  std::int32_t got = ReadFromDevice(InHead, first);
  InHead += got;
  if (got < first) second = 0;
  if (InHead == InRingSize) InHead = 0;
  if (second > 0) {
    const std::int32_t more = ReadFromDevice(InHead, second);
    InHead += more;
    got += more;
  }
  if (got > 0) FilledSinceAvail = true;
  if (got > 0 && InHead == InTail) {
    InputFull = true;
    FilledToFull = true;
  }
  // A step that moved nothing leaves no backlog: a device that reports
  // characters it does not give must not keep the dispatch thread spinning.
  DeviceBacklog = got > 0 && waiting > got;
  return true;
}

bool TSioBaseDispatcher::InputBacklog() {
  platform::CriticalSectionLock guard(InputLock);
  return DeviceBacklog && !InputFull;
}

}  // namespace dispatcher
