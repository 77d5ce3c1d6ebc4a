// The port component's published properties, in their published order.
#include "comport/SioPort.h"

namespace comport {

const framework::TClassInfo& TSioCustomComPort::StaticClassInfo() {
  static const framework::TClassInfo info = framework::DefineClass<TSioCustomComPort>(
      "TSioCustomComPort", &TSioBaseComponent::StaticClassInfo());
  return info;
}

const framework::TClassInfo& TSioComPort::StaticClassInfo() {
  using P = TSioComPort;
  using framework::TObject;
  static const framework::TClassInfo info = framework::DefineClass<P>(
      "TSioComPort", &TSioCustomComPort::StaticClassInfo(), [](framework::PropertyBuilder<P>& p) {
        const std::vector<std::string> traceLogStates = {"tlOff",  "tlOn",    "tlDump",
                                                         "tlAppend", "tlClear", "tlPause"};
        p.Enum<TDeviceLayer>("DeviceLayer", &P::DeviceLayer, &P::SetDeviceLayer,
                             TDeviceLayer::dlWin32, {"dlWin16", "dlFossil", "dlWin32", "dlWinsock"});
        p.Int("ComNumber", &P::ComNumber, &P::SetComNumber, 0);
        p.Int("Baud", &P::Baud, &P::SetBaud, 19200);
        p.Bool("PromptForPort", &P::PromptForPort, &P::SetPromptForPort, true);
        p.Enum<TParity>("Parity", &P::Parity, &P::SetParity, TParity::pNone,
                        {"pNone", "pOdd", "pEven", "pMark", "pSpace"});
        p.Int("DataBits", &P::DataBits, &P::SetDataBits, 8);
        p.Int("StopBits", &P::StopBits, &P::SetStopBits, 1);
        p.Int("InSize", &P::InSize, &P::SetInSize, 4096);
        p.Int("OutSize", &P::OutSize, &P::SetOutSize, 4096);
        p.Bool("AutoOpen", &P::AutoOpen, &P::SetAutoOpen, true);
        p.Bool("Open", &P::Open, &P::SetOpen, false);
        p.Bool("DTR", &P::DTR, &P::SetDTR, true);
        p.Bool("RTS", &P::RTS, &P::SetRTS, true);
        p.Set<THWFlowOptions>("HWFlowOptions", &P::HWFlowOptions, &P::SetHWFlowOptions,
                              THWFlowOptionSet{},
                              {"hwfUseDTR", "hwfUseRTS", "hwfRequireDSR", "hwfRequireCTS"});
        p.Enum<TSWFlowOptions>("SWFlowOptions", &P::SWFlowOptions, &P::SetSWFlowOptions,
                               TSWFlowOptions::swfNone,
                               {"swfNone", "swfReceive", "swfTransmit", "swfBoth"});
        p.Char("XOnChar", &P::XOnChar, &P::SetXOnChar, 17);
        p.Char("XOffChar", &P::XOffChar, &P::SetXOffChar, 19);
        p.Int("BufferFull", &P::BufferFull, &P::SetBufferFull, 0);
        p.Int("BufferResume", &P::BufferResume, &P::SetBufferResume, 0);
        p.Enum<TTraceLogState>("Tracing", &P::Tracing, &P::SetTracing, TTraceLogState::tlOff,
                               traceLogStates);
        p.Int("TraceSize", &P::TraceSize, &P::SetTraceSize, 10000);
        p.Str("TraceName", &P::TraceName, &P::SetTraceName, std::nullopt);
        p.Bool("TraceHex", &P::TraceHex, &P::SetTraceHex, true);
        p.Bool("TraceAllHex", &P::TraceAllHex, &P::SetTraceAllHex, false);
        p.Enum<TTraceLogState>("Logging", &P::Logging, &P::SetLogging, TTraceLogState::tlOff,
                               traceLogStates);
        p.Int("LogSize", &P::LogSize, &P::SetLogSize, 10000);
        p.Str("LogName", &P::LogName, &P::SetLogName, std::nullopt);
        p.Bool("LogHex", &P::LogHex, &P::SetLogHex, true);
        p.Bool("LogAllHex", &P::LogAllHex, &P::SetLogAllHex, false);
        p.Bool("UseMSRShadow", &P::UseMSRShadow, &P::SetUseMSRShadow, true);
        p.Bool("UseEventWord", &P::UseEventWord, &P::SetUseEventWord, true);
        p.Int("CommNotificationLevel", &P::CommNotificationLevel, &P::SetCommNotificationLevel, 10);
        p.Enum<TTapiMode>("TapiMode", &P::TapiMode, &P::SetTapiMode, TTapiMode::tmAuto,
                          {"tmNone", "tmAuto", "tmOn", "tmOff"});
        p.Bool("RS485Mode", &P::RS485Mode, &P::SetRS485Mode, false);
        p.Event<void(TObject*, Word, Word, Word)>("OnTrigger", &P::SetOnTrigger);
        p.Event<void(TObject*, Word)>("OnTriggerAvail", &P::SetOnTriggerAvail);
        p.Event<void(TObject*, Word)>("OnTriggerData", &P::SetOnTriggerData);
        p.Event<void(TObject*, Word)>("OnTriggerStatus", &P::SetOnTriggerStatus);
        p.Event<void(TObject*, Word)>("OnTriggerTimer", &P::SetOnTriggerTimer);
        p.Event<void(TObject*, Word, bool)>("OnTriggerLineError", &P::SetOnTriggerLineError);
        p.Event<void(TObject*)>("OnTriggerModemStatus", &P::SetOnTriggerModemStatus);
        p.Event<void(TObject*)>("OnTriggerOutbuffFree", &P::SetOnTriggerOutbuffFree);
        p.Event<void(TObject*)>("OnTriggerOutbuffUsed", &P::SetOnTriggerOutbuffUsed);
        p.Event<void(TObject*)>("OnTriggerOutSent", &P::SetOnTriggerOutSent);
        p.Event<void(TObject*, char)>("OnWaitChar", &P::SetOnWaitChar);
      });
  return info;
}

void RegisterComponents() {
  framework::RegisterClass(TSioComPort::StaticClassInfo());
}

}  // namespace comport
