// The panel keys and the main menu on a scripted device: what each handler
// does to the panel state, the menu marks and the status line, and which
// command it leaves for the next tick of the command timer. No timer runs
// here; the cycle that sends the command is tested with the simulator.
#include <gtest/gtest.h>

#include <functional>

#include "PanelTestUtil.h"
#include "app/Unit1.h"
#include "framework/Menus.h"

namespace {

using namespace tesmar::test;
using app::TForm1;
// A key or menu item by its name: clicked as the user clicks it, so that
// the layout's binding is part of what is tested.
using Handler = const char*;

constexpr const char* kTail = "   запуск внутренний";
// Frequency and period have no range text: fourteen blanks stand for it.
const std::string kCounterF = "измерение F   " + std::string(14, ' ');
const std::string kCounterT = "измерение T   " + std::string(14, ' ');

class PanelKeys : public testing::Test {
 protected:
  void SetUp() override { Renew(); }
  // A fresh window; the old one closes the port first, the device takes
  // one opener at a time.
  void Renew() {
    form.reset();
    form = framework::NewObject<TForm1>();
    form->FlagLinkUp = 1;  // as after the set-up: commands go out
  }
  void Click(Handler control) {
    framework::TComponent* found = form->FindComponent(control);
    ASSERT_NE(found, nullptr) << control;
    if (auto* button = dynamic_cast<framework::TButton*>(found))
      button->Click();
    else
      dynamic_cast<framework::TMenuItem&>(*found).Click();
  }

  // Runs the handlers in order, then forgets the command they asked for,
  // so that the case's own handler can be seen sending or not.
  void Prepare(const std::vector<Handler>& steps) {
    for (Handler h : steps) Click(h);
    Quiet();
  }
  void Quiet() {
    form->Ti_CMD->SetEnabled(false);
    form->CMD_Num = -1;
    form->La_Data->SetVisible(true);
    form->FlagSkipLCD = 0;
  }
  // The command the next tick would send, "" when none was asked for.
  std::string Pending() const {
    return form->Ti_CMD->Enabled() ? form->CommandText(form->CMD_Num) : std::string();
  }
  std::vector<framework::TMenuItem*> FunctionItems() const {
    return {form->N_I, form->N_J, form->N_V, form->N_U, form->N_R, form->N_Z, form->N_F, form->N_T};
  }

  FakeCom1 device;
  std::unique_ptr<TForm1> form;
};

TEST_F(PanelKeys, FunctionKeysAndMenuChooseFunctionRangeAndMarks) {
  struct Case {
    const char* name;
    std::vector<Handler> before;
    Handler action;
    char rod, diap;
    int perem, ft;
    const char* checked;  // the function item that carries the mark
    std::string status;
  };
  const std::vector<Case> cases = {
      {"U from start", {}, "Bu_U", 'U', '1', 0, 0, "N_U", "функция U=   диапазон 2V"},
      {"~/= makes U AC", {}, "Bu_RodAdd", 'V', '1', 1, 0, "N_V", "функция U~   диапазон 2V"},
      {"~/= again makes it DC", {"Bu_RodAdd"}, "Bu_RodAdd", 'U', '1', 0, 0,
       "N_U", "функция U=   диапазон 2V"},
      {"I", {"Bu_Right"}, "Bu_I", 'I', '1', 0, 0, "N_I", "функция I=   диапазон 2А"},
      {"I after ~/= is AC", {"Bu_RodAdd"}, "Bu_I", 'J', '1', 1, 0, "N_J",
       "функция I~   диапазон 2А"},
      {"~/= on I", {"Bu_I"}, "Bu_RodAdd", 'J', '1', 1, 0, "N_J",
       "функция I~   диапазон 2А"},
      {"R keeps the range", {"Bu_Right"}, "Bu_R", 'R', '2', 0, 0, "N_R",
       "функция R   диапазон 20ком"},
      {"R again is Z", {"Bu_R"}, "Bu_R", 'Z', '1', 0, 0, "N_Z",
       "функция Z   диапазон 2ком"},
      {"Z from R 2 GOhm lands on 200 Ohm",
       {"Bu_R", "Bu_Right", "Bu_Right", "Bu_Right",
        "Bu_Right", "Bu_Right"},
       "Bu_R", 'Z', '0', 0, 0, "N_Z", "функция Z   диапазон 200ом"},
      {"U from R 20 MOhm lands on 200 mV",
       {"Bu_R", "Bu_Right", "Bu_Right", "Bu_Right",
        "Bu_Right"},
       "Bu_U", 'U', '0', 0, 0, "N_U", "функция U=   диапазон 200mV"},
      {"F/T", {}, "ButtonFT", 'F', '0', 0, 1, "N_F", kCounterF},
      {"F/T again is T", {"ButtonFT"}, "ButtonFT", 'T', '0', 0, 1, "N_T",
       kCounterT},
      {"U from F is 1000 V", {"ButtonFT"}, "Bu_U", 'U', '4', 0, 0, "N_U",
       "функция U=   диапазон 1000V"},
      {"U from F after ~/= is AC 1000 V", {"Bu_RodAdd", "ButtonFT"},
       "Bu_U", 'V', '4', 1, 0, "N_V", "функция U~   диапазон 1000V"},
      {"I from F", {"ButtonFT"}, "Bu_I", 'I', '1', 0, 0, "N_I",
       "функция I=   диапазон 2А"},
      {"R from F keeps range 0", {"ButtonFT"}, "Bu_R", 'R', '0', 0, 0, "N_R",
       "функция R   диапазон 200ом"},
      {"menu DC current", {"Bu_RodAdd"}, "N_I", 'I', '1', 0, 0, "N_I",
       "функция I=   диапазон 2А"},
      {"menu AC current", {}, "N_J", 'J', '1', 1, 0, "N_J", "функция I~   диапазон 2А"},
      {"menu AC voltage", {"Bu_Right"}, "N_V", 'V', '2', 1, 0, "N_V",
       "функция U~   диапазон 20V"},
      {"menu DC voltage from period", {"N_T"}, "N_U", 'U', '4', 0, 0, "N_U",
       "функция U=   диапазон 1000V"},
      {"menu 2-wire keeps range", {"N_Z", "Bu_Right"}, "N_R", 'R',
       '2', 0, 0, "N_R", "функция R   диапазон 20ком"},
      {"menu 4-wire", {"Bu_RodAdd"}, "N_Z", 'Z', '1', 0, 0, "N_Z",
       "функция Z   диапазон 2ком"},
      {"menu frequency", {}, "N_F", 'F', '0', 0, 1, "N_F", kCounterF},
      {"menu period", {}, "N_T", 'T', '0', 0, 1, "N_T", kCounterT},
      {"menu DC voltage then key U keeps DC", {"N_U"}, "Bu_U", 'U', '1', 0, 0,
       "N_U", "функция U=   диапазон 2V"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Renew();
    Prepare(c.before);
    Click(c.action);
    EXPECT_EQ(form->Rod, c.rod);
    EXPECT_EQ(form->Diap, c.diap);
    EXPECT_EQ(form->FlagPerem, c.perem);
    EXPECT_EQ(form->FlagFT, c.ft);
    for (framework::TMenuItem* item : FunctionItems())
      EXPECT_EQ(item->Checked(), item->Name() == c.checked) << item->Name();
    EXPECT_EQ(form->La_Stat->Caption(), c.status + kTail);
    EXPECT_FALSE(form->La_Data->Visible()) << "a change blanks the display";
    EXPECT_EQ(form->FlagSkipLCD, 1);
    EXPECT_EQ(Pending(), (std::string{c.rod, c.diap, '\n'}));
  }
}

TEST_F(PanelKeys, CountersRefuseTheAcDcKeyAndEveryRangeStep) {
  for (Handler counter : {"ButtonFT", "N_T"}) {
    Prepare({counter});
    const std::string status = form->La_Stat->Caption();
    for (Handler h : {"Bu_RodAdd", "Bu_Left", "Bu_Right",
                      "N2", "N3"}) {
      Click(h);
      EXPECT_EQ(Pending(), "");
      EXPECT_TRUE(form->La_Data->Visible());
      EXPECT_EQ(form->FlagPerem, 0);
      EXPECT_EQ(form->Diap, '0');
      EXPECT_EQ(form->La_Stat->Caption(), status);
    }
  }
}

TEST_F(PanelKeys, RangeStepsStopAtEachFunctionsEnds) {
  struct Case {
    Handler function;  // chooses the function
    char from;
    Handler step;
    char to;  // 0: refused
  };
  const std::vector<Case> cases = {
      {"Bu_U", '0', "Bu_Left", 0},
      {"Bu_U", '0', "Bu_Right", '1'},
      {"Bu_U", '3', "N2", '4'},
      {"Bu_U", '4', "Bu_Right", 0},
      {"N_V", '4', "N2", 0},
      {"N_V", '1', "N3", '0'},
      {"N_R", '5', "Bu_Right", '6'},
      {"N_R", '6', "Bu_Right", 0},
      {"N_R", '0', "N3", 0},
      {"N_Z", '3', "Bu_Right", '4'},
      {"N_Z", '4', "Bu_Right", 0},
      {"N_Z", '1', "Bu_Left", '0'},
      {"N_I", '1', "Bu_Right", 0},
      {"N_J", '1', "Bu_Left", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<char>(c.from) << " -> " << (c.to ? c.to : '-'));
    Prepare({c.function});
    form->Diap = c.from;
    form->La_Stat->SetCaption("unchanged");
    Click(c.step);
    if (c.to == 0) {
      EXPECT_EQ(form->Diap, c.from);
      EXPECT_EQ(Pending(), "");
      EXPECT_TRUE(form->La_Data->Visible());
      EXPECT_EQ(form->La_Stat->Caption(), "unchanged");
    } else {
      EXPECT_EQ(form->Diap, c.to);
      EXPECT_EQ(Pending(), (std::string{static_cast<char>(form->Rod), c.to, '\n'}));
      EXPECT_FALSE(form->La_Data->Visible());
      EXPECT_EQ(form->FlagSkipLCD, 1);
      EXPECT_NE(form->La_Stat->Caption(), "unchanged");
    }
  }
  // Auto-ranging does not stop the keys.
  Prepare({"N_U", "Bu_Up"});
  form->Bu_RightClick(nullptr);
  EXPECT_EQ(form->Diap, '2');
  EXPECT_EQ(form->La_Stat->Caption(), std::string("функция U=   АВП") + kTail);
}

TEST_F(PanelKeys, TogglesFlipTheirMarkSettingAndCommand) {
  struct Case {
    const char* name;
    Handler action;
    framework::TMenuItem* TForm1::*item;
    std::int32_t TForm1::*setting;  // null: no setting of its own
    char first, second;             // the setting after one and two clicks
    char letter;
    bool refreshesStatus;
  };
  const std::vector<Case> cases = {
      {"AVP key", "Bu_Up", &TForm1::N_A, &TForm1::AVP, '1', '0', 'A', true},
      {"AVP menu", "N_A", &TForm1::N_A, &TForm1::AVP, '1', '0', 'A', true},
      {">0< key", "Bu_Kor0", &TForm1::N_Q, &TForm1::KorVnesh, '1', '0', 'Q', true},
      {"external zero menu", "N_Q", &TForm1::N_Q, &TForm1::KorVnesh, '1', '0', 'Q', true},
      {"periodic zero", "N_N", &TForm1::N_N, &TForm1::KorPer, '1', '0', 'N', true},
      {"filter", "N_W", &TForm1::N_W, &TForm1::Filtr, '1', '0', 'W', true},
      {"backlight", "N_L", &TForm1::N_L, &TForm1::Podsvetka, '0', '1', 'L', false},
      {"sound", "N_S", &TForm1::N_S, &TForm1::Zvuk, '0', '1', 'S', false},
      {"auto-calibration", "N_K", &TForm1::N_K, nullptr, '0', '0', 'K', true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Renew();
    framework::TMenuItem* item = form.get()->*c.item;
    const bool stored = item->Checked();
    for (int click = 0; click < 2; ++click) {
      const char expected = click == 0 ? c.first : c.second;
      Quiet();
      form->La_Stat->SetCaption("unchanged");
      Click(c.action);
      if (c.setting != nullptr) {
        EXPECT_EQ(form.get()->*c.setting, expected);
      }
      EXPECT_EQ(item->Checked(), click == 0 ? !stored : stored);
      EXPECT_EQ(Pending(), (std::string{c.letter, expected, '\n'}));
      EXPECT_EQ(form->La_Stat->Caption() != "unchanged", c.refreshesStatus);
      EXPECT_TRUE(form->La_Data->Visible()) << "a mode change keeps the display";
    }
  }
}

TEST_F(PanelKeys, ZeroCorrectionOnlyForDcAndResistance) {
  struct Case {
    Handler function;
    bool acts;
  };
  const std::vector<Case> cases = {{"N_U", true},  {"N_I", true},
                                   {"N_R", true},  {"N_Z", true},
                                   {"N_V", false}, {"N_J", false},
                                   {"N_F", false}, {"N_T", false}};
  for (const Case& c : cases) {
    Prepare({c.function});
    for (Handler h : {"Bu_Kor0", "N_Q"}) {
      form->N_Q->SetChecked(false);
      form->KorVnesh = '0';
      Quiet();
      Click(h);
      SCOPED_TRACE(static_cast<char>(form->Rod));
      EXPECT_EQ(form->N_Q->Checked(), c.acts);
      EXPECT_EQ(form->KorVnesh, c.acts ? '1' : '0');
      EXPECT_EQ(Pending(), c.acts ? "Q1\n" : "");
    }
  }
}

TEST_F(PanelKeys, ResolutionTriggerAndTheirMarks) {
  struct Case {
    Handler action;
    char razresh;
    const char* checked;
  };
  // The key steps 2 -> 0 -> 1 -> 2; the items set their own value.
  const std::vector<Case> cases = {
      {"Bu_Razresh", '0', "N_H0"}, {"Bu_Razresh", '1', "N_H1"},
      {"Bu_Razresh", '2', "N_H2"}, {"N_H1", '1', "N_H1"},
      {"N_H0", '0', "N_H0"},       {"N_H2", '2', "N_H2"},
  };
  for (const Case& c : cases) {
    Quiet();
    form->La_Stat->SetCaption("unchanged");
    Click(c.action);
    SCOPED_TRACE(c.checked);
    EXPECT_EQ(form->Razresh, c.razresh);
    for (framework::TMenuItem* item : {form->N_H0, form->N_H1, form->N_H2})
      EXPECT_EQ(item->Checked(), item->Name() == c.checked) << item->Name();
    EXPECT_EQ(Pending(), (std::string{'H', c.razresh, '\n'}));
    EXPECT_EQ(form->La_Stat->Caption(), "unchanged");
  }

  Quiet();
  form->N_G0Click(nullptr);
  EXPECT_TRUE(form->N_G0->Checked());
  EXPECT_FALSE(form->N_G1->Enabled()) << "the periodic trigger cannot be chosen";
  EXPECT_FALSE(form->La_Data->Visible());
  EXPECT_EQ(form->FlagSkipLCD, 0) << "the next reading is shown";
  EXPECT_EQ(form->La_Stat->Caption(), std::string("функция U=   диапазон 2V") + kTail);
  EXPECT_EQ(Pending(), "G0B1\n");
}

TEST_F(PanelKeys, StatusTextsForEveryFunctionAndRange) {
  struct Case {
    char rod, diap;
    std::string status, unit, forma;
  };
  const std::vector<Case> cases = {
      {'U', '0', "функция U=   диапазон 200mV", "mV", "="},
      {'U', '1', "функция U=   диапазон 2V", "V", "="},
      {'U', '2', "функция U=   диапазон 20V", "V", "="},
      {'U', '3', "функция U=   диапазон 200V", "V", "="},
      {'V', '4', "функция U~   диапазон 1000V", "V", "~"},
      {'I', '1', "функция I=   диапазон 2А", "А", "="},
      {'J', '1', "функция I~   диапазон 2А", "А", "~"},
      {'R', '0', "функция R   диапазон 200ом", "ом", " "},
      {'R', '1', "функция R   диапазон 2ком", "ком", " "},
      {'R', '2', "функция R   диапазон 20ком", "ком", " "},
      {'R', '3', "функция R   диапазон 200ком", "ком", " "},
      {'Z', '4', "функция Z   диапазон 2Mом", "Mом", " "},
      {'R', '5', "функция R   диапазон 20Mом", "Mом", " "},
      {'R', '6', "функция R   диапазон 2Гом", "Гом", " "},
      {'F', '0', kCounterF, "Hz", " "},
      {'T', '0', kCounterT, "мкс", " "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    form->Rod = c.rod;
    form->Diap = c.diap;
    form->StatusBar();
    EXPECT_EQ(form->La_Stat->Caption(), c.status + kTail);
    EXPECT_EQ(form->La_Razmer->Caption(), c.unit);
    EXPECT_EQ(form->La_Forma->Caption(), c.forma);
  }
  // The Latin and Cyrillic letters are not interchangeable.
  form->Rod = 'Z';
  form->Diap = '4';
  form->StatusBar();
  EXPECT_EQ(form->La_Razmer->Caption(), "M\xD0\xBE\xD0\xBC");
  form->Rod = 'I';
  form->Diap = '1';
  form->StatusBar();
  EXPECT_EQ(form->La_Razmer->Caption(), "\xD0\x90");

  // A pair without a text keeps the range part and the unit.
  form->Rod = 'I';
  form->Diap = '3';
  form->StatusBar();
  EXPECT_EQ(form->La_Stat->Caption(), std::string("функция I=   диапазон 2А") + kTail);
  EXPECT_EQ(form->La_Razmer->Caption(), "А");
  // With auto-ranging the range part says so and the unit stays.
  form->N_A->SetChecked(true);
  form->Rod = 'R';
  form->Diap = '0';
  form->StatusBar();
  EXPECT_EQ(form->La_Stat->Caption(), std::string("функция R   АВП") + kTail);
  EXPECT_EQ(form->La_Razmer->Caption(), "А");
}

TEST_F(PanelKeys, TheMenuAsStored) {
  struct Item {
    const char* name;
    const char* caption;
    bool checked, radio, enabled;
  };
  const std::vector<Item> items = {
      {"N_G0", "Внутренний", true, true, true},
      {"N_G1", "Программный периодический", false, true, false},
      {"N_U", "Постоянное напряжение", true, true, true},
      {"N_R", "Сопротивление 2x", false, true, true},
      {"N_Z", "Сопротивление 4\xD1\x85", false, true, true},
      {"N_H2", "5,5", true, true, true},
      {"N_A", "АВП", false, false, true},
      {"N_K", "Атокалибровка", false, false, true},
      {"N_L", "Подсветка", true, false, true},
      {"N_S", "Звук", true, false, true},
      {"Com11", "Com1", true, true, true},
      {"N96001", "9600", true, true, true},
      {"N3001", "300", false, true, true},
  };
  for (const Item& i : items) {
    SCOPED_TRACE(i.name);
    auto& item = form->Component<framework::TMenuItem>(i.name);
    EXPECT_EQ(item.Caption(), i.caption);
    EXPECT_EQ(item.Checked(), i.checked);
    EXPECT_EQ(item.RadioItem(), i.radio);
    EXPECT_EQ(item.Enabled(), i.enabled);
  }
  const auto& bar = form->Component<framework::TMainMenu>("MainMenu1").Items();
  std::vector<std::string> top;
  for (int i = 0; i < bar.Count(); ++i) top.push_back(bar.Items(i)->Caption());
  EXPECT_EQ(top, (std::vector<std::string>{"Запуск", "Выбор параметра", "Режим", "Интерфейс"}));
  const auto& mode = form->Component<framework::TMenuItem>("N11");
  ASSERT_EQ(mode.Count(), 10);
  EXPECT_EQ(mode.Items(0)->Caption(), "Изменение предела");
  EXPECT_EQ(mode.Items(9)->Caption(), "Общий сброс");
  // A click checks nothing by itself, a disabled item cannot be clicked.
  form->N_G1->Click();
  EXPECT_TRUE(form->N_G0->Checked());
  EXPECT_FALSE(form->N_G1->Checked());
}

}  // namespace
