// The trigger passes of the dispatch thread: the status, data and timer
// checks, the avail announcements and the delivery of events to the
// receivers.
#include <algorithm>

#include "dispatcher/SioDispatch.h"
#include "platform/sync.h"

namespace dispatcher {

using platform::BYTE;
using platform::DWORD;
using platform::LPARAM;
using platform::UINT;
using platform::WORD;
using platform::WPARAM;

namespace {

// Communications events that call for a modem-status or a line-status read.
constexpr DWORD kModemEvents = 0x0008 | 0x0010 | 0x0020 | 0x0100 | 0x2000;
constexpr DWORD kLineEvents = 0x0040 | 0x0080;

std::int32_t NextRingPos(std::int32_t p) { return p + 1 == InRingSize ? 0 : p + 1; }

// Ring positions from `from` up to, not including, `to`.
std::int32_t RingDistance(std::int32_t from, std::int32_t to) {
  return to >= from ? to - from : to + InRingSize - from;
}

// Upper case in the program's 8-bit code page: ASCII letters, Cyrillic
// а..я and ё.
BYTE UpperCaseChar(BYTE c) {
  if (c >= 'a' && c <= 'z') return static_cast<BYTE>(c - 'a' + 'A');
  if (c >= 0xE0) return static_cast<BYTE>(c - 0x20);
  if (c == 0xB8) return 0xA8;
  return c;
}

}  // namespace

BYTE TSioBaseDispatcher::UpperCase(BYTE c) { return UpperCaseChar(c); }

// ---- Delivery -------------------------------------------------------------------

void TSioBaseDispatcher::FinishDelivery() {
  platform::CriticalSectionLock guard(DispatchLock);
  Dispatching.store(false);
  if (!HandlerRemovalPending.load()) return;
  auto removed = [](const auto& receiver) { return receiver.Removed; };
  std::erase_if(MethodReceivers, removed);
  std::erase_if(ProcedureReceivers, removed);
  std::erase_if(WindowReceivers, removed);
  HandlerRemovalPending.store(false);
  UpdateDeliveryWantedLocked(0);
}

bool TSioBaseDispatcher::CallReceiver(TReceiverList list, std::size_t index, UINT message,
                                      WPARAM wParam, LPARAM lParam, bool& served) {
  TTriggerMethod method;
  TTriggerProcedure procedure = nullptr;
  platform::HWND window = 0;
  bool synchronized = false;
  TSioDispatcherThread* thread = nullptr;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    switch (list) {
      case rlMethods:
        if (index >= MethodReceivers.size()) return false;
        if (!MethodReceivers[index].Removed) method = MethodReceivers[index].Method;
        synchronized = MethodReceivers[index].Synchronized;
        thread = DispThread;
        break;
      case rlProcedures:
        if (index >= ProcedureReceivers.size()) return false;
        if (!ProcedureReceivers[index].Removed) procedure = ProcedureReceivers[index].Procedure;
        break;
      case rlWindows:
        if (index >= WindowReceivers.size()) return false;
        if (!WindowReceivers[index].Removed) window = WindowReceivers[index].Window;
        break;
    }
  }
  BeginReceiverTakes();
  if (method) {
    if (synchronized && thread != nullptr) {
      thread->SynchronizedCall(message, wParam, lParam, method);
    } else {
      method(message, wParam, lParam);
    }
  } else if (procedure != nullptr) {
    procedure(message, wParam, lParam);
  } else if (window != 0) {
    // A window that does not answer in time loses this event; the next
    // receiver is served all the same.
    platform::DWORD_PTR answer = 0;
    platform::SendMessageTimeoutA(window, message, wParam, lParam, platform::SMTO_NORMAL,
                                  TriggerSendLimitMs, &answer);
  }
  served = !ClosePending.load();
  if (served) EndReceiverTakes();
  return true;
}

bool TSioBaseDispatcher::DeliverEvent(UINT message, WPARAM wParam, WORD low) {
  if (!DeliveryWanted.load()) return true;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    Dispatching.store(true);
  }
  // However the delivery ends (a close, an exception in a receiver), reads
  // become destructive again and the removals made meanwhile take effect.
  struct TDeliveryEnd {
    TSioBaseDispatcher& self;
    ~TDeliveryEnd() {
      // A receiver that raised still took what it read.
      if (!self.ClosePending.load()) self.EndReceiverTakes();
      self.EndDelivery();
      self.FinishDelivery();
    }
  } end{*this};
  BeginDelivery(message == MsgTriggerAvail || message == MsgTriggerData);
  const auto lParam = static_cast<LPARAM>(static_cast<std::uint32_t>(DispatcherHandle) << 16 | low);

  for (TReceiverList list : {rlMethods, rlProcedures, rlWindows}) {
    if (list == rlWindows) {
      platform::CriticalSectionLock guard(DispatchLock);
      if (WindowReceivers.size() <= 1 && !ComponentListening.load()) break;
    }
    bool served = true;
    for (std::size_t i = 0; CallReceiver(list, i, message, wParam, lParam, served); ++i) {
      if (!served) return false;
    }
  }
  platform::CriticalSectionLock guard(InputLock);
  return message != MsgTriggerAvail ||
         std::max(MaxTakenCount, static_cast<DWORD>(OutsideTaken)) == wParam;
}

// ---- Passes -----------------------------------------------------------------------

bool TSioBaseDispatcher::StatusLoop() {
  while (CheckStatusTriggers()) {
    if (ClosePending.load()) return false;
  }
  return !ClosePending.load();
}

void TSioBaseDispatcher::ResetStatusHitsIfHit() {
  platform::CriticalSectionLock guard(DispatchLock);
  if (StatusHit) ResetStatusHitsLocked();
}

void TSioBaseDispatcher::EventPass() {
  const DWORD events = EventWord.load();
  if (events & kModemEvents) {
    UpdateModemDeltas();
    if (!Dispatching.load()) {
      if (!StatusLoop()) return;
      ResetStatusHitsIfHit();
    }
  }
  if (events & kLineEvents) {
    CollectLineErrors();
    if (!Dispatching.load()) {
      if (!StatusLoop()) return;
      ResetStatusHitsIfHit();
    }
  }
  FillDispatchBuffer();
  if (!Dispatching.load()) {
    if (!StatusLoop()) return;
    while (CheckDataTriggers()) {
      if (ClosePending.load()) return;
    }
    if (ClosePending.load()) return;
  }
  ResetStatusHitsIfHit();
  platform::SetEvent(DispatchDone);
}

void TSioBaseDispatcher::TimerPass() {
  if (ClosePending.load() || Dispatching.load()) return;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    StatusHit = false;
  }
  while (CheckStatusTriggers() || CheckTimerTriggers()) {
    if (ClosePending.load()) return;
  }
  if (ClosePending.load()) return;
  ResetStatusHitsIfHit();
}

// ---- Checks -----------------------------------------------------------------------

bool TSioBaseDispatcher::CheckStatusTriggers() {
  std::int32_t handle = 0;
  WORD count = 0;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    std::size_t i = 0;
    for (; i < StatusTriggerList.size(); ++i) {
      TStatusTrigger& trigger = StatusTriggerList[i];
      if (!trigger.Armed || trigger.HitThisPass) continue;
      bool fires = false;
      switch (trigger.StatusKind) {
        case StatusModem:
          fires = ((trigger.StatusValue ^ ModemBits) & (trigger.StatusValue >> 8) & 0xFF) != 0;
          break;
        case StatusLine:
          fires = (trigger.StatusValue & LineErrorBits.load()) != 0;
          if (fires) trigger.StatusValue = static_cast<WORD>(LineErrorBits.load() & 0xFFFF);
          break;
        case StatusOutputFree: {
          const std::int32_t room = OutputRoom();
          fires = room >= trigger.StatusValue;
          if (fires) count = static_cast<WORD>(std::clamp(room, 0, 0xFFFF));
          break;
        }
        case StatusOutputUsed: {
          const std::int32_t pending = OutputPending();
          fires = pending <= trigger.StatusValue;
          if (fires) count = static_cast<WORD>(std::clamp(pending, 0, 0xFFFF));
          break;
        }
        case StatusOutputSent:
          fires = OutputSent.exchange(false);
          break;
        default:
          break;
      }
      if (!fires) continue;
      trigger.Armed = false;
      trigger.HitThisPass = true;
      StatusHit = true;
      handle = trigger.TriggerHandle;
      AddLogEntry(letTrigger, lstStatus, handle, nullptr, 0);
      break;
    }
    if (i == StatusTriggerList.size()) return false;
  }
  return DeliverEvent(MsgTriggerStatus, static_cast<WPARAM>(handle), count);
}

bool TSioBaseDispatcher::TimerExpired(const TEventTimer& timer, std::int32_t now) {
  // Ticks elapsed since the start, counted across a wrap of the clock: a
  // plain comparison of now with the expiry tick would fire a timer at
  // once, or never, when the 32-bit millisecond clock wraps meanwhile.
  const std::int64_t elapsed =
      now >= timer.StartTick ? std::int64_t{now} - timer.StartTick
                             : std::int64_t{now} + TicksPerClockCycle - timer.StartTick;
  return std::int64_t{timer.ExpireTick} - timer.StartTick < elapsed;
}

bool TSioBaseDispatcher::CheckTimerTriggers() {
  std::int32_t handle = 0;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    const auto now = static_cast<std::int32_t>(Clock() / MsPerTimerTick);
    auto fired = std::find_if(TimerTriggerList.begin(), TimerTriggerList.end(),
                              [now](const TTimerTrigger& trigger) {
                                return trigger.Armed != 0 && TimerExpired(trigger.EventTimer, now);
                              });
    if (fired == TimerTriggerList.end()) return false;
    fired->Armed = 0;
    handle = fired->TriggerHandle;
    AddLogEntry(letTrigger, lstTimer, handle, nullptr, 0);
  }
  return DeliverEvent(MsgTriggerTimer, static_cast<WPARAM>(handle), 0);
}

bool TSioBaseDispatcher::MatchDataChar(TDataTrigger& trigger, BYTE c) {
  if (trigger.IgnoreCase != 0) c = UpperCaseChar(c);
  const std::int32_t length = std::clamp(trigger.PatternLength, 0, MaxDataTriggerLength);
  if (length == 0) return false;
  const auto* pattern = reinterpret_cast<const BYTE*>(trigger.Pattern);
  std::int32_t* slots = trigger.MatchSlots;
  // Every live candidate moves on or dies; a completed one frees its slot
  // and leaves the others running, so overlapping occurrences all match.
  // This departs from matching with one candidate restarted on a mismatch,
  // which misses overlapping ones ("aba" ends at 3, 5 and 7 in "abababa").
  bool found = false;
  for (std::int32_t i = 0; i < length; ++i) {
    const std::int32_t k = slots[i];
    if (k <= 0 || k >= length || pattern[k] != c) {
      slots[i] = 0;
    } else if (k + 1 == length) {
      found = true;
      slots[i] = 0;
    } else {
      slots[i] = k + 1;
    }
  }
  // Then this character may begin a new candidate. Candidates begun at the
  // last length - 1 characters fit in the slots, so one is always idle.
  if (pattern[0] == c) {
    if (length == 1) return true;
    std::int32_t* idle = std::find(slots, slots + length, 0);
    if (idle != slots + length) *idle = 1;
  }
  return found;
}

std::int32_t TSioBaseDispatcher::CountThroughLocked(std::int32_t p, std::int32_t k) {
  // A position the readers have already passed counts nothing, and neither
  // does a match that began before the oldest unread character.
  std::int32_t offset = p - InTail;
  if (offset < 0) offset += InRingSize;
  if (offset >= InCount()) return 0;
  const std::int32_t count = offset + 1 - k - ReadOffsetLocked();
  return std::max(count, 0);
}

std::int32_t TSioBaseDispatcher::CountThrough(std::int32_t p, std::int32_t k) {
  platform::CriticalSectionLock guard(InputLock);
  return CountThroughLocked(p, k);
}

bool TSioBaseDispatcher::DeliverDataMatches(bool result) {
  for (;;) {
    std::int32_t handle = 0;
    std::int32_t length = 0;
    {
      platform::CriticalSectionLock guard(DispatchLock);
      auto matched = std::find_if(DataTriggerList.rbegin(), DataTriggerList.rend(),
                                  [](const TDataTrigger& trigger) { return trigger.Matched == -1; });
      if (matched == DataTriggerList.rend()) return result;
      matched->Matched = 0;
      handle = matched->TriggerHandle;
      length = matched->PatternLength;
      AddLogEntry(letTrigger, lstData, handle, nullptr, 0);
    }
    result = DeliverEvent(MsgTriggerData, static_cast<WPARAM>(handle), static_cast<WORD>(length));
    if (ClosePending.load()) return false;
  }
}

bool TSioBaseDispatcher::CheckDataTriggers() {
  std::int32_t announce = -1;
  std::int32_t matchPos = -1;
  {
    platform::CriticalSectionLock input(InputLock);
    platform::CriticalSectionLock guard(DispatchLock);
    if (!InRing) return false;
    std::int32_t p = DataScanPos;
    // A fill that made the ring full and ended at the scan position left
    // the whole ring unscanned: p == InHead then means all of it, not none.
    const bool wholeRing = FilledToFull && InputFull && p == InHead;
    FilledToFull = false;
    const bool anyPattern =
        std::any_of(DataTriggerList.begin(), DataTriggerList.end(),
                    [](const TDataTrigger& trigger) { return trigger.PatternLength > 0; });
    // Without a pattern there is nothing to look for in the characters.
    if (!anyPattern) p = InHead;
    std::int32_t toScan = anyPattern ? (wholeRing ? InRingSize : RingDistance(p, InHead)) : 0;
    while (toScan > 0 && matchPos < 0) {
      const BYTE c = InRing[p];
      std::int32_t longest = 0;
      for (TDataTrigger& trigger : DataTriggerList) {
        if (trigger.PatternLength == 0) continue;
        if (trigger.Matched == 0) trigger.Matched = MatchDataChar(trigger, c) ? -1 : 0;
        if (trigger.Matched == -1) {
          longest = std::max(longest, trigger.PatternLength);
          matchPos = p;
        }
      }
      if (matchPos >= 0) {
        // The characters before the matched string are announced first.
        const std::int32_t before = CountThroughLocked(p, longest);
        if (AvailLength > 0 && (p != AvailNotifyPos || FilledSinceAvail) && before > 0 &&
            static_cast<DWORD>(before) >= AvailLength) {
          announce = before;
          DataScanPos = p;
          AvailNotifyPos = p;
          FilledSinceAvail = false;
          AddLogEntry(letTrigger, lstAvail, announce, nullptr, 0);
        }
      } else {
        p = NextRingPos(p);
        --toScan;
      }
    }
    if (matchPos < 0) {
      DataScanPos = p;
      const std::int32_t unread = InCount();
      if (AvailLength == 0 || (p == AvailNotifyPos && !FilledSinceAvail) ||
          static_cast<DWORD>(unread) < AvailLength) {
        return false;
      }
      AvailNotifyPos = p;
      FilledSinceAvail = false;
      AddLogEntry(letTrigger, lstAvail, unread, nullptr, 0);
      announce = unread;
    }
  }
  bool result = true;
  if (announce >= 0) {
    result = DeliverEvent(MsgTriggerAvail, static_cast<WPARAM>(announce), 0);
    if (ClosePending.load()) return false;
  }
  if (matchPos < 0) return result;
  // Every matched trigger's event goes out even after a short-taken avail
  // event; the last delivery's answer decides.
  const bool delivered = DeliverDataMatches(result);
  platform::CriticalSectionLock guard(DispatchLock);
  DataScanPos = NextRingPos(matchPos);
  return delivered;
}

}  // namespace dispatcher
