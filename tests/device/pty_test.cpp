// End to end over a pseudo-terminal with the simulator, through the three
// worker threads: commands out, echoes and measurement lines in, trigger
// messages to a window, and many opens and closes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "DeviceTestUtil.h"
#include "tools/k4sim/Simulator.h"

namespace device_test {
namespace {

constexpr int kSimCom = 52;

std::size_t EntriesIn(const char* folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

// What the window procedure below works on; set by the test before the
// window can receive anything, read only on the main thread.
struct WindowScript {
  Probe* dispatcher = nullptr;
  bool closeOnTrigger = false;
  int availMessages = 0;
  std::string received;
};
WindowScript script;

platform::LRESULT CALLBACK_Window(platform::HWND window, platform::UINT message,
                                  platform::WPARAM wParam, platform::LPARAM lParam) {
  if (message != dispatcher::MsgTriggerAvail) {
    return platform::DefWindowProcA(window, message, wParam, lParam);
  }
  ++script.availMessages;
  EXPECT_EQ(static_cast<std::int32_t>(static_cast<std::uint32_t>(lParam) >> 16),
            script.dispatcher->DispatcherHandle);
  BYTE c = 0;
  while (script.dispatcher->ReadChar(c) == 0) script.received.push_back(static_cast<char>(c));
  if (script.closeOnTrigger) script.dispatcher->CloseLine();
  return 0;
}

class PtyTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::WNDCLASSA windowClass;
    windowClass.lpfnWndProc = &CALLBACK_Window;
    windowClass.lpszClassName = "deviceTestWindow";
    platform::RegisterClassA(&windowClass);
  }

  void SetUp() override {
    k4sim::Options options;
    options.comNumber = kSimCom;
    options.dosdevices =
        (std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "tesmar" / "dosdevices").string();
    options.lineInterval = lineInterval;
    sim = std::make_unique<k4sim::Simulator>(options);
    script = WindowScript{};
    script.dispatcher = dispatcher.get();
  }
  void TearDown() override {
    if (window != 0) platform::DestroyWindow(window);
    dispatcher.reset();
    sim.reset();
  }
  errors::ResultCode Open() {
    // The instrument's framing: 9600 baud, 7 data bits, even parity.
    return dispatcher->OpenPort(kSimCom, 9600, 2, 7, 1, 4096, 4096, 0x03);
  }
  void ListenWithWindow() {
    window = platform::CreateWindowExA(0, "deviceTestWindow", "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    ASSERT_NE(window, 0);
    dispatcher->AddWindowReceiver(window);
    dispatcher->UpdateHandlerFlags(1);
    dispatcher->SetAvailLength(1);
  }

  std::chrono::milliseconds lineInterval{20};
  std::unique_ptr<k4sim::Simulator> sim;
  std::unique_ptr<Probe> dispatcher = std::make_unique<Probe>();
  platform::HWND window = 0;
};

TEST_F(PtyTest, CommandEchoAndLinesReachTheWindowThroughTheThreads) {
  ASSERT_EQ(Open(), 0);
  ListenWithWindow();
  ASSERT_EQ(dispatcher->WriteBlock("!", 1), 0);
  EXPECT_TRUE(PumpUntil([&] {
    return script.received.find('!') != std::string::npos &&
           script.received.find('\n') != std::string::npos;
  }));
  EXPECT_GT(script.availMessages, 0);
  // A command line, paced character by character as the panel sends it.
  for (char c : std::string("F1\n")) {
    const std::size_t before = script.received.size();
    ASSERT_EQ(dispatcher->WriteBlock(&c, 1), 0);
    ASSERT_TRUE(PumpUntil([&] { return script.received.size() > before; }));
  }
  EXPECT_TRUE(PumpUntil([&] { return sim->Counters().commandLines >= 1; }));
  EXPECT_EQ(sim->Received(), "!F1\n");
}

TEST_F(PtyTest, HandshakesLinuxCannotDoFailWithTheirCode) {
  ASSERT_EQ(Open(), 0);
  constexpr errors::ResultCode kNotSupported = -50;
  EXPECT_EQ(dispatcher->SetHardwareFlow(100, 10, 1), kNotSupported);  // DTR handshake
  EXPECT_EQ(dispatcher->SetHardwareFlow(100, 10, 4), kNotSupported);  // DSR flow
  // The line still works with the settings it had.
  EXPECT_EQ(dispatcher->SetHardwareFlow(100, 10, 0), 0);
  ASSERT_EQ(dispatcher->WriteBlock("!", 1), 0);
  std::string got;
  EXPECT_TRUE(PumpUntil([&] {
    BYTE c = 0;
    while (dispatcher->ReadChar(c) == 0) got.push_back(static_cast<char>(c));
    return got.find('!') != std::string::npos;
  }));
}

TEST_F(PtyTest, CloseFromInsideATriggerHandlerFinishesOnTheDispatchThread) {
  ASSERT_EQ(Open(), 0);
  script.closeOnTrigger = true;
  ListenWithWindow();
  ASSERT_TRUE(PumpUntil([&] { return script.availMessages > 0; }));
  EXPECT_EQ(script.availMessages, 1);
  EXPECT_TRUE(PumpUntil([&] { return !dispatcher->ThreadsStarted.load(); }));
  EXPECT_EQ(dispatcher->ActiveThreads.load(), 0);
  EXPECT_EQ(dispatcher->OutRing, nullptr);
  EXPECT_FALSE(dispatcher->HasThreadEvents());
}

class PtyCycleTest : public PtyTest {
 protected:
  PtyCycleTest() { lineInterval = std::chrono::milliseconds(1000); }
};

TEST_F(PtyCycleTest, ThousandOpensAndClosesLeaveNothingBehindAndLoseNoByte) {
  constexpr int kCycles = 1000;
  // One cycle first: the process's lazily made helpers (the message queue,
  // the string readers) are not leaks.
  ASSERT_EQ(Open(), 0);
  dispatcher->CloseLine();
  const std::size_t fds = EntriesIn("/proc/self/fd");
  const std::size_t threads = EntriesIn("/proc/self/task");
  const std::uint64_t probes = sim->Counters().probes;

  for (int cycle = 0; cycle < kCycles; ++cycle) {
    ASSERT_EQ(Open(), 0) << "cycle " << cycle;
    ASSERT_EQ(dispatcher->WriteBlock("!", 1), 0);
    std::string got;
    ASSERT_TRUE(PumpUntil([&] {
      BYTE c = 0;
      while (dispatcher->ReadChar(c) == 0) got.push_back(static_cast<char>(c));
      return got.find('!') != std::string::npos;
    })) << "cycle " << cycle << " got \"" << got << "\"";
    dispatcher->CloseLine();
    ASSERT_FALSE(dispatcher->ThreadsStarted.load());
    ASSERT_FALSE(dispatcher->AnyThreadObject());
  }
  EXPECT_EQ(sim->Counters().probes - probes, static_cast<std::uint64_t>(kCycles));
  EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
  // A sanitizer's runtime may start one helper thread of its own meanwhile;
  // a worker left behind per cycle would show by the hundred.
  EXPECT_LE(EntriesIn("/proc/self/task"), threads + 1);
}

}  // namespace
}  // namespace device_test
