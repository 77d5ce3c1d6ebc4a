// The dispatch log's recording side: whole entries (a 16-byte header and
// its data) in a byte ring that discards its oldest entries to make room.
#include <algorithm>
#include <cstring>

#include "dispatcher/SioDispatch.h"

namespace dispatcher {

using platform::BYTE;
using platform::DWORD;

ResultCode TSioBaseDispatcher::StartLog(DWORD size) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (LogRing) {
    ClearLog();
  } else {
    if (size > MaxLogRingSize) return errors::ecBadArgument;
    LogRing = std::make_unique<BYTE[]>(size);
    LogScratch.assign(std::max(InQueueSize, OutQueueSize), 0);
    LogRingSize = size;
    LogHead = 0;
    LogTail = 0;
    LogFree = size;
  }
  LogOn.store(true);
  return errors::ecOK;
}

void TSioBaseDispatcher::ClearLog() {
  platform::CriticalSectionLock guard(DispatchLock);
  LogHead = 0;
  LogTail = 0;
  LogFree = LogRingSize;
}

void TSioBaseDispatcher::StopLog() {
  platform::CriticalSectionLock guard(DispatchLock);
  LogOn.store(false);
  LogRing.reset();
  LogScratch = {};
  LogRingSize = 0;
  LogHead = 0;
  LogTail = 0;
  LogFree = 0;
}

void TSioBaseDispatcher::ResumeLog() {
  platform::CriticalSectionLock guard(DispatchLock);
  if (LogRing) LogOn.store(true);
}

void TSioBaseDispatcher::PauseLog() {
  platform::CriticalSectionLock guard(DispatchLock);
  LogOn.store(false);
}

void TSioBaseDispatcher::LogCopyIn(const void* bytes, DWORD n) {
  const DWORD first = std::min(n, LogRingSize - LogHead);
  std::memcpy(LogRing.get() + LogHead, bytes, first);
  std::memcpy(LogRing.get(), static_cast<const BYTE*>(bytes) + first, n - first);
  LogHead = (LogHead + n) % LogRingSize;
  LogFree -= n;
}

void TSioBaseDispatcher::LogCopyOut(void* bytes, DWORD n) {
  const DWORD first = std::min(n, LogRingSize - LogTail);
  std::memcpy(bytes, LogRing.get() + LogTail, first);
  std::memcpy(static_cast<BYTE*>(bytes) + first, LogRing.get(), n - first);
  LogTail = (LogTail + n) % LogRingSize;
  LogFree += n;
}

void TSioBaseDispatcher::DiscardOldestLogEntry() {
  TLogEntryHeader header;
  LogCopyOut(&header, sizeof header);
  LogTail = static_cast<DWORD>((std::uint64_t{LogTail} + header.DataLength) % LogRingSize);
  LogFree += header.DataLength;
}

bool TSioBaseDispatcher::ReadLogEntry(TLogEntryHeader& header, std::vector<BYTE>& data) {
  if (LogFree == LogRingSize) return true;
  LogCopyOut(&header, sizeof header);
  if (data.size() < header.DataLength) data.resize(header.DataLength);
  LogCopyOut(data.data(), header.DataLength);
  return false;
}

bool TSioBaseDispatcher::AddLogEntry(BYTE type, BYTE subtype, std::int32_t value, const void* data,
                                     DWORD length) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (!LogOn.load(std::memory_order_relaxed) || !LogRing) return false;
  // Header and data are stored as one item: a header whose data could not
  // follow it would leave the ring unreadable.
  const std::uint64_t total = std::uint64_t{sizeof(TLogEntryHeader)} + length;
  if (total >= LogRingSize) return false;
  while (LogFree < total && LogFree != LogRingSize) DiscardOldestLogEntry();

  TLogEntryHeader header;
  header.EntryType = type;
  header.EntrySubtype = subtype;
  header.ElapsedMs = Clock() - TimeBase;
  header.DataValue = value;
  header.DataLength = length;
  LogCopyIn(&header, sizeof header);
  if (length > 0) LogCopyIn(data, length);
  return true;
}

}  // namespace dispatcher
