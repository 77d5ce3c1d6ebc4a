// A port that cannot be opened at start-up, on a real display: the message
// box opens while the window is still being made, and its event loop serves
// timers and messages meanwhile. The box is answered with Enter through the
// X server; the panel must then run on with the port closed, having shown
// the failure once, and try the port again by itself, silently, until it
// opens.
#include <gtest/gtest.h>

#include <QColor>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <functional>

#include "GuiTestUtil.h"
#include "app/Recording.h"
#include "app/Unit1.h"
#include "framework/Application.h"
#include "platform/serial_fake.h"
#include "tools/k4sim/Simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace tesmar::gui;
using app::TForm1;

// The window sits where its layout puts it, (147, 50), with no frame
// under Xvfb; the lime display begins 16 + 24 pixels into the client area,
// which begins under the 19-pixel menu bar.
QColor DisplayColourOnScreen(const QImage& screen) { return screen.pixelColor(147 + 16 + 20, 50 + 19 + 24 + 10); }

TEST(StartUpFaults, AFailedOpenIsShownOnceAndThePanelRunsOn) {
  struct Case {
    const char* name;
    std::function<fs::path()> target;  // what COM1 points at
    const char* message;
  };
  const fs::path scratch = DosDevices().parent_path() / "scratch";
  fs::create_directories(scratch);
  const std::vector<Case> cases = {
      {"missing device", [&] { return scratch / "gone"; }, "ie_BadId - Specified comport doesn't exist"},
      {"regular file",
       [&] {
         std::ofstream(scratch / "file") << "not a port";
         return scratch / "file";
       },
       "ie_BadId - Specified comport doesn't exist"},
      {"directory", [&] { return scratch; }, "ie_BadId - Specified comport doesn't exist"},
      {"/dev/null", [] { return fs::path("/dev/null"); }, "ie_BadId - Specified comport doesn't exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkCom1(c.target());
    BoxDriver boxes;
    auto form = framework::NewObject<TForm1>();
    ASSERT_EQ(boxes.texts.size(), 1u) << "the box opened while the window was made: " << testing::PrintToString(boxes.texts);
    EXPECT_EQ(FirstLine(boxes.texts[0]), c.message);
    EXPECT_EQ(boxes.failedKeys, 0);
    form->Show();
    // The reset timer's start-up, the tries to open again every second and
    // everything after them run; none may show the failure again.
    PumpFor(1300ms);
    EXPECT_EQ(boxes.texts.size(), 1u);
    EXPECT_FALSE(form->SioComPort1->Open());
    ASSERT_TRUE(form->View()->isVisible());
    const QImage screen = GrabScreen();
    EXPECT_EQ(DisplayColourOnScreen(screen), QColor(0, 255, 0)) << "the panel is drawn on the screen";
    if (&c == &cases.front()) {
      SaveForInspection(boxes.screens.at(0), "startup_box.png");
      SaveForInspection(screen, "startup_after_enter.png");
    }
  }
}

TEST(StartUpFaults, ASecondPanelOnTheSamePortIsToldItIsTaken) {
  k4sim::Options options;
  options.comNumber = 1;
  options.dosdevices = DosDevices().string();
  std::error_code ignored;
  fs::remove(DosDevices() / "com1", ignored);
  k4sim::Simulator sim(options);
  BoxDriver boxes;
  auto first = framework::NewObject<TForm1>();
  EXPECT_TRUE(first->SioComPort1->Open());
  EXPECT_TRUE(boxes.texts.empty());
  auto second = framework::NewObject<TForm1>();
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(FirstLine(boxes.texts[0]), "ie_Open - device already open");
  second->Show();
  app::TRecorder recorder(*second);
  const fs::path rows = DosDevices().parent_path() / "second.csv";
  ASSERT_TRUE(recorder.StartRecording(rows.string()));
  PumpFor(1300ms);
  EXPECT_EQ(boxes.texts.size(), 1u);
  EXPECT_TRUE(first->SioComPort1->Open()) << "the first panel keeps its port";
  EXPECT_FALSE(second->SioComPort1->Open());

  // The first panel quits: the second takes the port over and measures.
  first.reset();
  ASSERT_TRUE(PumpUntil([&] { return recorder.Session().RowsQueued() >= 2; }, 10000ms));
  EXPECT_TRUE(second->SioComPort1->Open());
  EXPECT_TRUE(second->La_Data->Visible());
  EXPECT_EQ(boxes.texts.size(), 1u) << testing::PrintToString(boxes.texts);
}

}  // namespace
