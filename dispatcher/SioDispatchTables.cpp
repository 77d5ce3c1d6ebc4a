// The receiver lists, the handler flags, the trigger tables and the saved
// trigger sets.
#include <algorithm>

#include "dispatcher/SioDispatch.h"
#include "platform/sync.h"

namespace dispatcher {

using platform::DWORD;
using platform::WORD;

namespace {

// Log values are 32 bits; a window handle is logged by its low half.
std::int32_t LogValue(platform::HWND window) { return static_cast<std::int32_t>(window); }

template <typename Table>
auto FindHandle(Table& table, std::int32_t handle) {
  return std::find_if(table.begin(), table.end(),
                      [handle](const auto& trigger) { return trigger.TriggerHandle == handle; });
}

// The handle serial that follows every handle of a table.
template <typename Table>
std::int32_t NextSerialAbove(const Table& table) {
  std::int32_t next = 1;
  for (const auto& trigger : table) next = std::max(next, (trigger.TriggerHandle >> 3) + 1);
  return next;
}

}  // namespace

// ---- Handler flags and receivers ------------------------------------------------

void TSioBaseDispatcher::UpdateDeliveryWantedLocked(int mode) {
  const bool others = WindowReceivers.size() > 1 || !ProcedureReceivers.empty() ||
                      !MethodReceivers.empty();
  switch (mode) {
    case 0:
      DeliveryWanted.store(others || ComponentListening.load());
      break;
    case 1:
      ComponentListening.store(true);
      DeliveryWanted.store(true);
      break;
    case 2:
      ComponentListening.store(false);
      DeliveryWanted.store(others);
      break;
    default:
      break;
  }
}

void TSioBaseDispatcher::UpdateHandlerFlags(int mode) {
  platform::CriticalSectionLock guard(DispatchLock);
  UpdateDeliveryWantedLocked(mode);
}

template <typename List, typename Match>
bool TSioBaseDispatcher::RemoveReceiverLocked(List& list, Match match) {
  auto found = std::find_if(list.begin(), list.end(), [&match](const auto& receiver) {
    return !receiver.Removed && match(receiver);
  });
  if (found == list.end()) return false;
  if (Dispatching.load()) {
    // The delivery in progress walks this list; the entry goes when it ends.
    found->Removed = true;
    HandlerRemovalPending.store(true);
  } else {
    list.erase(found);
  }
  return true;
}

void TSioBaseDispatcher::AddWindowReceiver(platform::HWND window) {
  platform::CriticalSectionLock guard(DispatchLock);
  WindowReceivers.push_back({window, false});
  DeliveryWanted.store(true);
  AddLogEntry(letTrgHdAlc, lstWindow, LogValue(window), nullptr, 0);
}

void TSioBaseDispatcher::RemoveWindowReceiver(platform::HWND window) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (RemoveReceiverLocked(WindowReceivers, [window](const TWindowReceiver& receiver) {
        return receiver.Window == window;
      })) {
    AddLogEntry(letTrgHdDsp, lstWindow, LogValue(window), nullptr, 0);
  }
  // Also after a removal: without it, deliveries would go on for nobody.
  if (!Dispatching.load()) UpdateDeliveryWantedLocked(0);
}

ResultCode TSioBaseDispatcher::AddProcedureReceiver(TTriggerProcedure procedure) {
  if (procedure == nullptr) return errors::ecBadArgument;
  platform::CriticalSectionLock guard(DispatchLock);
  ProcedureReceivers.push_back({procedure, false});
  UpdateDeliveryWantedLocked(0);
  AddLogEntry(letTrgHdAlc, lstProcedure, 0, nullptr, 0);
  return errors::ecOK;
}

ResultCode TSioBaseDispatcher::RemoveProcedureReceiver(TTriggerProcedure procedure) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (!RemoveReceiverLocked(ProcedureReceivers, [procedure](const TProcedureReceiver& receiver) {
        return receiver.Procedure == procedure;
      })) {
    return errors::ecBadTriggerHandle;
  }
  AddLogEntry(letTrgHdDsp, lstProcedure, 0, nullptr, 0);
  if (!Dispatching.load()) UpdateDeliveryWantedLocked(0);
  return errors::ecOK;
}

ResultCode TSioBaseDispatcher::AddMethodReceiver(TTriggerMethod method, bool synchronized) {
  if (!method) return errors::ecBadArgument;
  platform::CriticalSectionLock guard(DispatchLock);
  const std::int32_t id = NextReceiverId++;
  MethodReceivers.push_back({std::move(method), false, synchronized, id});
  UpdateDeliveryWantedLocked(0);
  AddLogEntry(letTrgHdAlc, lstMethod, id, nullptr, 0);
  return id;
}

ResultCode TSioBaseDispatcher::RemoveMethodReceiver(std::int32_t receiverId) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (!RemoveReceiverLocked(MethodReceivers, [receiverId](const TMethodReceiver& receiver) {
        return receiver.ReceiverId == receiverId;
      })) {
    return errors::ecBadTriggerHandle;
  }
  AddLogEntry(letTrgHdDsp, lstMethod, receiverId, nullptr, 0);
  if (!Dispatching.load()) UpdateDeliveryWantedLocked(0);
  return errors::ecOK;
}

// ---- Trigger tables ---------------------------------------------------------------

void TSioBaseDispatcher::SetAvailLength(DWORD length) {
  platform::CriticalSectionLock guard(DispatchLock);
  AvailLength = length;
  AddLogEntry(letTrDatChg, lstChgAvail, static_cast<std::int32_t>(length), nullptr, 0);
}

DWORD TSioBaseDispatcher::AvailLengthValue() {
  platform::CriticalSectionLock guard(DispatchLock);
  return AvailLength;
}

std::int32_t TSioBaseDispatcher::NewTriggerHandle(DWORD kind) {
  return NextTriggerHandle++ << 3 | static_cast<std::int32_t>(kind & 7);
}

ResultCode TSioBaseDispatcher::AddDataTrigger(std::string_view pattern, bool ignoreCase) {
  if (pattern.empty()) return errors::ecBadArgument;
  if (pattern.size() > MaxDataTriggerLength) return errors::ecTriggerTooLong;
  platform::CriticalSectionLock guard(DispatchLock);
  if (DataTriggerList.size() >= MaxTriggersPerTable) return errors::ecNoMoreTriggerSlots;
  TDataTrigger trigger;
  trigger.TriggerHandle = NewTriggerHandle(0);
  trigger.PatternLength = static_cast<std::int32_t>(pattern.size());
  trigger.IgnoreCase = ignoreCase ? 1 : 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const auto c = static_cast<platform::BYTE>(pattern[i]);
    trigger.Pattern[i] = static_cast<char>(ignoreCase ? UpperCase(c) : c);
  }
  DataTriggerList.push_back(trigger);
  AddLogEntry(letTrigAllc, lstChgData, trigger.TriggerHandle, pattern.data(),
              static_cast<DWORD>(pattern.size()));
  return trigger.TriggerHandle;
}

void TSioBaseDispatcher::StartTimer(TEventTimer& timer, DWORD milliseconds) {
  const auto now = static_cast<std::int32_t>(Clock() / MsPerTimerTick);
  // It fires on the first tick past ExpireTick: with the ticks rounded up,
  // never before its time, at most two ticks after it.
  const auto ticks = static_cast<std::int32_t>((std::uint64_t{milliseconds} + MsPerTimerTick - 1) /
                                               MsPerTimerTick);
  timer.StartTick = now;
  // A whole clock cycle (49.7 days) is the longest time a timer can tell.
  timer.ExpireTick = now + std::min<std::int32_t>(ticks, TicksPerClockCycle - 2);
}

ResultCode TSioBaseDispatcher::AddTimerTrigger(DWORD milliseconds) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (TimerTriggerList.size() >= MaxTriggersPerTable) return errors::ecNoMoreTriggerSlots;
  TTimerTrigger trigger;
  trigger.TriggerHandle = NewTriggerHandle(0);
  StartTimer(trigger.EventTimer, milliseconds);
  trigger.Armed = 1;
  TimerTriggerList.push_back(trigger);
  AddLogEntry(letTrigAllc, lstChgTimer, trigger.TriggerHandle, nullptr, 0);
  return trigger.TriggerHandle;
}

ResultCode TSioBaseDispatcher::ArmTimerTrigger(std::int32_t handle, DWORD milliseconds) {
  platform::CriticalSectionLock guard(DispatchLock);
  auto trigger = FindHandle(TimerTriggerList, handle);
  if (trigger == TimerTriggerList.end()) return errors::ecBadTriggerHandle;
  StartTimer(trigger->EventTimer, milliseconds);
  trigger->Armed = 1;
  AddLogEntry(letTrDatChg, lstChgTimer, handle, nullptr, 0);
  return errors::ecOK;
}

ResultCode TSioBaseDispatcher::AddStatusTrigger(DWORD kind, WORD value) {
  if (kind < StatusModem || kind > StatusOutputSent) return errors::ecBadArgument;
  platform::CriticalSectionLock guard(DispatchLock);
  if (StatusTriggerList.size() >= MaxTriggersPerTable) return errors::ecNoMoreTriggerSlots;
  TStatusTrigger trigger;
  trigger.TriggerHandle = NewTriggerHandle(kind);
  trigger.StatusKind = kind;
  trigger.StatusValue = value;
  trigger.Armed = true;
  StatusTriggerList.push_back(trigger);
  const auto kindByte = static_cast<platform::BYTE>(kind);
  AddLogEntry(letTrigAllc, lstChgStatus, trigger.TriggerHandle, &kindByte, 1);
  return trigger.TriggerHandle;
}

ResultCode TSioBaseDispatcher::ArmStatusTrigger(std::int32_t handle, WORD value) {
  platform::CriticalSectionLock guard(DispatchLock);
  auto trigger = FindHandle(StatusTriggerList, handle);
  if (trigger == StatusTriggerList.end()) return errors::ecBadTriggerHandle;
  trigger->StatusValue = value;
  trigger->Armed = true;
  const auto kindByte = static_cast<platform::BYTE>(trigger->StatusKind);
  AddLogEntry(letTrDatChg, lstChgStatus, handle, &kindByte, 1);
  return errors::ecOK;
}

ResultCode TSioBaseDispatcher::RemoveTrigger(std::int32_t handle) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (auto data = FindHandle(DataTriggerList, handle); data != DataTriggerList.end()) {
    DataTriggerList.erase(data);
    AddLogEntry(letTrigDisp, lstChgData, handle, nullptr, 0);
  } else if (auto timer = FindHandle(TimerTriggerList, handle); timer != TimerTriggerList.end()) {
    TimerTriggerList.erase(timer);
    AddLogEntry(letTrigDisp, lstChgTimer, handle, nullptr, 0);
  } else if (auto status = FindHandle(StatusTriggerList, handle);
             status != StatusTriggerList.end()) {
    const auto kindByte = static_cast<platform::BYTE>(status->StatusKind);
    StatusTriggerList.erase(status);
    AddLogEntry(letTrigDisp, lstChgStatus, handle, &kindByte, 1);
  } else {
    return errors::ecBadTriggerHandle;
  }
  return errors::ecOK;
}

void TSioBaseDispatcher::ClearTriggerTables() {
  platform::CriticalSectionLock guard(DispatchLock);
  AvailLength = 0;
  TimerTriggerList.clear();
  DataTriggerList.clear();
  StatusTriggerList.clear();
  NextTriggerHandle = 1;
}

void TSioBaseDispatcher::ResetStatusHitsLocked() {
  for (TStatusTrigger& trigger : StatusTriggerList) trigger.HitThisPass = false;
  StatusHit = false;
}

void TSioBaseDispatcher::ResetStatusHits() {
  platform::CriticalSectionLock guard(DispatchLock);
  ResetStatusHitsLocked();
}

void TSioBaseDispatcher::ResetDataMatches() {
  // Under DispatchLock: the dispatch thread scans the same slots.
  platform::CriticalSectionLock guard(DispatchLock);
  for (TDataTrigger& trigger : DataTriggerList) {
    std::fill(std::begin(trigger.MatchSlots), std::end(trigger.MatchSlots), 0);
  }
}

// ---- Saved sets -------------------------------------------------------------------

void TSioBaseDispatcher::SaveTriggers(TSavedTriggers& set) {
  platform::CriticalSectionLock guard(DispatchLock);
  DiscardSavedTriggers(set);
  set.AvailLength = AvailLength;
  set.TimerTriggers = TimerTriggerList;
  set.DataTriggers = DataTriggerList;
  set.StatusTriggers = StatusTriggerList;
}

void TSioBaseDispatcher::RestoreTriggers(const TSavedTriggers& set) {
  platform::CriticalSectionLock guard(DispatchLock);
  AvailLength = set.AvailLength;
  TimerTriggerList = set.TimerTriggers.value_or(std::vector<TTimerTrigger>{});
  DataTriggerList = set.DataTriggers.value_or(std::vector<TDataTrigger>{});
  StatusTriggerList = set.StatusTriggers.value_or(std::vector<TStatusTrigger>{});
  // New handles continue above every restored one.
  NextTriggerHandle = std::max({NextTriggerHandle, NextSerialAbove(TimerTriggerList),
                                NextSerialAbove(DataTriggerList), NextSerialAbove(StatusTriggerList)});
}

void TSioBaseDispatcher::DiscardSavedTriggers(TSavedTriggers& set) {
  set.TimerTriggers.reset();
  set.DataTriggers.reset();
  set.StatusTriggers.reset();
}

}  // namespace dispatcher
