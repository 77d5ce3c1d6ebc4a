// Flow control, the trace and log settings and copying of the port
// component, on a scripted device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PortTestUtil.h"
#include "comport/SioPort.h"
#include "errors/SioExcept.h"
#include "platform/serial.h"
#include "platform/serial_fake.h"
#include "tools/k4sim/Simulator.h"

namespace {

namespace fs = std::filesystem;
using comport::THWFlowOptions;
using comport::THWFlowOptionSet;
using comport::TSioComPort;
using comport::TSWFlowOptions;
using comport::TTraceLogState;
using platform::FakeSerialDevice;
using tesmar::test::PumpUntil;

using tesmar::test::FakePort;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A scratch folder for dump files, removed afterwards.
class DumpFolder {
 public:
  DumpFolder() : path_(fs::temp_directory_path() / ("sioport-" + std::to_string(::getpid()))) {
    fs::create_directories(path_);
  }
  ~DumpFolder() { fs::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

TEST(SioPortFlow, ThresholdsFollowTheOptionsRules) {
  struct Case {
    const char* name;
    std::function<void(TSioComPort&)> write;
    int full, resume;
  };
  const std::vector<Case> cases = {
      {"hardware flow derives 90% and 10%",
       [](TSioComPort& p) { p.SetHWFlowOptions({THWFlowOptions::hwfUseRTS}); }, 57, 6},
      {"software flow derives 75% and 25%",
       [](TSioComPort& p) { p.SetSWFlowOptions(TSWFlowOptions::swfBoth); }, 48, 16},
      {"a full mark above InSize is cut to 90% of itself",
       [](TSioComPort& p) { p.SetBufferFull(100); }, 90, 0},
      {"a full mark above InSize is re-derived while flow is on",
       [](TSioComPort& p) {
         p.SetSWFlowOptions(TSWFlowOptions::swfReceive);
         p.SetBufferFull(100);
       },
       48, 16},
      {"a resume mark above the full mark becomes a tenth of it",
       [](TSioComPort& p) {
         p.SetBufferFull(50);
         p.SetBufferResume(60);
       },
       50, 5},
      {"thresholds in range stay",
       [](TSioComPort& p) {
         p.SetBufferFull(40);
         p.SetBufferResume(10);
         p.SetHWFlowOptions({THWFlowOptions::hwfRequireCTS});
       },
       40, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSioComPort port;
    port.SetInSize(64);
    c.write(port);
    EXPECT_EQ(port.BufferFull(), c.full);
    EXPECT_EQ(port.BufferResume(), c.resume);
  }
}

TEST(SioPortFlow, RtsFlowEndsRs485AndRs485DropsRtsFlow) {
  TSioComPort port;
  port.SetHWFlowOptions({THWFlowOptions::hwfUseRTS, THWFlowOptions::hwfUseDTR});
  port.SetRS485Mode(true);
  EXPECT_EQ(port.HWFlowOptions(), THWFlowOptionSet{THWFlowOptions::hwfUseDTR});
  EXPECT_FALSE(port.RTS());
  port.SetHWFlowOptions({THWFlowOptions::hwfRequireCTS});
  EXPECT_FALSE(port.RS485Mode());
}

TEST(SioPortFlow, OptionsReachTheDevice) {
  FakePort fake(31);
  TSioComPort port;
  port.SetComNumber(31);
  port.SetInSize(64);
  // Stored while closed, applied at the open.
  port.SetHWFlowOptions({THWFlowOptions::hwfRequireCTS});
  port.SetSWFlowOptions(TSWFlowOptions::swfTransmit);
  port.SetXOnChar('A');
  port.SetOpen(true);
  const auto last = [&] { return fake->StatesSet().back(); };
  ASSERT_FALSE(fake->StatesSet().empty());
  EXPECT_TRUE((last().Flags & platform::DCB_fOutxCtsFlow) != 0);
  EXPECT_TRUE((last().Flags & platform::DCB_fOutX) != 0);
  EXPECT_EQ(last().XonChar, 'A');
  // Software flow turned on, or its thresholds written, while open: the
  // device keeps the component's characters, not XON and XOFF.
  port.SetXOffChar('B');
  port.SetSWFlowOptions(TSWFlowOptions::swfBoth);
  EXPECT_TRUE((last().Flags & platform::DCB_fInX) != 0);
  EXPECT_EQ(last().XonChar, 'A');
  EXPECT_EQ(last().XoffChar, 'B');
  port.SetBufferFull(40);
  EXPECT_EQ(last().XoffLim, 64 - 40);
  EXPECT_EQ(last().XonChar, 'A');
  EXPECT_EQ(last().XoffChar, 'B');
}

TEST(SioPortFlow, ARefusedOptionOrLineChangesNothing) {
  FakePort fake(38);
  TSioComPort port;
  port.SetComNumber(38);
  port.SetOpen(true);
  fake->FailSetState(platform::ERROR_NOT_SUPPORTED);
  EXPECT_THROW(port.SetHWFlowOptions({THWFlowOptions::hwfUseDTR}), comport::EFlowNotSupported);
  fake->FailSetState(0);
  // DTR is still the program's to drive.
  port.SetDTR(false);
  EXPECT_FALSE(fake->Dtr());
  EXPECT_FALSE(port.DTR());
  // Under RTS handshake the device drives RTS: the write is refused and
  // the property keeps the line's value.
  port.SetHWFlowOptions({THWFlowOptions::hwfUseRTS});
  port.SetRTS(false);
  EXPECT_TRUE(port.RTS());
}

TEST(SioPortFlow, OptionsLinuxLacksSaySo) {
  k4sim::Options options;
  options.comNumber = 36;
  options.dosdevices =
      (fs::path(std::getenv("XDG_CONFIG_HOME")) / "tesmar" / "dosdevices").string();
  k4sim::Simulator sim(options);
  TSioComPort port;
  port.SetComNumber(36);
  port.SetInSize(64);
  port.SetOpen(true);
  port.SetHWFlowOptions({THWFlowOptions::hwfRequireCTS});
  for (THWFlowOptions option : {THWFlowOptions::hwfUseDTR, THWFlowOptions::hwfRequireDSR}) {
    try {
      port.SetHWFlowOptions({option});
      ADD_FAILURE() << "an option Linux lacks was accepted";
    } catch (const comport::EFlowNotSupported& e) {
      EXPECT_NE(e.Message().find("not available on Linux"), std::string::npos) << e.Message();
      EXPECT_EQ(e.ResultCode(), -50);
    }
    EXPECT_EQ(port.HWFlowOptions(), THWFlowOptionSet{THWFlowOptions::hwfRequireCTS})
        << "the option keeps its old value";
  }
}

TEST(SioPortRecorders, StatesWhileClosedAndTheSizeCaps) {
  TSioComPort port;
  const std::vector<std::pair<TTraceLogState, TTraceLogState>> stored = {
      {TTraceLogState::tlOn, TTraceLogState::tlOn},      {TTraceLogState::tlDump, TTraceLogState::tlOff},
      {TTraceLogState::tlOn, TTraceLogState::tlOn},      {TTraceLogState::tlPause, TTraceLogState::tlOff},
      {TTraceLogState::tlAppend, TTraceLogState::tlOff}, {TTraceLogState::tlClear, TTraceLogState::tlOff},
  };
  for (auto [written, read] : stored) {
    port.SetTracing(written);
    EXPECT_EQ(port.Tracing(), read);
    port.SetLogging(written);
    EXPECT_EQ(port.Logging(), read);
  }
  port.SetTraceSize(5000000);
  EXPECT_EQ(port.TraceSize(), 4000000u);
  port.SetLogSize(20000000);
  EXPECT_EQ(port.LogSize(), 16000000u);
}

TEST(SioPortRecorders, StateTableOnAnOpenPort) {
  FakePort fake(32);
  DumpFolder folder;
  enum File { kUntouched, kWritten, kAppended };
  struct Case {
    std::vector<TTraceLogState> writes;
    TTraceLogState expected;
    File file;
  };
  using S = TTraceLogState;
  const std::vector<Case> cases = {
      {{S::tlOn}, S::tlOn, kUntouched},
      {{S::tlOn, S::tlPause}, S::tlPause, kUntouched},
      {{S::tlOn, S::tlPause, S::tlOn}, S::tlOn, kUntouched},
      {{S::tlOn, S::tlClear}, S::tlOn, kUntouched},
      {{S::tlOn, S::tlPause, S::tlClear}, S::tlPause, kUntouched},
      {{S::tlOn, S::tlOff}, S::tlOff, kUntouched},
      {{S::tlOn, S::tlDump}, S::tlOff, kWritten},
      {{S::tlOn, S::tlAppend}, S::tlOff, kAppended},
      {{S::tlOn, S::tlPause, S::tlAppend}, S::tlOff, kAppended},
      {{S::tlDump}, S::tlOff, kUntouched},
      {{S::tlPause}, S::tlOff, kUntouched},
  };
  const std::string before = "before\n";
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index);
    const std::string traceFile = folder.File("t" + std::to_string(index) + ".trc");
    const std::string logFile = folder.File("l" + std::to_string(index) + ".log");
    ++index;
    for (const std::string& file : {traceFile, logFile}) std::ofstream(file) << before;
    TSioComPort port;
    port.SetComNumber(32);
    port.SetTraceName(traceFile);
    port.SetLogName(logFile);
    port.SetOpen(true);
    for (S state : c.writes) {
      port.SetTracing(state);
      port.SetLogging(state);
      port.WriteBlock("U", 1);  // something to record while a recorder runs
    }
    EXPECT_EQ(port.Tracing(), c.expected);
    EXPECT_EQ(port.Logging(), c.expected);
    for (const std::string& file : {traceFile, logFile}) {
      const std::string text = ReadFile(file);
      EXPECT_EQ(text == before, c.file == kUntouched) << file;
      EXPECT_EQ(text.rfind(before, 0) == 0, c.file != kWritten) << file;
    }
  }
}

TEST(SioPortRecorders, CloseWritesTheFilesAndAPortChangeGoesOn) {
  FakePort first(33);
  FakePort second(34);
  DumpFolder folder;
  TSioComPort port;
  port.SetComNumber(33);
  port.SetTraceName(folder.File("first.trc"));
  port.SetLogName(folder.File("first.log"));
  port.SetTracing(TTraceLogState::tlOn);  // stored; starts with the open
  port.SetLogging(TTraceLogState::tlOn);
  port.SetOpen(true);
  EXPECT_EQ(port.Tracing(), TTraceLogState::tlOn);
  port.WriteBlock("U1\n", 3);

  port.SetComNumber(34);  // open: the old trace is written, a new one starts
  EXPECT_EQ(port.Tracing(), TTraceLogState::tlOn);
  EXPECT_EQ(port.Logging(), TTraceLogState::tlOn);
  EXPECT_EQ(ReadFile(folder.File("first.trc")), "Transmit: \r\nU1[0A]");
  EXPECT_NE(ReadFile(folder.File("first.log")).find("WriteCom"), std::string::npos);

  port.SetTraceName(folder.File("second.trc"));
  port.WriteBlock("R", 1);
  port.SetTraceSize(20);  // a running trace restarts empty with the new size
  EXPECT_EQ(port.Tracing(), TTraceLogState::tlOn);
  port.WriteBlock("2", 1);
  port.SetOpen(false);
  EXPECT_EQ(port.Tracing(), TTraceLogState::tlOff);
  EXPECT_EQ(port.Logging(), TTraceLogState::tlOff);
  EXPECT_EQ(ReadFile(folder.File("second.trc")), "Transmit: \r\n2");

  // Opened again on the same files: later closes, a port change among them,
  // append to what the earlier ones wrote, each after a blank line.
  port.SetTracing(TTraceLogState::tlOn);
  port.SetLogging(TTraceLogState::tlOn);
  port.SetOpen(true);
  port.WriteBlock("3", 1);
  port.SetComNumber(33);
  port.WriteBlock("4", 1);
  port.SetOpen(false);
  EXPECT_EQ(ReadFile(folder.File("second.trc")),
            "Transmit: \r\n2\r\n\r\nTransmit: \r\n3\r\n\r\nTransmit: \r\n4");
  const std::string log = ReadFile(folder.File("first.log"));
  std::size_t headers = 0;
  for (std::size_t at = log.find("SIO v3.02"); at != std::string::npos; at = log.find("SIO v3.02", at + 1))
    ++headers;
  EXPECT_EQ(headers, 4u) << "every session of the log, none written over";
}

TEST(SioPortSettings, WritesTheOpenPortCannotTakeAreRefused) {
  FakePort fake(39);
  TSioComPort port;
  port.SetComNumber(39);
  port.SetInSize(64);
  port.SetOutSize(32);
  port.SetOpen(true);
  // The thresholds and the output ring were sized at the open.
  EXPECT_THROW(port.SetInSize(128), errors::EAlreadyOpen);
  EXPECT_THROW(port.SetOutSize(16), errors::EAlreadyOpen);
  EXPECT_EQ(port.InSize(), 64);
  EXPECT_EQ(port.OutSize(), 32);
  port.SetHWFlowOptions({THWFlowOptions::hwfUseRTS});
  EXPECT_EQ(fake->StatesSet().back().XoffLim, 64 - 57);
  EXPECT_THROW(port.WriteBlock(std::string(33, 'x').data(), 33), errors::ESIOException);
  // A trace larger than the largest is refused, not cut down unasked.
  port.SetTraceSize(100);
  try {
    port.TraceBegin(comport::kMaxTraceSize + 1);
    ADD_FAILURE() << "accepted";
  } catch (const errors::EBadArgument& e) {
    EXPECT_EQ(e.ResultCode(), -1002);
  }
  EXPECT_EQ(port.TraceSize(), 100u);
  EXPECT_EQ(port.Tracing(), TTraceLogState::tlOff);
  port.SetOpen(false);
  port.SetInSize(128);
  EXPECT_EQ(port.InSize(), 128);
}

TEST(SioPortRecorders, AnUnwritableTraceStillClosesThePort) {
  FakePort fake(37);
  TSioComPort port;
  port.SetComNumber(37);
  port.SetTraceName("/no/such/folder/x.trc");
  port.SetTracing(TTraceLogState::tlOn);
  port.SetOpen(true);
  port.WriteBlock("U", 1);
  EXPECT_THROW(port.SetOpen(false), errors::EInOutError);
  EXPECT_EQ(port.OpenState(), comport::osClosed);
  EXPECT_FALSE(fake->IsOpen());
  EXPECT_EQ(port.Tracing(), TTraceLogState::tlOn) << "kept for the next open";
  port.SetTracing(TTraceLogState::tlOff);
  port.SetOpen(true);
  EXPECT_TRUE(port.Open());
}

TEST(SioPortCopy, AssignCopiesSettingsClosedAndOnlyThePrimaryEvents) {
  FakePort fake(35);
  TSioComPort source;
  source.SetComNumber(35);
  source.SetBaud(9600);
  source.SetInSize(64);
  source.SetBufferFull(40);
  source.SetTracing(TTraceLogState::tlOn);
  source.SetTraceName("copy.trc");
  int calls = 0;
  source.SetOnTrigger([&](framework::TObject*, comport::Word, comport::Word, comport::Word) { ++calls; });
  source.SetOnTriggerOutSent([&](framework::TObject*) { ++calls; });

  TSioComPort copy;
  copy.Assign(source);
  EXPECT_EQ(copy.ComNumber(), 35);
  EXPECT_EQ(copy.Baud(), 9600);
  EXPECT_EQ(copy.InSize(), 64);
  EXPECT_EQ(copy.BufferFull(), 40);
  EXPECT_EQ(copy.Tracing(), TTraceLogState::tlOn);
  EXPECT_EQ(copy.TraceName(), "copy.trc");
  EXPECT_TRUE(static_cast<bool>(copy.OnTrigger()));
  EXPECT_FALSE(static_cast<bool>(copy.OnTriggerOutSent()));
  EXPECT_FALSE(copy.Open());

  // A paused recorder is copied as off: the copy would read "tracing" and
  // record nothing.
  source.SetOpen(true);
  source.SetLogging(TTraceLogState::tlOn);
  source.SetTracing(TTraceLogState::tlPause);
  source.SetLogging(TTraceLogState::tlPause);
  ASSERT_EQ(source.Tracing(), TTraceLogState::tlPause);
  TSioComPort pausedCopy;
  pausedCopy.Assign(source);
  EXPECT_EQ(pausedCopy.Tracing(), TTraceLogState::tlOff);
  EXPECT_EQ(pausedCopy.Logging(), TTraceLogState::tlOff);
  source.SetTracing(TTraceLogState::tlOff);
  source.SetLogging(TTraceLogState::tlOff);
  source.SetOpen(false);

  // An open copy target is closed for real, so that it can open again.
  copy.SetTracing(TTraceLogState::tlOff);
  copy.SetOpen(true);
  ASSERT_EQ(copy.OpenState(), comport::osOpen);
  copy.Assign(source);
  EXPECT_EQ(copy.OpenState(), comport::osClosed);
  EXPECT_FALSE(fake->IsOpen());
  copy.SetTracing(TTraceLogState::tlOff);
  copy.SetOpen(true);
  EXPECT_TRUE(copy.Open());
}

TEST(SioPortMisc, ShadowAndNeutralResults) {
  TSioComPort port;
  port.SetUseMSRShadow(false);
  EXPECT_TRUE(port.UseMSRShadow());
  port.SetDeviceLayer(comport::TDeviceLayer::dlWinsock);
  EXPECT_EQ(port.DeviceLayer(), comport::TDeviceLayer::dlWin32);
  EXPECT_EQ(port.TakeLineError(), 0);
  EXPECT_FALSE(port.TakeLineBreak());
  port.SetTapiMode(comport::TTapiMode::tmOn);
  EXPECT_THROW(port.SetOpen(true), errors::ENotOpenedByTapi);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.Dispatcher(), nullptr);
}

}  // namespace
