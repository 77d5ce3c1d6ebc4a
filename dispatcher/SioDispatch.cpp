// The dispatcher registry, construction and destruction, status and option
// operations, thread priorities and the release of the buffers.
#include "dispatcher/SioDispatch.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"

namespace dispatcher {

using platform::BYTE;
using platform::COMSTAT;
using platform::DWORD;

namespace {

// The registry lives for the whole process; an entry is a dispatcher or a
// hole left by one that was destroyed, so handles are reused lowest first.
struct Registry {
  platform::CriticalSection lock;
  std::vector<TSioBaseDispatcher*> entries TESMAR_GUARDED_BY(lock);
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::int32_t Register(TSioBaseDispatcher* dispatcher) {
  Registry& registry = TheRegistry();
  platform::CriticalSectionLock guard(registry.lock);
  auto hole = std::find(registry.entries.begin(), registry.entries.end(), nullptr);
  if (hole != registry.entries.end()) {
    *hole = dispatcher;
    return static_cast<std::int32_t>(hole - registry.entries.begin());
  }
  registry.entries.push_back(dispatcher);
  return static_cast<std::int32_t>(registry.entries.size() - 1);
}

void Unregister(std::int32_t handle) {
  Registry& registry = TheRegistry();
  platform::CriticalSectionLock guard(registry.lock);
  if (handle < 0 || handle >= static_cast<std::int32_t>(registry.entries.size())) return;
  registry.entries[handle] = nullptr;
  while (!registry.entries.empty() && registry.entries.back() == nullptr) registry.entries.pop_back();
}

constexpr int kTimeCriticalStep = 6;
constexpr int kNormalStep = 3;

int PriorityStep(int boost, int extra) {
  return std::min(kNormalStep + boost + extra, kTimeCriticalStep);
}

}  // namespace

DWORD MillisecondClock() {
  std::int64_t frequency = 0;
  std::int64_t count = 0;
  if (platform::QueryPerformanceFrequency(&frequency) && frequency >= 1000 &&
      platform::QueryPerformanceCounter(&count)) {
    const std::int64_t ticksPerMs = (frequency + 500) / 1000;
    return static_cast<DWORD>(static_cast<std::uint64_t>(count / ticksPerMs));
  }
  return platform::timeGetTime();
}

// The guard holds the lock from its construction to its destruction, which
// the analysis cannot follow across functions; Find runs only in between.
TSioRegistryLock::TSioRegistryLock() TESMAR_NO_THREAD_SAFETY_ANALYSIS { TheRegistry().lock.Enter(); }

TSioRegistryLock::~TSioRegistryLock() TESMAR_NO_THREAD_SAFETY_ANALYSIS { TheRegistry().lock.Leave(); }

TSioBaseDispatcher* TSioRegistryLock::Find(std::int32_t handle) const TESMAR_NO_THREAD_SAFETY_ANALYSIS {
  const Registry& registry = TheRegistry();
  if (handle < 0 || handle >= static_cast<std::int32_t>(registry.entries.size())) return nullptr;
  return registry.entries[handle];
}

TSioBaseDispatcher* TSioBaseDispatcher::FindDispatcher(std::int32_t handle) {
  TSioRegistryLock lock;
  return lock.Find(handle);
}

TSioBaseDispatcher::TSioBaseDispatcher(comport::TSioCustomComPort* owner)
    : OwnerPort(owner), DispatcherHandle(Register(this)), Clock(&MillisecondClock) {}

TSioBaseDispatcher::~TSioBaseDispatcher() {
  Unregister(DispatcherHandle);
  // The lists, rings, trace and log go with their owners; the locks last.
}

void TSioBaseDispatcher::CloseForDestruction() {
  if (ClosePending.load()) {
    ReleaseBuffers();
  } else {
    CloseLine();
  }
}

void TSioBaseDispatcher::CloseLine() {
  if (DeviceHandle >= 0) {
    FlushOutput();
    FlushInput();
    DeviceClose();
  }
  if (Dispatching.load()) {
    // A receiver closed the port from inside a delivery: the dispatch
    // thread frees the buffers when it leaves the delivery and ends.
    ClosePending.store(true);
    return;
  }
  ReleaseBuffers();
}

void TSioBaseDispatcher::ReleaseBuffers() {
  if (ThreadsStarted.load()) StopThreads();
  {
    platform::CriticalSectionLock guard(OutputLock);
    OutRing.reset();
  }
  platform::CriticalSectionLock guard(InputLock);
  InRing.reset();
}

void TSioBaseDispatcher::AllocateBuffers(DWORD inQueueSize, DWORD outQueueSize) {
  {
    platform::CriticalSectionLock guard(OutputLock);
    OutRing = std::make_unique<BYTE[]>(outQueueSize);
    OutHead = 0;
    OutTail = 0;
    OutFull = false;
    OutQueueSize = outQueueSize;
  }
  {
    platform::CriticalSectionLock guard(InputLock);
    InRing = std::make_unique<BYTE[]>(InRingSize);
    InHead = 0;
    InTail = 0;
    InputFull = false;
    FilledToFull = false;
    FilledSinceAvail = false;
    DeviceBacklog = false;
    TakenCount = 0;
    MaxTakenCount = 0;
    InReceiverCall = false;
    ReceiverBase = 0;
    OutsideTaken = 0;
    InAvailDelivery = false;
    InQueueSize = inQueueSize;
  }
  platform::CriticalSectionLock guard(DispatchLock);
  LineErrorBits.store(0);
  OutputSent.store(false);
  ClosePending.store(false);
  Rs485Active = false;
  UartBase = 0;
  DataScanPos = 0;
  AvailNotifyPos = 0;
}

void TSioBaseDispatcher::ResetRecorders() {
  platform::CriticalSectionLock guard(DispatchLock);
  StopTrace();
  StopLog();
  TimeBase = Clock();
}

// ---- Status -----------------------------------------------------------------

void TSioBaseDispatcher::StoreCommStatus(const COMSTAT& status) {
  platform::CriticalSectionLock guard(StatusLock);
  CommStatus = status;
}

COMSTAT TSioBaseDispatcher::CommStatusSnapshot() {
  platform::CriticalSectionLock guard(StatusLock);
  return CommStatus;
}

COMSTAT TSioBaseDispatcher::CollectLineErrors() {
  // The status is read into a local record first: the fill step (dispatch
  // thread) and the output counts (window's thread) both refresh it, each
  // under a different lock, and each goes on with its own reading.
  COMSTAT status;
  const DWORD bits = DeviceGetErrors(status);
  LineErrorBits.fetch_or(bits & LineErrorMask);
  StoreCommStatus(status);
  return status;
}

BYTE TSioBaseDispatcher::ReadModemStatus(BYTE keepMask) {
  platform::CriticalSectionLock guard(DispatchLock);
  ModemBits = (DeviceModemStatus() & 0xF0) | (ModemBits & 0x0F);
  if (RingSeen.exchange(false)) ModemBits |= ModemTrailingRing;
  const BYTE result = static_cast<BYTE>(ModemBits & 0xFF);
  ModemBits &= keepMask;
  return result;
}

void TSioBaseDispatcher::UpdateModemDeltas() {
  platform::CriticalSectionLock guard(DispatchLock);
  const DWORD old = ModemBits & 0xFF;
  ReadModemStatus(0xFF);
  ModemBits |= ((ModemBits ^ old) & 0xF0) >> 4;
}

std::int32_t TSioBaseDispatcher::TakeLineError() {
  platform::CriticalSectionLock guard(DispatchLock);
  // Compare-and-swap, because the fill step may OR in a new bit meanwhile;
  // it must not be cleared without being reported.
  DWORD bits = LineErrorBits.load();
  for (;;) {
    std::int32_t code = 0;
    if (bits & LineErrorOverflow) code = 1;
    else if (bits & LineErrorOverrun) code = 2;
    else if (bits & LineErrorParity) code = 3;
    else if (bits & LineErrorFraming) code = 4;
    else if (bits & LineErrorBreak) code = 9;
    if (code == 0) return 0;
    const DWORD cleared = bits & ~DWORD{0x0F};
    if (LineErrorBits.compare_exchange_weak(bits, cleared)) return code;
  }
}

bool TSioBaseDispatcher::TakeLineBreak() {
  platform::CriticalSectionLock guard(DispatchLock);
  return (LineErrorBits.fetch_and(~LineErrorBreak) & LineErrorBreak) != 0;
}

ResultCode TSioBaseDispatcher::SetDtrLine(BYTE level) {
  if (DtrAutomatic) return 1;
  const ResultCode result = DeviceEscape(level == 1 ? platform::SETDTR : platform::CLRDTR);
  DtrLevel = level != 0;
  return result < 0 ? errors::ecBadArgument : result;
}

ResultCode TSioBaseDispatcher::SetRtsLine(BYTE level) {
  if (RtsAutomatic) return 1;
  const ResultCode result = DeviceEscape(level == 1 ? platform::SETRTS : platform::CLRRTS);
  RtsLevel = level != 0;
  return result < 0 ? errors::ecBadArgument : result;
}

// ---- Options and threads ------------------------------------------------------

void TSioBaseDispatcher::SetOptionBits(DWORD bits) {
  platform::CriticalSectionLock guard(DispatchLock);
  OptionBits |= bits;
}

void TSioBaseDispatcher::ClearOptionBits(DWORD bits) {
  platform::CriticalSectionLock guard(DispatchLock);
  OptionBits &= ~bits;
}

DWORD TSioBaseDispatcher::OptionBitsValue() {
  platform::CriticalSectionLock guard(DispatchLock);
  return OptionBits;
}

void TSioBaseDispatcher::SetThreadBoost(BYTE boost) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (boost == ThreadBoost) return;
  ThreadBoost = boost;
  ApplyThreadPriorities();
}

void TSioBaseDispatcher::ApplyThreadPriorities() {
  if (ComThread) ComThread->SetPriorityStep(PriorityStep(ThreadBoost, 0));
  if (DispThread) DispThread->SetPriorityStep(PriorityStep(ThreadBoost, 0));
  if (OutThread) OutThread->SetPriorityStep(PriorityStep(ThreadBoost, Rs485Active ? 1 : 0));
}

}  // namespace dispatcher
