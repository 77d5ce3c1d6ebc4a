// The adapter pulled while the panel measures, on a real display: no
// message box at all (a box per failed call was the fault), the strip says
// "Нет связи", and once the instrument is back as COM1 the panel opens it,
// probes and sets it up by itself.
#include <gtest/gtest.h>

#include <filesystem>

#include "GuiTestUtil.h"
#include "app/Unit1.h"
#include "framework/Application.h"
#include "framework/StdCtrls.h"
#include "tools/k4sim/Simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace tesmar::gui;
using app::TForm1;

std::unique_ptr<k4sim::Simulator> StartCom1() {
  k4sim::Options options;
  options.comNumber = 1;
  options.dosdevices = DosDevices().string();
  return std::make_unique<k4sim::Simulator>(options);
}

TEST(VanishedDevice, ThePanelSaysSoWithoutABoxAndTakesThePortBack) {
  std::error_code ignored;
  fs::remove(DosDevices() / "com1", ignored);
  auto sim = StartCom1();
  BoxDriver boxes;
  auto form = framework::NewObject<TForm1>();
  form->Show();
  ASSERT_TRUE(PumpUntil([&] { return form->FlagLinkUp && form->La_Data->Visible(); }, 20000ms));

  sim.reset();
  // What an adapter's stable link is while it is unplugged.
  LinkCom1(DosDevices().parent_path() / "pulled-adapter");
  ASSERT_TRUE(PumpUntil([&] { return !form->SioComPort1->Open(); }, 20000ms));
  PumpFor(1500ms);
  EXPECT_TRUE(boxes.texts.empty()) << testing::PrintToString(boxes.texts);
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusNoLink);
  EXPECT_FALSE(form->La_Data->Visible());
  SaveForInspection(GrabScreen(), "vanished_device.png");

  fs::remove(DosDevices() / "com1", ignored);
  sim = StartCom1();
  ASSERT_TRUE(PumpUntil([&] { return form->FlagLinkUp != 0; }, 20000ms)) << "set up again";
  const std::string received = sim->Received();
  EXPECT_EQ(received.substr(received.find_first_not_of('!')), "G0B1Y0B1M1\nU1H2A0W0S1N0Q0L1\n");
  ASSERT_TRUE(PumpUntil([&] { return form->La_Data->Visible(); }, 20000ms));
  EXPECT_TRUE(boxes.texts.empty()) << testing::PrintToString(boxes.texts);
  SaveForInspection(GrabScreen(), "vanished_device_back.png");
}

}  // namespace
