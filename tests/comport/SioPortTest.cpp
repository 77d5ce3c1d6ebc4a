#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "PortTestUtil.h"
#include "comport/SioPort.h"
#include "errors/SioExcept.h"
#include "framework/Application.h"
#include "framework/Layout.h"
#include "platform/serial_fake.h"
#include "tests/support/ExceptionRecorder.h"
#include "tools/k4sim/Simulator.h"

namespace {

using namespace std::chrono_literals;
using comport::TSioComPort;
using platform::FakeSerialDevice;
using tesmar::test::PumpFor;
using tesmar::test::PumpUntil;

struct TriggerCall {
  comport::Word msg, handle, data;
};

using tesmar::test::FakePort;

std::unique_ptr<TSioComPort> MakePort(int number) {
  auto port = std::make_unique<TSioComPort>();
  port->SetComNumber(static_cast<comport::Word>(number));
  return port;
}

using ::test::ExceptionRecorder;

TEST(SioComPort, DefaultsAndStoredSettingsReachTheDeviceAtOpen) {
  FakePort fake(41);
  TSioComPort port;
  EXPECT_EQ(port.ComNumber(), 0);
  EXPECT_EQ(port.Baud(), 19200);
  EXPECT_EQ(port.Parity(), comport::TParity::pNone);
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.InSize(), 4096);
  EXPECT_TRUE(port.AutoOpen());
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.Version(), "v3.02");

  port.SetComNumber(41);
  port.SetBaud(300);
  port.SetParity(comport::TParity::pEven);
  port.SetDataBits(7);
  EXPECT_TRUE(fake->StatesSet().empty()) << "nothing reaches a closed port";
  port.SetOpen(true);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(port.OpenState(), comport::osOpen);
  EXPECT_NE(port.NotifyWindow(), 0);
  ASSERT_FALSE(fake->StatesSet().empty());
  platform::DCB dcb = fake->StatesSet().back();
  EXPECT_EQ(dcb.BaudRate, 300u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, platform::EVENPARITY);
  EXPECT_EQ(dcb.StopBits, platform::ONESTOPBIT);

  port.SetBaud(9600);  // open: applied at once
  EXPECT_EQ(fake->StatesSet().back().BaudRate, 9600u);
  port.SetOpen(false);
  EXPECT_EQ(port.OpenState(), comport::osClosed);
  EXPECT_EQ(port.NotifyWindow(), 0);
  EXPECT_FALSE(fake->IsOpen());
}

TEST(SioComPort, FailedOpensRaiseTheirClassAndLeaveThePortClosed) {
  FakePort fake(42);
  struct Case {
    int comNumber;
    platform::DWORD openError;
    std::string message;
    const char* secondLineSays = "";  // what else the message must say
  };
  // A port held elsewhere and one this user may not open are one class
  // but two messages; each names the port.
  const std::vector<Case> cases = {
      {0, 0, "The ComNumber property of the TSioComPort has not been set"},
      {42, platform::ERROR_FILE_NOT_FOUND, "ie_BadId - Specified comport doesn't exist",
       "COM42: no serial device (no link com42 in "},
      {42, platform::ERROR_PATH_NOT_FOUND, "ie_BadId - Specified comport doesn't exist", "COM42"},
      {42, platform::ERROR_SHARING_VIOLATION, "ie_Open - device already open",
       "COM42: Another program holds the port."},
      {42, platform::ERROR_ACCESS_DENIED, "Access to COM42 is denied", "'dialout' group"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    fake->SetOpenError(c.openError);
    TSioComPort port;
    port.SetPromptForPort(false);
    port.SetComNumber(static_cast<comport::Word>(c.comNumber));
    try {
      port.SetOpen(true);
      ADD_FAILURE() << "no exception";
    } catch (const errors::EOpenComm& e) {
      EXPECT_EQ(e.Message().substr(0, e.Message().find('\n')), c.message);
      EXPECT_NE(e.Message().find(c.secondLineSays), std::string::npos) << e.Message();
      if (c.openError == platform::ERROR_ACCESS_DENIED ||
          c.openError == platform::ERROR_SHARING_VIOLATION) {
        EXPECT_NE(dynamic_cast<const errors::EAlreadyOpen*>(&e), nullptr);
      }
    }
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.OpenState(), comport::osClosed);
    EXPECT_EQ(port.NotifyWindow(), 0);
  }
  fake->SetOpenError(0);
  TSioComPort port;
  port.SetComNumber(42);
  port.SetAutoOpen(false);
  EXPECT_THROW(port.FlushInput(), errors::ECommNotOpen);
  EXPECT_THROW(port.CharAvailable(), errors::ECommNotOpen);
  port.SetAutoOpen(true);
  port.FlushInput();  // opens it
  EXPECT_TRUE(port.Open());
}

TEST(SioComPort, ReadsTakeWhatCameAndNothingMore) {
  FakePort fake(43);
  auto port = MakePort(43);
  port->SetOpen(true);
  EXPECT_FALSE(port->CharAvailable());
  EXPECT_THROW(port->ReadChar(), errors::EBufferIsEmpty);

  fake->InjectReceived("abc");
  ASSERT_TRUE(PumpUntil([&] { return port->CharAvailable(); }));
  char block[4] = {};
  try {
    port->ReadBlock(block, 4);
    ADD_FAILURE() << "a short block was taken";
  } catch (const errors::EBufferIsEmpty& e) {
    EXPECT_EQ(e.Message(), "Buffer is empty");
  }
  EXPECT_EQ(port->ReadChar(), 'a') << "a failed block read takes nothing";
  port->ReadBlock(block, 2);
  EXPECT_EQ(std::string(block, 2), "bc");
  EXPECT_FALSE(port->CharAvailable());

  fake->InjectReceived("\xC0\xFF");
  ASSERT_TRUE(PumpUntil([&] { return port->CharAvailable(); }));
  EXPECT_EQ(static_cast<unsigned char>(port->ReadChar()), 0xC0);
  EXPECT_EQ(static_cast<unsigned char>(port->ReadChar()), 0xFF);

  fake->InjectReceived("xyz");
  ASSERT_TRUE(PumpUntil([&] { return port->CharAvailable(); }));
  port->FlushInput();
  EXPECT_FALSE(port->CharAvailable());
  fake->InjectReceived("1");
  ASSERT_TRUE(PumpUntil([&] { return port->CharAvailable(); }));
  EXPECT_EQ(port->ReadChar(), '1');
}

TEST(SioComPort, WritesQueueWithinTheOutputSizeAndFlushDiscardsThem) {
  FakePort fake(44);
  auto port = MakePort(44);
  port->SetOutSize(4);
  port->SetOpen(true);
  EXPECT_EQ(port->WriteBlock("G0", 2), 0);
  ASSERT_TRUE(PumpUntil([&] { return fake->Written() == "G0"; })) << "the output thread sends it";

  // The device holds the next write: what waits behind it fills the ring.
  // The output thread may already hold part of it, so count the characters
  // that fit: never more than the ring and one write's worth.
  fake->SetWriteMode(FakeSerialDevice::WriteMode::kPend);
  int queued = 0;
  try {
    for (; queued < 16; ++queued) EXPECT_EQ(port->WriteBlock("B", 1), 0) << "returns at once";
    ADD_FAILURE() << "the ring never filled";
  } catch (const errors::EOutputBufferTooSmall& e) {
    EXPECT_EQ(e.Message(), "Output buffer too small for block");
    EXPECT_EQ(e.ResultCode(), -3006);
  }
  EXPECT_GE(queued, 4);
  EXPECT_LE(queued, 8);
  port->FlushOutput();
  fake->SetWriteMode(FakeSerialDevice::WriteMode::kComplete);
  EXPECT_EQ(port->WriteBlock("M1\n", 3), 0) << "the flush freed the ring";
  ASSERT_TRUE(PumpUntil([&] {
    const std::string w = fake->Written();
    return w.size() >= 3 && w.substr(w.size() - 3) == "M1\n";
  }));
}

TEST(SioComPort, ReceivedCharactersRaiseOnTriggerOnTheWindowThread) {
  FakePort fake(45);
  auto port = MakePort(45);
  port->SetOpen(true);
  fake->InjectReceived("ab");
  PumpFor(100ms);  // no handler: nothing to call, nothing taken

  std::vector<TriggerCall> calls;
  const auto windowThread = std::this_thread::get_id();
  bool onWindowThread = true;
  port->SetOnTrigger([&](framework::TObject* cp, comport::Word msg, comport::Word handle,
                         comport::Word data) {
    EXPECT_EQ(cp, port.get());
    onWindowThread = onWindowThread && std::this_thread::get_id() == windowThread;
    calls.push_back({msg, handle, data});
    char c[2];
    port->ReadBlock(c, static_cast<comport::Word>(std::min<int>(data, 2)));
  });
  fake->InjectReceived("c");
  ASSERT_TRUE(PumpUntil([&] { return !calls.empty(); }));
  EXPECT_TRUE(onWindowThread);
  EXPECT_EQ(calls[0].msg, dispatcher::MsgTriggerAvail);
  EXPECT_EQ(calls[0].handle, calls[0].data);
  EXPECT_GE(calls[0].data, 1);
  EXPECT_LE(calls[0].data, 3);

  // A message naming another line raises nothing.
  const std::size_t before = calls.size();
  platform::DWORD_PTR result = 99;
  platform::SendMessageTimeoutA(port->NotifyWindow(), dispatcher::MsgTriggerAvail, 1, 7 << 16,
                                platform::SMTO_NORMAL, 100, &result);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(calls.size(), before);
}

TEST(SioComPort, CloseInsideOnTriggerCompletesLaterAndMayReopen) {
  FakePort fake(46);
  auto port = MakePort(46);
  port->SetOpen(true);
  std::vector<TriggerCall> calls;
  std::vector<bool> wishes;  // Open written after the close, in the handler
  bool ioWasNoOp = false;
  port->SetOnTrigger([&](framework::TObject*, comport::Word msg, comport::Word handle,
                         comport::Word data) {
    calls.push_back({msg, handle, data});
    if (msg != dispatcher::MsgTriggerAvail || port->OpenState() != comport::osOpen) return;
    port->SetOpen(false);
    ioWasNoOp = port->OpenState() == comport::osClosing && !port->Open() &&
                port->ReadChar() == '\0' && !port->CharAvailable() && port->WriteBlock("x", 1) == 0;
    port->FlushInput();
    for (bool wish : wishes) port->SetOpen(wish);
  });

  fake->InjectReceived("1");
  ASSERT_TRUE(PumpUntil([&] { return port->OpenState() == comport::osClosed; }));
  EXPECT_TRUE(ioWasNoOp);
  EXPECT_FALSE(fake->IsOpen());
  EXPECT_EQ(fake->Written(), "") << "nothing is written while closing";
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.back().msg, comport::MsgFinishClose);
  EXPECT_EQ(calls.back().data, 0);

  // The last wish wins.
  const std::vector<std::pair<std::vector<bool>, bool>> cases = {
      {{true}, true}, {{true, false}, false}, {{true, false, true}, true}, {{false, true}, true}};
  for (const auto& [written, reopens] : cases) {
    SCOPED_TRACE(testing::PrintToString(written));
    wishes = written;
    if (!port->Open()) port->SetOpen(true);
    calls.clear();
    fake->InjectReceived("2");
    ASSERT_TRUE(PumpUntil([&] {
      return !calls.empty() && calls.back().msg == comport::MsgFinishClose &&
             port->OpenState() != comport::osClosing;
    }));
    EXPECT_EQ(port->Open(), reopens);
    EXPECT_EQ(fake->IsOpen(), reopens);
    EXPECT_EQ(port->NotifyWindow() != 0, reopens);
    EXPECT_FALSE(port->ReopenPending());
  }
}

TEST(SioComPort, DestroyedWhileACloseIsPendingLeavesNothingBehind) {
  FakePort fake(47);
  auto port = MakePort(47);
  port->SetOpen(true);
  platform::HWND window = port->NotifyWindow();
  bool closed = false;
  port->SetOnTrigger([&](framework::TObject*, comport::Word msg, comport::Word, comport::Word) {
    if (msg == dispatcher::MsgTriggerAvail && !closed) {
      closed = true;
      port->SetOpen(false);
    }
  });
  fake->InjectReceived("1");
  ASSERT_TRUE(PumpUntil([&] { return closed; }));
  port.reset();
  EXPECT_FALSE(platform::IsWindow(window));
  EXPECT_FALSE(fake->IsOpen());
  PumpFor(50ms);  // a finish-close message left behind would find nobody
}

TEST(SioComPort, SwitchingThePortNumberMovesTheIo) {
  FakePort first(48);
  FakePort second(49);
  auto port = MakePort(48);
  port->SetOpen(true);
  port->WriteBlock("1", 1);
  // A close discards what is still queued: let the output thread send it.
  ASSERT_TRUE(PumpUntil([&] { return first->Written() == "1"; }));
  port->SetOpen(false);
  port->SetComNumber(49);
  port->SetOpen(true);
  port->WriteBlock("2", 1);
  ASSERT_TRUE(PumpUntil([&] { return second->Written() == "2"; }));
  EXPECT_EQ(first->Written(), "1");
  EXPECT_FALSE(first->IsOpen());
  port->SetComNumber(48);  // while open: closes and reopens on the new number
  EXPECT_TRUE(first->IsOpen());
  EXPECT_FALSE(second->IsOpen());
}

class LoadedForm : public framework::TComponent {
 public:
  static const framework::TClassInfo& StaticClassInfo() {
    static const framework::TClassInfo info =
        framework::DefineClass<LoadedForm>("TLoadedPortOwner", &framework::TComponent::StaticClassInfo());
    return info;
  }
  const framework::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

TEST(SioComPort, OpenStoredInALayoutHappensWhenLoadingEnds) {
  comport::RegisterComponents();
  FakePort fake(50);
  const char* text = R"(Owner : TLoadedPortOwner {
    Port : TSioComPort {
      Open = true
      ComNumber = 50
      Baud = 9600
      Parity = pEven
      DataBits = 7
      InSize = 64
      OutSize = 64
      TraceName = "SIO.TRC"
      LogName = "SIO.LOG"
    }
  })";
  {
    LoadedForm owner;
    framework::ReadLayout(text, owner);
    auto& port = owner.Component<TSioComPort>("Port");
    EXPECT_TRUE(port.Open());
    ASSERT_FALSE(fake->StatesSet().empty());
    EXPECT_EQ(fake->StatesSet().back().BaudRate, 9600u) << "opened with every stored setting";
    EXPECT_EQ(fake->StatesSet().back().ByteSize, 7);
    const std::string written = framework::WriteLayout(owner);
    EXPECT_NE(written.find("TraceName = \"SIO.TRC\""), std::string::npos);
    EXPECT_EQ(written.find("Version"), std::string::npos);
  }
  EXPECT_FALSE(fake->IsOpen()) << "destroying the owner closes the port";

  ExceptionRecorder recorder;
  fake->SetOpenError(platform::ERROR_FILE_NOT_FOUND);
  LoadedForm owner;
  framework::ReadLayout(text, owner);
  ASSERT_EQ(recorder.texts.size(), 1u);
  EXPECT_EQ(recorder.texts[0].substr(0, recorder.texts[0].find('\n')),
            "ie_BadId - Specified comport doesn't exist");
  EXPECT_FALSE(owner.Component<TSioComPort>("Port").Open());
}

// The user hears of a port that cannot be opened once, not again from
// every handler that touches the closed port.
TEST(SioComPort, ARepeatedFailureOfTheAutomaticOpenIsSilent) {
  FakePort fake(51);
  fake->SetOpenError(platform::ERROR_FILE_NOT_FOUND);
  TSioComPort port;
  port.SetComNumber(51);
  auto silentFailure = [](auto&& call) {
    try {
      call();
    } catch (const errors::EBadId& e) {
      return e.Silent() ? 1 : 0;
    }
    return -1;  // no failure
  };
  EXPECT_EQ(silentFailure([&] { port.SetOpen(true); }), 0);
  EXPECT_EQ(silentFailure([&] { port.FlushInput(); }), 1);
  EXPECT_EQ(silentFailure([&] { port.CharAvailable(); }), 1);
  EXPECT_EQ(silentFailure([&] { port.SetOpen(true); }), 0) << "an explicit open is always heard";
  port.SetComNumber(52);
  port.SetComNumber(51);
  EXPECT_EQ(silentFailure([&] { port.FlushInput(); }), 0) << "another port number is news";
  fake->SetOpenError(0);
  EXPECT_EQ(silentFailure([&] { port.FlushInput(); }), -1);
  EXPECT_TRUE(port.Open());
}

TEST(SioComPort, TriggersWaitWhileTheOwningFormIsUnderConstruction) {
  FakePort fake(53);
  LoadedForm owner;
  owner.BeginConstruction();
  auto* port = framework::NewComponent<TSioComPort>(owner);
  port->SetComNumber(53);
  port->SetOpen(true);
  int calls = 0;
  port->SetOnTrigger([&](framework::TObject*, comport::Word, comport::Word, comport::Word) {
    ++calls;
    port->FlushInput();
  });
  fake->InjectReceived("ab");
  PumpFor(100ms);
  EXPECT_EQ(calls, 0);
  owner.EndConstruction();
  ASSERT_TRUE(PumpUntil([&] { return calls > 0; }));
  EXPECT_EQ(calls, 1);
}

TEST(SioComPort, TalksToTheSimulatorOverAPty) {
  k4sim::Options options;
  options.comNumber = 51;
  options.dosdevices = (std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "tesmar" / "dosdevices").string();
  k4sim::Simulator sim(options);
  auto port = MakePort(51);
  port->SetBaud(9600);
  port->SetParity(comport::TParity::pEven);
  port->SetDataBits(7);
  port->SetOpen(true);
  port->FlushInput();
  // Lines stream all the time; the pacing answer to '!' is among them.
  port->WriteBlock("!", 1);
  std::string got;
  ASSERT_TRUE(PumpUntil([&] {
    while (port->CharAvailable()) got += port->ReadChar();
    return got.find('!') != std::string::npos && got.find('\n') != std::string::npos;
  }));
  EXPECT_GE(sim.Counters().probes, 1u);
}

}  // namespace

namespace {

std::size_t EntriesIn(const char* folder) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
// The sanitizers make each cycle ten times dearer.
constexpr int kOpenCloseCycles = kSanitized ? 1000 : 10000;

// Opening and closing the component starts and stops three workers, a
// hidden window and the device every time: nothing of it may stay behind.
TEST(SioComPort, OpensAndClosesOverAPtyLeaveNothingBehind) {
  k4sim::Options options;
  options.comNumber = 52;
  options.dosdevices =
      (std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "tesmar" / "dosdevices").string();
  k4sim::Simulator sim(options);
  auto port = MakePort(52);
  port->SetBaud(9600);
  port->SetParity(comport::TParity::pEven);
  port->SetDataBits(7);
  auto probe = [&](int cycle) {
    port->FlushInput();
    port->WriteBlock("!", 1);
    std::string got;
    EXPECT_TRUE(PumpUntil([&] {
      while (port->CharAvailable()) got += port->ReadChar();
      return got.find('!') != std::string::npos;
    })) << "cycle "
        << cycle;
  };
  // A close that meets a delivery under way (the simulator streams, and the
  // component's own window receiver makes every event a delivery) finishes
  // in the message loop; until then SetOpen(true) only records the wish.
  auto close = [&] {
    port->SetOpen(false);
    return PumpUntil([&] { return port->OpenState() == comport::osClosed; });
  };
  // A first round makes the process's lazily built helpers.
  for (int cycle = 0; cycle < 50; ++cycle) {
    port->SetOpen(true);
    probe(cycle);
    ASSERT_TRUE(close()) << "cycle " << cycle;
  }
  const std::size_t fds = EntriesIn("/proc/self/fd");
  const std::size_t threads = EntriesIn("/proc/self/task");
  const long resident = ResidentKiB();
  const std::uint64_t probes = sim.Counters().probes;
  int probed = 0;
  for (int cycle = 0; cycle < kOpenCloseCycles; ++cycle) {
    port->SetOpen(true);
    ASSERT_TRUE(port->Open()) << "cycle " << cycle;
    if (cycle % 100 == 0) {
      probe(cycle);
      ++probed;
    }
    ASSERT_TRUE(close()) << "cycle " << cycle;
    ASSERT_FALSE(port->Open()) << "cycle " << cycle;
  }
  EXPECT_GE(sim.Counters().probes - probes, static_cast<std::uint64_t>(probed));
  EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
  // A sanitizer's runtime may start one helper thread of its own meanwhile;
  // workers left behind would show by the hundred.
  EXPECT_LE(EntriesIn("/proc/self/task"), threads + 1);
  // A leak of even a few hundred bytes a cycle would pass this by megabytes.
  // A sanitizer holds freed memory back on purpose; its leak check stands in.
  if (!kSanitized) {
    EXPECT_LE(ResidentKiB() - resident, 2048) << "resident KiB grew from " << resident;
  }
}

}  // namespace
