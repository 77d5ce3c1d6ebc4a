// The character trace: a ring of (kind, character) pairs recorded as the
// application takes or queues characters, written as text grouped by
// direction.
#include "dispatcher/SioDispatch.h"
#include "dispatcher/SioDumpFile.h"

namespace dispatcher {

using platform::BYTE;
using platform::DWORD;

namespace {

constexpr std::size_t kTraceLineWidth = 78;

std::string_view GroupHeader(char kind, std::string& scratch) {
  if (kind == TraceReceived) return "Receive: ";
  if (kind == TraceTransmitted) return "Transmit: ";
  scratch = std::string("Special-") + kind + ": ";
  return scratch;
}

}  // namespace

ResultCode TSioBaseDispatcher::StartTrace(DWORD capacity) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (TraceBuffer) {
    ClearTrace();
  } else {
    if (capacity > MaxTraceEntries) return errors::ecBadArgument;
    TraceCapacity = capacity;
    TraceHead = 0;
    TraceWrapped = false;
    if (capacity > 0) TraceBuffer = std::make_unique<BYTE[]>(std::size_t{capacity} * 2);
  }
  TraceOn.store(true);
  return errors::ecOK;
}

void TSioBaseDispatcher::AddTraceEntry(char kind, BYTE c) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (!TraceBuffer) return;
  BYTE* entry = TraceBuffer.get() + std::size_t(TraceHead) * 2;
  entry[0] = static_cast<BYTE>(kind);
  entry[1] = c;
  if (static_cast<DWORD>(++TraceHead) == TraceCapacity) {
    TraceHead = 0;
    TraceWrapped = true;
  }
}

ResultCode TSioBaseDispatcher::ClearTrace() {
  platform::CriticalSectionLock guard(DispatchLock);
  TraceHead = 0;
  TraceWrapped = false;
  return errors::ecOK;
}

void TSioBaseDispatcher::StopTrace() {
  platform::CriticalSectionLock guard(DispatchLock);
  TraceOn.store(false);
  TraceBuffer.reset();
}

void TSioBaseDispatcher::ResumeTrace() {
  platform::CriticalSectionLock guard(DispatchLock);
  if (TraceBuffer) TraceOn.store(true);
}

void TSioBaseDispatcher::PauseTrace() {
  platform::CriticalSectionLock guard(DispatchLock);
  TraceOn.store(false);
}

bool TSioBaseDispatcher::TraceHoldsEntries() {
  platform::CriticalSectionLock guard(DispatchLock);
  return TraceBuffer && (TraceHead != 0 || TraceWrapped);
}

ResultCode TSioBaseDispatcher::DumpTrace(const char* fileName, bool append, bool inHex, bool allHex) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (!TraceBuffer) return errors::ecOK;
  TraceOn.store(false);
  if (TraceHead == 0 && !TraceWrapped) {
    StopTrace();
    return errors::ecOK;
  }
  TDumpFile file;
  if (const ResultCode opened = file.Open(fileName, append); opened != errors::ecOK) {
    StopTrace();
    return opened;
  }

  // The earlier dump's last line has no line end: this one begins after a
  // blank line, as a group does after the one before it.
  if (file.Continues()) {
    file.EndLine();
    file.EndLine();
  }
  const TCharItems items(inHex, allHex);
  const std::size_t count = TraceWrapped ? TraceCapacity : static_cast<std::size_t>(TraceHead);
  const std::size_t start = TraceWrapped ? static_cast<std::size_t>(TraceHead) : 0;
  std::string scratch;
  int last = -1;
  std::size_t column = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const BYTE* entry = TraceBuffer.get() + ((start + i) % TraceCapacity) * 2;
    const BYTE kind = entry[0];
    if (kind != last) {
      if (last != -1) {
        // A blank line between groups.
        file.EndLine();
        file.EndLine();
      }
      file.Write(GroupHeader(static_cast<char>(kind), scratch));
      file.EndLine();
      column = 0;
      last = kind;
    }
    const std::string_view item = items.Item(entry[1]);
    column += item.size();
    if (column > kTraceLineWidth) {
      file.EndLine();
      column = item.size();
    }
    file.Write(item);
  }
  const ResultCode closed = file.Close();
  StopTrace();
  return closed;
}

}  // namespace dispatcher
