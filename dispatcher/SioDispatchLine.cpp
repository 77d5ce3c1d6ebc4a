// Opening the line and the line-facing operations: settings, flow control,
// RS-485 mode and the thread events. Every change of the device's control
// block re-reads the device's block first, so no operation undoes another.
#include <algorithm>
#include <array>

#include "dispatcher/SioDispatch.h"
#include "platform/clock.h"
#include "platform/handles.h"
#include "platform/last_error.h"

namespace dispatcher {

using platform::BYTE;
using platform::DCB;
using platform::DWORD;
using platform::HANDLE;

namespace {

constexpr DWORD kKeepBaud = 0;
constexpr std::int32_t kKeepParity = 5;
constexpr std::int32_t kKeepDataBits = 9;
constexpr std::int32_t kKeepStopBits = 3;

constexpr DWORD kOptionDtrLevel = 0x01;
constexpr DWORD kOptionRtsLevel = 0x02;
constexpr DWORD kOptionDtrAutomatic = 0x10;
constexpr DWORD kOptionRtsAutomatic = 0x20;

constexpr DWORD kFlowDtrHandshake = 1;
constexpr DWORD kFlowRtsHandshake = 2;
constexpr DWORD kFlowRequireDsr = 4;
constexpr DWORD kFlowRequireCts = 8;
constexpr DWORD kFlowTransmit = 1;
constexpr DWORD kFlowReceive = 2;
constexpr char kXOn = 17;
constexpr char kXOff = 19;

constexpr int kDrainRounds = 5000;
constexpr DWORD kDrainPollMs = 2;

bool ThresholdsBad(DWORD full, DWORD resume, DWORD inQueueSize) {
  return full < resume || full > inQueueSize;
}

}  // namespace

DWORD TSioBaseDispatcher::LegacyRate(DWORD rate) {
  static constexpr std::array<DWORD, 24> kTable = {110,   300,   600, 1200, 2400, 4800,  9600, 14400,
                                                    19200, 0,     0,   38400, 0,   0,     0,    56000,
                                                    0,     0,     0,   128000, 0,  0,     0,    256000};
  if (rate == 0xFEFF) return 115200;
  if (rate >= 0xFF10 && rate < 0xFF10 + kTable.size()) {
    const DWORD mapped = kTable[rate - 0xFF10];
    if (mapped != 0) return mapped;
  }
  return rate;
}

DWORD TSioBaseDispatcher::DrainDelayMs(DWORD rate, const DCB& state) {
  rate = LegacyRate(rate);
  if (rate == 0) return 0;
  DWORD bits = state.ByteSize + 2u;
  if (state.Parity != 0) ++bits;
  if (state.StopBits != 0) ++bits;
  // In units of 100 ns, unsigned 32-bit as the timing was designed.
  DWORD t = (10000000u / rate) * bits * 18u;
  if (t < 10000u) t *= 2u;
  return t / 10000u + (t % 10000u != 0 ? 1u : 0u);
}

// ---- Thread events ---------------------------------------------------------------

bool TSioBaseDispatcher::CreateThreadEvents() {
  struct EventSlot {
    std::atomic<HANDLE>* field;
    bool manual;
  };
  const std::array<EventSlot, 6> slots = {{{&CommEvent, false},
                                           {&DispatchDone, false},
                                           {&ThreadAck, false},
                                           {&OutputReady, false},
                                           {&OutputDone, true},
                                           {&OutputFlush, false}}};
  for (const EventSlot& slot : slots) {
    const HANDLE event = platform::CreateEventA(nullptr, slot.manual, platform::FALSE, nullptr);
    if (event == 0) {
      CloseThreadEvents();
      return false;
    }
    slot.field->store(event);
  }
  return true;
}

void TSioBaseDispatcher::CloseThreadEvents() {
  for (std::atomic<HANDLE>* field :
       {&CommEvent, &DispatchDone, &ThreadAck, &OutputReady, &OutputDone, &OutputFlush}) {
    const HANDLE event = field->load();
    if (event != platform::INVALID_HANDLE_VALUE && platform::CloseHandle(event)) {
      field->store(platform::INVALID_HANDLE_VALUE);
    }
  }
}

// ---- Open -----------------------------------------------------------------------

ResultCode TSioBaseDispatcher::OpenLine(const char* name, DWORD baud, std::int32_t parity,
                                        std::int32_t dataBits, std::int32_t stopBits,
                                        DWORD inSize, DWORD outSize, DWORD options) {
  // A second open would fail on the exclusive device and its clean-up would
  // close the line that is open.
  if (DeviceHandle.load() >= 0 || ThreadsStarted.load()) return errors::ecAlreadyOpen;
  RingSeen.store(false);
  {
    platform::CriticalSectionLock input(InputLock);
    platform::CriticalSectionLock output(OutputLock);
    InRing.reset();
    OutRing.reset();
  }
  Dispatching.store(false);
  HandlerRemovalPending.store(false);

  const auto fail = [this](ResultCode code) {
    CloseLine();
    // Nothing started the threads, so nothing else closes their events.
    if (!ThreadsStarted.load()) CloseThreadEvents();
    return code;
  };
  if (!CreateThreadEvents()) return fail(errors::ecOutOfMemory);

  const HANDLE handle = DeviceOpen(name, inSize, outSize);
  DeviceHandle.store(handle);
  if (handle < 0) {
    const ResultCode code = handle == errors::ecOutOfMemory
                                ? errors::ecOutOfMemory
                                : -static_cast<ResultCode>(platform::GetLastError());
    return fail(code);
  }
  if (const ResultCode code = SetQueueSizes(inSize, outSize); code != 0) return fail(code);

  AllocateBuffers(inSize, outSize);
  {
    platform::CriticalSectionLock guard(DispatchLock);
    DeviceGetState(DeviceState);
    DtrAutomatic = (options & kOptionDtrAutomatic) != 0;
    if (!DtrAutomatic) SetDtrLine((options & kOptionDtrLevel) ? 1 : 0);
    RtsAutomatic = (options & kOptionRtsAutomatic) != 0;
    if (!RtsAutomatic) SetRtsLine((options & kOptionRtsLevel) ? 1 : 0);
    ClearTriggerTables();
    ResetStatusHits();
    ModemBits = 0;
    ReadModemStatus(0xF0);
    // Nothing of ours has gone to the device yet, so the open's own
    // settings have no characters to let leave first: no rate, no drain
    // time (it would cost every open 2 ms at the 115200 once assumed here).
    CurrentBaud = 0;
  }
  if (const ResultCode code = SetLineSettings(baud, parity, dataBits, stopBits); code != 0) {
    return fail(code);
  }
  CollectLineErrors();
  ResetRecorders();
  StartThreads();
  return errors::ecOK;
}

ResultCode TSioBaseDispatcher::SetQueueSizes(DWORD inSize, DWORD outSize) {
  if (DeviceSetupQueues(inSize, outSize)) return errors::ecOK;
  return -static_cast<ResultCode>(platform::GetLastError());
}

// ---- Line settings -------------------------------------------------------------

ResultCode TSioBaseDispatcher::SetLineSettings(DWORD baud, std::int32_t parity,
                                               std::int32_t dataBits, std::int32_t stopBits) {
  DWORD targetRate = 0;
  BYTE targetParity = 0;
  BYTE targetBits = 0;
  BYTE targetStop = 0;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    DeviceGetState(DeviceState);
    DCB& s = DeviceState;
    s.Flags = (s.Flags | platform::DCB_fBinary | platform::DCB_fTXContinueOnXoff) &
              ~(platform::DCB_fParity | platform::DCB_fDsrSensitivity | platform::DCB_fNull);
    if (stopBits != kKeepStopBits) stopBits = std::clamp(stopBits, 1, 2);
    targetRate = baud == kKeepBaud ? s.BaudRate : baud;
    targetParity = parity == kKeepParity ? s.Parity : static_cast<BYTE>(parity);
    targetStop = s.StopBits;
    targetBits = static_cast<BYTE>(dataBits);
    if (dataBits == 5) targetStop = platform::ONE5STOPBITS;
    if (dataBits == kKeepDataBits) targetBits = s.ByteSize;
    if (stopBits != kKeepStopBits) {
      targetStop = stopBits == 1 ? platform::ONESTOPBIT : platform::TWOSTOPBITS;
      if (targetBits == 5) targetStop = platform::ONE5STOPBITS;
    }
    if (targetRate == s.BaudRate && targetParity == s.Parity && targetBits == s.ByteSize &&
        targetStop == s.StopBits) {
      // The drain timing must use the rate the line really runs at, which
      // the open only guessed.
      CurrentBaud = s.BaudRate;
      return errors::ecOK;
    }
  }
  WaitOutputDrained();
  platform::CriticalSectionLock guard(DispatchLock);
  DeviceGetState(DeviceState);
  DeviceState.BaudRate = targetRate;
  DeviceState.Parity = targetParity;
  DeviceState.ByteSize = targetBits;
  DeviceState.StopBits = targetStop;
  return ApplyDeviceState(DeviceState);
}

void TSioBaseDispatcher::WaitOutputDrained() {
  for (int round = 0; round < kDrainRounds; ++round) {
    DWORD pending = 0;
    {
      platform::CriticalSectionLock guard(OutputLock);
      pending = CollectLineErrors().cbOutQue;
    }
    if (pending == 0) break;
    platform::Sleep(kDrainPollMs);
  }
  DCB state;
  DWORD rate = 0;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    DeviceGetState(DeviceState);
    state = DeviceState;
    rate = CurrentBaud;
  }
  // The device still holds up to 18 characters that the ring no longer
  // shows; they must leave with the old framing.
  if (const DWORD ms = DrainDelayMs(rate, state); ms > 0) platform::Sleep(ms);
}

TSioBaseDispatcher::TLineSettings TSioBaseDispatcher::GetLineSettings() {
  platform::CriticalSectionLock guard(DispatchLock);
  DeviceGetState(DeviceState);
  TLineSettings settings;
  settings.Baud = LegacyRate(DeviceState.BaudRate);
  settings.Parity = DeviceState.Parity;
  settings.DataBits = DeviceState.ByteSize;
  settings.StopBits = DeviceState.StopBits != 0 ? 2 : 1;
  return settings;
}

ResultCode TSioBaseDispatcher::ApplyDeviceState(DCB& state) {
  if (!DtrAutomatic) {
    state.Flags &= ~platform::DCB_fDtrControlMask;
    if (DtrLevel) state.Flags |= platform::DCB_fDtrControlEnable;
  }
  if (!RtsAutomatic) {
    state.Flags &= ~platform::DCB_fRtsControlMask;
    if (RtsLevel) state.Flags |= platform::DCB_fRtsControlEnable;
  }
  const ResultCode code = DeviceSetState(state);
  // A refused block leaves the line at its old rate, which the drain
  // timing must go on using.
  if (code == errors::ecOK) CurrentBaud = state.BaudRate;
  SetDtrLine(DtrLevel ? 1 : 0);
  if (!Rs485Active) SetRtsLine(RtsLevel ? 1 : 0);
  return code;
}

// ---- Flow control ----------------------------------------------------------------

ResultCode TSioBaseDispatcher::SetHardwareFlow(DWORD full, DWORD resume, DWORD options) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (ThresholdsBad(full, resume, InQueueSize)) return errors::ecBadArgument;
  DeviceGetState(DeviceState);
  DCB& s = DeviceState;
  s.Flags &= ~(platform::DCB_fOutxCtsFlow | platform::DCB_fOutxDsrFlow |
               platform::DCB_fDtrControlMask | platform::DCB_fRtsControlMask);
  // A block the device refuses changes nothing: the lines stay under the
  // control they had, and can still be driven if they could.
  const bool dtrWasAutomatic = DtrAutomatic;
  const bool rtsWasAutomatic = RtsAutomatic;
  DtrAutomatic = false;
  RtsAutomatic = false;
  if (options & kFlowDtrHandshake) {
    s.Flags |= platform::DCB_fDtrControlHandshake;
    DtrAutomatic = true;
  } else if (DtrLevel) {
    s.Flags |= platform::DCB_fDtrControlEnable;
  }
  if (options & kFlowRtsHandshake) {
    s.Flags |= platform::DCB_fRtsControlHandshake;
    RtsAutomatic = true;
  } else if (RtsLevel) {
    s.Flags |= platform::DCB_fRtsControlEnable;
  }
  if (Rs485Active && platform::IsWindowsNT()) {
    s.Flags = (s.Flags & ~platform::DCB_fRtsControlMask) | platform::DCB_fRtsControlToggle;
    RtsAutomatic = true;
  }
  s.XoffLim = static_cast<platform::WORD>(InQueueSize - full);
  s.XonLim = static_cast<platform::WORD>(resume);
  if (options & kFlowRequireDsr) s.Flags |= platform::DCB_fOutxDsrFlow;
  if (options & kFlowRequireCts) s.Flags |= platform::DCB_fOutxCtsFlow;
  const ResultCode code = ApplyDeviceState(s);
  if (code != errors::ecOK) {
    DtrAutomatic = dtrWasAutomatic;
    RtsAutomatic = rtsWasAutomatic;
  }
  return code;
}

ResultCode TSioBaseDispatcher::SetSoftwareFlow(DWORD full, DWORD resume, DWORD options) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (ThresholdsBad(full, resume, InQueueSize)) return errors::ecBadArgument;
  DeviceGetState(DeviceState);
  DCB& s = DeviceState;
  if (options & kFlowReceive) {
    s.Flags |= platform::DCB_fInX;
    s.XoffLim = static_cast<platform::WORD>(InQueueSize - full);
    s.XonLim = static_cast<platform::WORD>(resume);
    s.XonChar = kXOn;
    s.XoffChar = kXOff;
  }
  if (options & kFlowTransmit) {
    s.Flags |= platform::DCB_fOutX;
    s.XonChar = kXOn;
    s.XoffChar = kXOff;
  }
  return ApplyDeviceState(s);
}

ResultCode TSioBaseDispatcher::ClearSoftwareFlow() {
  platform::CriticalSectionLock guard(DispatchLock);
  DeviceGetState(DeviceState);
  DeviceState.Flags &= ~(platform::DCB_fOutX | platform::DCB_fInX);
  return ApplyDeviceState(DeviceState);
}

ResultCode TSioBaseDispatcher::SetFlowChars(char xon, char xoff) {
  platform::CriticalSectionLock guard(DispatchLock);
  DeviceGetState(DeviceState);
  DeviceState.XonChar = xon;
  DeviceState.XoffChar = xoff;
  return ApplyDeviceState(DeviceState);
}

TSioBaseDispatcher::TFlowSettings TSioBaseDispatcher::GetFlowSettings() {
  platform::CriticalSectionLock guard(DispatchLock);
  TFlowSettings flow;
  flow.Code = DeviceGetState(DeviceState);
  const DWORD f = DeviceState.Flags;
  if ((f & platform::DCB_fDtrControlMask) == platform::DCB_fDtrControlHandshake) {
    flow.HardwareOptions |= kFlowDtrHandshake;
  }
  // Toggle mode (RS-485) shares the handshake bit.
  if (f & platform::DCB_fRtsControlHandshake) flow.HardwareOptions |= kFlowRtsHandshake;
  if (f & platform::DCB_fOutxDsrFlow) flow.HardwareOptions |= kFlowRequireDsr;
  if (f & platform::DCB_fOutxCtsFlow) flow.HardwareOptions |= kFlowRequireCts;
  if (f & platform::DCB_fInX) flow.SoftwareOptions |= kFlowReceive;
  if (f & platform::DCB_fOutX) flow.SoftwareOptions |= kFlowTransmit;
  flow.XOn = DeviceState.XonChar;
  flow.XOff = DeviceState.XoffChar;
  return flow;
}

void TSioBaseDispatcher::SetRs485(bool on) {
  platform::CriticalSectionLock guard(DispatchLock);
  Rs485Active = on;
  // The UART base address exists only where the program may reach the
  // UART's registers directly; here RS-485 relies on the RTS toggle mode.
  ApplyThreadPriorities();
}

}  // namespace dispatcher
