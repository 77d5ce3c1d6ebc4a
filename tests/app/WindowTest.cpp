// The main window as a whole: its picture rendered offscreen, and keys and
// menu items clicked while the simulator measures, each command arriving
// at the instrument through the window's own cycle.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "PanelTestUtil.h"
#include "app/Unit1.h"
#include "framework/Menus.h"

namespace {

using namespace tesmar::test;
using app::TForm1;

TEST(WindowPicture, LooksLikeTheInstrument) {
  FakeCom1 device;
  auto form = framework::NewObject<TForm1>();
  form->Ti_Reset->SetEnabled(false);
  form->Ti_Diag->SetEnabled(false);
  form->La_Data->SetCaption("+1.23456 ");
  form->La_Data->SetVisible(true);
  form->La_Razmer->SetVisible(true);
  form->La_Forma->SetVisible(true);
  form->La_Stat->SetCaption(app::kStatusSetupDone);
  const auto out = DosDevices().parent_path() / "window.png";
  ASSERT_TRUE(form->SaveImage(out.string()));
  QImage image(QString::fromStdString(out.string()));
  // 626 x 318 outside: a 618 x 272 client area under a 19-pixel menu bar.
  ASSERT_EQ(image.width(), 618);
  ASSERT_EQ(image.height(), 272 + 19);
  const int top = 19;
  EXPECT_EQ(image.pixelColor(16 + 20, top + 24 + 10), QColor(0, 255, 0)) << "lime display";
  EXPECT_EQ(image.pixelColor(300, top + 215), QColor(192, 192, 192)) << "silver panel";
  EXPECT_EQ(image.pixelColor(376 + 5, top + 72 + 5), QColor(192, 192, 192)) << "silver key block";
  EXPECT_EQ(image.pixelColor(610, top + 265), QColor(0, 0, 0)) << "black status strip";
  const auto count = [&](int x0, int y0, int x1, int y1, auto&& pick) {
    int n = 0;
    for (int x = x0; x < x1; ++x)
      for (int y = y0; y < y1; ++y) n += pick(image.pixelColor(x, y)) ? 1 : 0;
    return n;
  };
  // White status text, a dark reading on the display, and the hidden
  // service panel's place plain silver.
  EXPECT_GT(count(16, top + 242, 300, top + 255, [](QColor c) { return c.lightness() > 200; }), 50);
  EXPECT_GT(count(16 + 96, top + 24 + 40, 16 + 231, top + 24 + 77,
                  [](QColor c) { return c.lightness() < 60; }), 100);
  EXPECT_EQ(count(272, top + 152, 361, top + 225, [](QColor c) { return c != QColor(192, 192, 192); }),
            0);
  std::error_code ignored;
  std::filesystem::copy_file(out, "/tmp/tesmar_window_offscreen.png",
                             std::filesystem::copy_options::overwrite_existing, ignored);
}

TEST(WindowKeys, ClickedKeysAndItemsReachTheInstrument) {
  auto sim = StartSimulator();
  auto form = framework::NewObject<TForm1>();
  // Measuring: a key pressed during the set-up would ride on it instead.
  ASSERT_TRUE(PumpUntil([&] { return form->FlagLinkUp && form->La_Data->Visible(); }, 20000ms));
  ExceptionRecorder recorder;

  using State = k4sim::InstrumentState;
  struct Case {
    const char* control;  // a key or a menu item
    std::string sent;
    std::function<bool(const State&)> done;
  };
  const std::vector<Case> cases = {
      {"Bu_R", "R1\n", [](const State& s) { return s.function == 'R'; }},
      {"Bu_Right", "R2\n", [](const State& s) { return s.range == '2'; }},
      {"ButtonFT", "F0\n", [](const State& s) { return s.function == 'F'; }},
      {"Bu_U", "U4\n", [](const State& s) { return s.function == 'U' && s.range == '4'; }},
      {"N_H0", "H0\n", [](const State& s) { return s.resolution == '0'; }},
      {"Bu_Up", "A1\n", [](const State& s) { return s.autoRange == '1'; }},
      {"Bu_Kor0", "Q1\n", [](const State& s) { return s.externalZero == '1'; }},
      {"N_W", "W1\n", [](const State& s) { return s.filter == '1'; }},
      {"N_N", "N1\n", [](const State& s) { return s.periodicZero == '1'; }},
      {"N_S", "S0\n", [](const State& s) { return s.sound == '0'; }},
      {"N_L", "L0\n", [](const State& s) { return s.backlight == '0'; }},
      {"N_K", "K0\n", [](const State& s) { return s.autoCalibrations == 1; }},
      {"N_G0", "G0B1\n", [](const State& s) { return s.trigger == '0'; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    const std::size_t mark = sim->Received().size();
    framework::TComponent* control = form->FindComponent(c.control);
    if (auto* key = dynamic_cast<framework::TButton*>(control))
      framework::CallGuarded(key, [key] { key->Click(); });
    else
      framework::CallGuarded(control, [control] { static_cast<framework::TMenuItem*>(control)->Click(); });
    ASSERT_TRUE(PumpUntil([&] { return sim->Received().size() >= mark + c.sent.size(); }, 20000ms));
    EXPECT_EQ(sim->Received().substr(mark), c.sent);
    EXPECT_TRUE(PumpUntil([&] { return c.done(sim->State()); }, 20000ms));
  }
  EXPECT_TRUE(recorder.texts.empty());
  // Readings go on, at 3 1/2 digits now, and the display comes back.
  ASSERT_TRUE(PumpUntil([&] { return form->La_Data->Visible(); }, 20000ms));
  EXPECT_EQ(form->La_Data->Caption().size(), 7u) << form->La_Data->Caption();
  EXPECT_EQ(form->La_Stat->Caption(), "функция U=   АВП   запуск внутренний");
}

}  // namespace
