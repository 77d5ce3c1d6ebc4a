// Stored layouts: values of every kind, defaults and the writer, a round
// trip, event bindings, and malformed text rejected with its line.
#include <gtest/gtest.h>

#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Layout.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"

namespace framework {
namespace {

// A component with the value kinds the standard controls do not publish.
class TProbe : public TComponent {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TProbe>(
        "TProbe", &TComponent::StaticClassInfo(), [](PropertyBuilder<TProbe>& p) {
          p.Char("XOnChar", &TProbe::XOnChar, &TProbe::SetXOnChar, '\x11');
          p.Int("Size", &TProbe::Size, &TProbe::SetSize, 4096);
          p.Str("FileName", &TProbe::FileName, &TProbe::SetFileName, std::nullopt);
          p.Str("Version", &TProbe::Version, &TProbe::SetVersion, "v1").NeverStored();
        });
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  char XOnChar() const { return xon_; }
  void SetXOnChar(char c) { xon_ = c; }
  std::uint16_t Size() const { return size_; }
  void SetSize(std::uint16_t v) { size_ = v; }
  const std::string& FileName() const { return file_; }
  void SetFileName(const std::string& v) { file_ = v; }
  std::string Version() const { return "v1"; }
  void SetVersion(const std::string&) {}

 private:
  char xon_ = '\x11';
  std::uint16_t size_ = 4096;
  std::string file_ = "SIO.TRC";
};

class TTestForm : public TForm {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TTestForm>("TTestForm", &TForm::StaticClassInfo());
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  TTestForm() {
    BindHandler("ButtonClick", &TTestForm::ButtonClick);
    BindHandler("FormClose", &TTestForm::FormClose);
  }
  void ButtonClick(TObject*) { ++clicks; }
  void FormClose(TObject*, TCloseAction&) {}
  int clicks = 0;
};

constexpr const char* kSample = R"(// sample
Form1 : TTestForm {
  Caption = "Вольтметр K4-18/3"
  Width = 626
  Height = 318
  Color = rgb(1, 2, 3)
  Menu = Menu1
  Font.Height = 11
  Font.Style = [fsBold, fsItalic]
  OnClose = FormClose
  Panel1 : TPanel {
    Left = 16 Top = 24 Width = 345 Height = 81
    Color = clLime
    BorderStyle = bsSingle
    La_Data : TLabel {
      Left = 96 Top = 40 Width = 135 Height = 37
      Caption = "               "
      Visible = false
      Font.Height = 32
    }
  }
  Button1 : TButton {
    Left = 1 Top = 2 Width = 49 Height = 17
    Caption = "say \"hi\"\\\t"
    ModalResult = mrOk
    OnClick = ButtonClick
  }
  Combo : TComboBox {
    Left = 8 Top = 64 Width = 201 Height = 21
    Items = ("COM1",
             "COM2")
    ItemIndex = 1
  }
  Probe : TProbe {
    XOnChar = #19
    Size = $40
    FileName = "X.TRC"
  }
  Menu1 : TMainMenu {
    N1 : TMenuItem {
      Caption = "Запуск"
      N_G0 : TMenuItem { Caption = "Внутренний" Checked = true RadioItem = true }
    }
  }
}
)";

class LayoutTest : public testing::Test {
 protected:
  void SetUp() override { RegisterClass(TProbe::StaticClassInfo()); }
};

TEST_F(LayoutTest, ReadsValuesOfEveryKind) {
  TTestForm form;
  form.LoadLayoutText(kSample, "sample");
  EXPECT_EQ(form.Name(), "Form1");
  EXPECT_EQ(form.Caption(), "Вольтметр K4-18/3");
  EXPECT_EQ(form.Color(), RGB(1, 2, 3));
  EXPECT_EQ(form.Font().Style(), (TFontStyles{TFontStyle::fsBold, TFontStyle::fsItalic}));
  auto& label = form.Component<TLabel>("La_Data");
  EXPECT_EQ(label.Caption(), std::string(15, ' '));
  EXPECT_FALSE(label.Visible());
  EXPECT_EQ(label.Font().Height(), 32);
  EXPECT_FALSE(label.ParentFont());
  EXPECT_EQ(label.Parent(), &form.Component<TPanel>("Panel1"));
  EXPECT_EQ(label.Owner(), &form);
  auto& button = form.Component<TButton>("Button1");
  EXPECT_EQ(button.Caption(), "say \"hi\"\\\t");
  EXPECT_EQ(button.ModalResult(), mrOk);
  // The bound handler is live.
  button.Click();
  EXPECT_EQ(form.clicks, 1);
  auto& combo = form.Component<TComboBox>("Combo");
  EXPECT_EQ(combo.Items(), (std::vector<std::string>{"COM1", "COM2"}));
  EXPECT_EQ(combo.Text(), "COM2");
  auto& probe = form.Component<TProbe>("Probe");
  EXPECT_EQ(probe.XOnChar(), '\x13');
  EXPECT_EQ(probe.Size(), 0x40);
  EXPECT_EQ(form.Menu(), &form.Component<TMainMenu>("Menu1"));
  EXPECT_TRUE(form.Component<TMenuItem>("N_G0").Checked());
  EXPECT_EQ(form.Component<TMenuItem>("N_G0").Parent(), &form.Component<TMenuItem>("N1"));
}

TEST_F(LayoutTest, WriterWritesOnlyWhatDiffersFromDefaultsAndAlwaysWrittenOnes) {
  TTestForm form;
  form.LoadLayoutText(kSample, "sample");
  std::string text = WriteLayout(form);
  EXPECT_NE(text.find("Form1 : TTestForm {"), std::string::npos);
  EXPECT_NE(text.find("  Caption = \"Вольтметр K4-18/3\"\n"), std::string::npos);
  EXPECT_NE(text.find("Color = rgb(1, 2, 3)"), std::string::npos);
  EXPECT_NE(text.find("Color = clLime"), std::string::npos);
  EXPECT_NE(text.find("Font.Style = [fsBold, fsItalic]"), std::string::npos);
  EXPECT_NE(text.find("OnClick = ButtonClick"), std::string::npos);
  EXPECT_NE(text.find("ModalResult = mrOk"), std::string::npos);
  EXPECT_NE(text.find("XOnChar = #19"), std::string::npos);
  EXPECT_NE(text.find("Menu = Menu1"), std::string::npos);
  // Defaults stay out: the combo's style, the button's Enabled, the
  // probe's version (never written); a string without default is written.
  EXPECT_EQ(text.find("Style = csDropDownList"), std::string::npos);
  EXPECT_EQ(text.find("Enabled ="), std::string::npos);
  EXPECT_EQ(text.find("Version"), std::string::npos);
  EXPECT_EQ(text.find("ClientWidth"), std::string::npos);
  EXPECT_NE(text.find("FileName = \"X.TRC\""), std::string::npos);
  // A label following its parent's font writes no font at all.
  TTestForm plain;
  plain.LoadLayoutText("F : TTestForm { L : TLabel { Caption = \"x\" } }");
  EXPECT_EQ(WriteLayout(plain).find("Font."), std::string::npos);
  // Always written even when equal to the default.
  TTestForm probeOnly;
  probeOnly.LoadLayoutText(R"(F : TTestForm { P : TProbe { FileName = "SIO.TRC" } })");
  EXPECT_NE(WriteLayout(probeOnly).find("FileName = \"SIO.TRC\""), std::string::npos);
}

TEST_F(LayoutTest, RoundTripGivesTheSameText) {
  TTestForm first;
  first.LoadLayoutText(kSample, "sample");
  std::string written = WriteLayout(first);
  TTestForm second;
  second.LoadLayoutText(written, "written");
  EXPECT_EQ(WriteLayout(second), written);
  EXPECT_EQ(second.Component<TLabel>("La_Data").Caption(), std::string(15, ' '));
  EXPECT_EQ(second.Component<TButton>("Button1").Caption(), "say \"hi\"\\\t");
}

TEST_F(LayoutTest, MalformedLayoutsAreRejectedWithTheirLine) {
  struct Case {
    const char* text;
    int line;
    const char* words;
  };
  const Case cases[] = {
      {"F : TTestForm {\n  X : TNoSuchClass {\n  }\n}", 2, "unknown class TNoSuchClass"},
      {"F : TTestForm {\n\n  Colour = clRed\n}", 3, "unknown property Colour"},
      {"F : TTestForm {\n  Color = clPink\n}", 2, "unknown colour clPink"},
      {"F : TTestForm {\n  BorderStyle = bsRound\n}", 2, "unknown value bsRound"},
      {"F : TTestForm {\n  Visible = yes\n}", 2, "true or false"},
      {"F : TTestForm {\n  Caption = \"open\n}", 2, "unterminated string"},
      {"F : TTestForm {\n  Caption = 12\n}", 2, "quoted string"},
      {"F : TTestForm {\n  B : TButton {\n    OnClick = Nope\n  }\n}", 3, "no handler named Nope"},
      {"F : TTestForm {\n  OnCreate = FormClose\n}", 2, "does not fit OnCreate"},
      {"F : TTestForm {\n  Menu = Ghost\n}", 2, "no component named Ghost"},
      {"F : TTestForm {\n  P : TProbe { }\n  Menu = P\n}", 3, "not fit for Menu"},
      {"F : TTestForm {\n  A : TPanel { }\n  a : TPanel { }\n}", 3, "already exists"},
      {"F : TTestForm {\n  T : TTimer {\n    L : TLabel { }\n  }\n}", 3, "cannot be placed"},
      {"F : TTestForm {\n  P : TProbe { Size = 70000 }\n}", 2, "out of range"},
      {"F : TTestForm {\n  P : TProbe { XOnChar = #300 }\n}", 2, "character code"},
      {"F : TTestForm {\n  Font.Size = 3\n}", 2, "unknown property Font.Size"},
      {"F : TTestForm {\n  Caption.X = 3\n}", 2, "no sub-properties"},
      {"F : TTestForm {\n  Tag = 99999999999999999999\n}", 2, "out of range"},
      {"F : TTestForm {\n  Font.Style = [fsBold\n}", 3, "',' or ']'"},
      {"F : TTestForm {\n  Left = 1 ?\n}", 2, "unexpected character"},
      {"F : TTestForm {\n  Left = 1\n", 3, "missing '}'"},
      {"F : TTestForm {\n}\nextra", 3, "after the root"},
      {"F : TOtherForm {\n}", 1, "expected TTestForm"},
      {"", 1, "root object's name"},
  };
  for (const Case& c : cases) {
    TTestForm form;
    try {
      form.LoadLayoutText(c.text, "bad");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const ELayoutError& e) {
      EXPECT_EQ(e.Line(), c.line) << e.Message();
      EXPECT_NE(e.Message().find(c.words), std::string::npos) << e.Message();
      EXPECT_EQ(e.Message().rfind("bad(", 0), 0u) << e.Message();
    }
  }
}

TEST_F(LayoutTest, DeepOrTruncatedTextNeverCrashes) {
  std::string deep = "F : TTestForm {\n";
  for (int i = 0; i < 200; ++i) deep += "P" + std::to_string(i) + " : TPanel {\n";
  TTestForm form;
  EXPECT_THROW(form.LoadLayoutText(deep), ELayoutError);
  // Every prefix of a good layout is either read or rejected cleanly.
  std::string good = kSample;
  for (std::size_t n = 0; n < good.size(); n += 7) {
    TTestForm f;
    try {
      f.LoadLayoutText(good.substr(0, n));
    } catch (const ELayoutError&) {
    }
  }
}

TEST_F(LayoutTest, MissingResourceIsALayoutError) {
  TTestForm form;
  EXPECT_THROW(form.LoadLayout("NO_SUCH_LAYOUT"), ELayoutError);
}

}  // namespace
}  // namespace framework
