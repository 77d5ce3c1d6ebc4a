// The device layer over a real serial line: the system's CreateFile opens
// COMn, where the simulator answers. The probe, the set-up line paced by
// the instrument's echoes, and a reading, each through the three worker
// threads and a trigger message to a window of this thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/thread.h"
#include "tests/device/DeviceTestUtil.h"

namespace line_test {
namespace {

using device_test::Probe;
using device_test::PumpUntil;
using namespace std::chrono_literals;

// What the window procedure works on; read and written on this thread only.
struct WindowScript {
  Probe* dispatcher = nullptr;
  int triggers = 0;
  std::string received;
};
WindowScript script;

platform::LRESULT TriggerWindow(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                platform::LPARAM lParam) {
  if (message != dispatcher::MsgTriggerAvail)
    return platform::DefWindowProcA(window, message, wParam, lParam);
  ++script.triggers;
  platform::BYTE c = 0;
  while (script.dispatcher->ReadChar(c) == 0) script.received.push_back(static_cast<char>(c));
  return 0;
}

// The received text from the first line feed on has a whole line: a
// reading the instrument sent after `from`.
bool HasWholeLineAfter(std::size_t from) {
  const std::size_t start = script.received.find('\n', from);
  if (start == std::string::npos) return false;
  const std::size_t end = script.received.find('\n', start + 1);
  return end != std::string::npos && end - start > 7;
}

TEST(Line, ProbeSetUpAndAReadingPassTheWorkerThreads) {
  const char* com = std::getenv("TESMAR_LINE_COM");
  ASSERT_NE(com, nullptr) << "TESMAR_LINE_COM names the port the simulator answers on";
  // Trigger messages come to the window of this, the main, thread.
  platform::SetMainThreadId(platform::GetCurrentThreadId());
  platform::WNDCLASSA windowClass;
  windowClass.lpfnWndProc = &TriggerWindow;
  windowClass.lpszClassName = "lineTestWindow";
  ASSERT_NE(platform::RegisterClassA(&windowClass), 0);

  auto dispatcher = std::make_unique<Probe>();
  script = WindowScript{};
  script.dispatcher = dispatcher.get();
  // The instrument's framing: 9600 baud, 7 data bits, even parity.
  ASSERT_EQ(dispatcher->OpenPort(std::atoi(com), 9600, 2, 7, 1, 4096, 4096, 0x03), 0);
  const platform::HWND window =
      platform::CreateWindowExA(0, "lineTestWindow", "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  ASSERT_NE(window, 0);
  dispatcher->AddWindowReceiver(window);
  dispatcher->UpdateHandlerFlags(1);
  dispatcher->SetAvailLength(1);

  // The probe, until the instrument answers it as the panel does.
  ASSERT_TRUE(PumpUntil(
      [&] {
        if (script.received.find('!') != std::string::npos) return true;
        EXPECT_EQ(dispatcher->WriteBlock("!", 1), 0);
        return PumpUntil([&] { return script.received.find('!') != std::string::npos; }, 500ms);
      },
      20s));
  // The set-up line, each character paced by the one that answers it.
  for (char c : std::string("G0B1Y0B1M1\n")) {
    const std::size_t before = script.received.size();
    ASSERT_EQ(dispatcher->WriteBlock(&c, 1), 0);
    ASSERT_TRUE(PumpUntil([&] { return script.received.size() > before; })) << c;
  }
  const std::size_t afterSetUp = script.received.size();
  EXPECT_TRUE(PumpUntil([&] { return HasWholeLineAfter(afterSetUp); }));
  EXPECT_GT(script.triggers, 0);

  dispatcher->CloseLine();
  EXPECT_FALSE(dispatcher->ThreadsStarted.load());
  platform::DestroyWindow(window);
}

}  // namespace
}  // namespace line_test
