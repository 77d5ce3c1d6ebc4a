// The Qt event loop serves the main thread's platform message queue:
// messages posted and sent from other threads reach a hidden window, also
// while a modal dialog runs, and a throwing window procedure is reported.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

#include "TestSupport.h"
#include "framework/Forms.h"
#include "platform/messages.h"

namespace framework {
namespace {

using namespace platform;

constexpr UINT kPing = WM_USER + 1;
constexpr UINT kAsk = WM_USER + 2;
constexpr UINT kThrow = WM_USER + 3;
constexpr UINT kCloseDialog = WM_USER + 4;

std::atomic<int> g_pings{0};
TForm* g_dialog = nullptr;  // main thread only

LRESULT TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kPing: ++g_pings; return 0;
    case kAsk: return static_cast<LRESULT>(wParam * 2);
    case kThrow: throw Exception("window procedure failed");
    case kCloseDialog:
      if (g_dialog != nullptr) g_dialog->SetModalResult(mrOk);
      return 7;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

class MessageLoopTest : public testing::Test {
 protected:
  void SetUp() override {
    static bool registered = [] {
      WNDCLASSA windowClass;
      windowClass.lpfnWndProc = TestWindowProc;
      windowClass.lpszClassName = "fwTestWindow";
      return RegisterClassA(&windowClass) != 0;
    }();
    ASSERT_TRUE(registered);
    window = CreateWindowExA(0, "fwTestWindow", "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    ASSERT_NE(window, 0);
    g_pings = 0;
  }
  void TearDown() override { DestroyWindow(window); }

  // Runs a plain Qt event loop (no explicit pumping) until Worker ends.
  void RunLoopWhile(const std::function<void()>& worker) {
    QEventLoop loop;
    std::thread thread([&] {
      worker();
      QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    thread.join();
  }

  HWND window = 0;
  test::ExceptionCatcher caught;
};

TEST_F(MessageLoopTest, PostedAndSentMessagesFromAnotherThreadReachTheWindow) {
  DWORD_PTR answer = 0;
  LRESULT sent = 0;
  RunLoopWhile([&] {
    for (int i = 0; i < 100; ++i) PostMessageA(window, kPing, 0, 0);
    sent = SendMessageTimeoutA(window, kAsk, 21, 0, SMTO_NORMAL, 3000, &answer);
  });
  EXPECT_NE(sent, 0);
  EXPECT_EQ(answer, 42u);
  // Posted before the send, so handled before it.
  EXPECT_EQ(g_pings.load(), 100);
}

TEST_F(MessageLoopTest, AModalDialogKeepsServingMessages) {
  TForm dialog;
  g_dialog = &dialog;
  DWORD_PTR answer = 0;
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    SendMessageTimeoutA(window, kCloseDialog, 0, 0, SMTO_NORMAL, 3000, &answer);
  });
  QTimer::singleShot(5000, dialog.View(), [&] { dialog.SetModalResult(mrAbort); });
  TModalResult result = dialog.ShowModal();
  worker.join();
  g_dialog = nullptr;
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(answer, 7u);
}

TEST_F(MessageLoopTest, AnExceptionFromAWindowProcedureIsReportedAndTheLoopGoesOn) {
  DWORD_PTR answer = 0;
  RunLoopWhile([&] {
    PostMessageA(window, kThrow, 0, 0);
    PostMessageA(window, kPing, 0, 0);
    SendMessageTimeoutA(window, kAsk, 1, 0, SMTO_NORMAL, 3000, &answer);
  });
  ASSERT_EQ(caught.texts.size(), 1u);
  EXPECT_EQ(caught.texts[0], "window procedure failed");
  EXPECT_EQ(g_pings.load(), 1);
  EXPECT_EQ(answer, 2u);
}

}  // namespace
}  // namespace framework
