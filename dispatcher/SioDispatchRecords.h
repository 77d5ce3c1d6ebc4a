// Plain records the dispatcher keeps: the dispatch-log entry header, the
// event receivers and the three kinds of trigger. Their layouts are fixed
// because saved trigger sets copy them byte for byte.
//
// Thread safety: plain data; the dispatcher that holds them guards them with
// its DispatchLock (SioDispatch.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/messages.h"
#include "platform/win_types.h"

namespace dispatcher {

// Dispatch-log entry types (EntryType) and subtypes (EntrySubtype). The
// names printed in a log file come from the message strings 15001 + type
// and 15100 + subtype.
enum TLogEntryType : platform::BYTE {
  letNoEvent = 0,
  letDispatch = 1,
  letTrigger = 2,
  letError = 3,
  letThread = 4,
  letTrigAllc = 5,
  letTrigDisp = 6,
  letTrgHdAlc = 7,
  letTrgHdDsp = 8,
  letTrDatChg = 9,
  letTelnet = 10,
  letUser = 19,
};

enum TLogEntrySubtype : platform::BYTE {
  lstNone = 0,
  lstReadCom = 1,
  lstWriteCom = 2,
  lstLineStatus = 3,
  lstModemStatus = 4,
  lstAvail = 5,
  lstTimer = 6,
  lstData = 7,
  lstStatus = 8,
  lstStart = 9,
  lstExit = 10,
  lstSleep = 11,
  lstWake = 12,
  lstChgData = 13,
  lstChgTimer = 14,
  lstChgStatus = 15,
  lstChgAvail = 16,
  lstWindow = 17,
  lstProcedure = 18,
  lstMethod = 19,
};

// The 16-byte header that precedes DataLength data bytes in the log ring.
struct TLogEntryHeader {
  platform::BYTE EntryType = 0;
  platform::BYTE EntrySubtype = 0;
  platform::WORD Unused = 0;
  platform::DWORD ElapsedMs = 0;  // milliseconds since the dispatcher's TimeBase
  std::int32_t DataValue = 0;     // meaning per entry; printed in hexadecimal
  platform::DWORD DataLength = 0;
};
static_assert(sizeof(TLogEntryHeader) == 16, "a log entry header is 16 bytes");

// Trigger event messages, sent to window receivers and passed to procedure
// and method receivers. lParam carries the low value below in its low 16
// bits and the sending dispatcher's DispatcherHandle in its high 16 bits.
//   MsgTriggerAvail   wParam: characters announced     low: 0
//   MsgTriggerData    wParam: trigger handle           low: pattern length
//   MsgTriggerTimer   wParam: trigger handle           low: 0
//   MsgTriggerStatus  wParam: trigger handle           low: OutputRoom for
//                     kind 3, OutputPending for kind 4, else 0
inline constexpr platform::UINT MsgTriggerAvail = 0x7E01;   // 32257
inline constexpr platform::UINT MsgTriggerData = 0x7E02;    // 32258
inline constexpr platform::UINT MsgTriggerTimer = 0x7E03;   // 32259
inline constexpr platform::UINT MsgTriggerStatus = 0x7E04;  // 32260

// How long a delivery waits for a window receiver to take its message.
inline constexpr platform::UINT TriggerSendLimitMs = 3000;

// Event receivers. A receiver is called, or sent, (message, wParam, lParam).
using TTriggerMethod = std::function<void(platform::UINT, platform::WPARAM, platform::LPARAM)>;
using TTriggerProcedure = void (*)(platform::UINT, platform::WPARAM, platform::LPARAM);

struct TMethodReceiver {
  TTriggerMethod Method;
  bool Removed = false;
  bool Synchronized = false;    // call on the main thread while the dispatch thread waits
  std::int32_t ReceiverId = 0;  // what AddMethodReceiver returned; removes it
};

struct TProcedureReceiver {
  TTriggerProcedure Procedure = nullptr;
  bool Removed = false;
};

struct TWindowReceiver {
  platform::HWND Window = 0;
  bool Removed = false;
};

// Status trigger: fires when a watched status condition holds (one-shot).
struct TStatusTrigger {
  std::int32_t TriggerHandle = 0;  // low 3 bits equal StatusKind
  platform::DWORD StatusKind = 0;  // 1 modem, 2 line, 3 output free, 4 output used, 5 output sent
  platform::WORD StatusValue = 0;
  bool Armed = false;
  bool HitThisPass = false;
};
static_assert(sizeof(TStatusTrigger) == 12, "a status trigger record is 12 bytes");

constexpr int MaxDataTriggerLength = 22;

// Data trigger: fires when its pattern has arrived.
struct TDataTrigger {
  std::int32_t TriggerHandle = 0;
  std::int32_t PatternLength = 0;  // 1..22; 0 is an empty entry
  std::int32_t MatchSlots[MaxDataTriggerLength] = {};
  std::int32_t Matched = 0;     // -1: matched and not yet delivered
  std::int32_t IgnoreCase = 0;  // non-zero: input is upper-cased before comparing
  char Pattern[24] = {};
};
static_assert(sizeof(TDataTrigger) == 128, "a data trigger record is 128 bytes");

struct TEventTimer {
  std::int32_t StartTick = 0;   // 55-ms ticks of the millisecond clock
  std::int32_t ExpireTick = 0;
  platform::BYTE Reserved[8] = {};
};

// Timer trigger: fires when its event timer has expired (one-shot).
struct TTimerTrigger {
  std::int32_t TriggerHandle = 0;
  TEventTimer EventTimer;
  std::int32_t Armed = 0;
};
static_assert(sizeof(TTimerTrigger) == 24, "a timer trigger record is 24 bytes");

// Status trigger kinds (the low 3 bits of a status trigger's handle).
constexpr platform::DWORD StatusModem = 1;         // a watched modem bit differs from StatusValue
constexpr platform::DWORD StatusLine = 2;          // a line error of StatusValue's bits occurred
constexpr platform::DWORD StatusOutputFree = 3;    // OutputRoom >= StatusValue
constexpr platform::DWORD StatusOutputUsed = 4;    // OutputPending <= StatusValue
constexpr platform::DWORD StatusOutputSent = 5;    // output was queued

// A saved trigger set: the avail length and byte copies of the three
// trigger tables; a list that was never saved (or was discarded) is absent.
// Owned by whoever saved it (the port component keeps one across a reopen).
struct TSavedTriggers {
  platform::DWORD AvailLength = 0;
  std::optional<std::vector<TTimerTrigger>> TimerTriggers;
  std::optional<std::vector<TDataTrigger>> DataTriggers;
  std::optional<std::vector<TStatusTrigger>> StatusTriggers;
};

}  // namespace dispatcher
