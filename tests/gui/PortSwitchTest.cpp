// A switch to a port that is not there, on a real display: the box is
// answered as a user answers it, then the user goes back to the port of
// the instrument. The measuring cycle must run again by itself, readings
// and recorded rows alike, without a key being pressed.
#include <gtest/gtest.h>

#include <filesystem>

#include "GuiTestUtil.h"
#include "app/Recording.h"
#include "app/Unit1.h"
#include "framework/Application.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "tools/k4sim/Simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace tesmar::gui;
using app::TForm1;

void ClickItem(framework::TMenuItem* item) {
  framework::CallGuarded(item, [item] { item->Click(); });
}

TEST(PortSwitch, BackFromAFailedSwitchTheCycleRunsAgain) {
  std::error_code ignored;
  fs::remove(DosDevices() / "com1", ignored);
  fs::remove(DosDevices() / "com2", ignored);
  fs::create_symlink(DosDevices().parent_path() / "no-second-port", DosDevices() / "com2");
  k4sim::Options options;
  options.comNumber = 1;
  options.dosdevices = DosDevices().string();
  k4sim::Simulator sim(options);
  BoxDriver boxes;
  auto form = framework::NewObject<TForm1>();
  form->Show();
  app::TRecorder recorder(*form);
  ASSERT_TRUE(recorder.StartRecording((DosDevices().parent_path() / "switch.csv").string()));
  ASSERT_TRUE(PumpUntil([&] { return recorder.Session().RowsQueued() >= 2; }, 20000ms));

  ClickItem(form->Com21);
  ASSERT_EQ(boxes.texts.size(), 1u) << "the user's own switch fails visibly";
  PumpFor(1500ms);
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusNoLink) << "no healthy strip on a closed port";
  EXPECT_FALSE(form->La_Data->Visible());

  const std::uint64_t rows = recorder.Session().RowsQueued();
  ClickItem(form->Com11);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Session().RowsQueued() >= rows + 2; }, 20000ms))
      << "the cycle stayed frozen; strip: " << form->La_Stat->Caption();
  EXPECT_TRUE(form->SioComPort1->Open());
  EXPECT_TRUE(form->La_Data->Visible());
  EXPECT_TRUE(form->Com11->Checked());
  EXPECT_EQ(boxes.texts.size(), 1u) << testing::PrintToString(boxes.texts);
  SaveForInspection(GrabScreen(), "port_switch_back.png");
  fs::remove(DosDevices() / "com2", ignored);
}

}  // namespace
