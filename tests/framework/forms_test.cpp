// Forms and controls: the stored demo form's geometry, handlers guarded by
// the application, menus, modal dialogs and the rendered picture.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "TestSupport.h"
#include "framework/Application.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Layout.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "framework/SysUtils.h"

namespace framework {
namespace {

// The form of resources/layouts/demo.lay.
class TDemoForm : public TForm {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TDemoForm>("TDemoForm", &TForm::StaticClassInfo());
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  TDemoForm() {
    BindHandler("FormCreate", &TDemoForm::FormCreate);
    BindHandler("Bu_GoClick", &TDemoForm::Bu_GoClick);
    BindHandler("Ti_TickTimer", &TDemoForm::Ti_TickTimer);
    BindHandler("N_G0Click", &TDemoForm::N_G0Click);
    LoadLayout("DEMO");
    La_Stat = &Component<TLabel>("La_Stat");
    Ed_Code = &Component<TEdit>("Ed_Code");
  }
  void FormCreate(TObject*) { createdWithStat = La_Stat->Caption(); }
  void Bu_GoClick(TObject*) {
    ++goClicks;
    // Converting a bad code raises; the default handler reports it.
    La_Stat->SetCaption(IntToStr(StrToInt(Ed_Code->Text())));
  }
  void Ti_TickTimer(TObject*) { ++ticks; }
  void N_G0Click(TObject*) { ++menuClicks; }

  TLabel* La_Stat = nullptr;
  TEdit* Ed_Code = nullptr;
  std::string createdWithStat;
  int goClicks = 0;
  int ticks = 0;
  int menuClicks = 0;
};

class FormsTest : public testing::Test {
 protected:
  test::ExceptionCatcher caught;
};

TEST_F(FormsTest, StoredOuterSizeGivesTheClientAreaUnderTheMenu) {
  auto form = NewObject<TDemoForm>();
  EXPECT_EQ(form->createdWithStat, "Настройка прибора");  // OnCreate after loading
  EXPECT_EQ(form->Width(), 626);
  EXPECT_EQ(form->Height(), 318);
  EXPECT_EQ(form->ClientWidth(), 618);
  EXPECT_EQ(form->ClientHeight(), 272);
  auto& status = form->Component<TPanel>("Pa_Stat");
  EXPECT_EQ(status.Left(), 0);
  EXPECT_EQ(status.Top(), 234);
  EXPECT_EQ(status.Width(), 618);
  EXPECT_EQ(status.Height(), 38);
  // A label sized by its caption grows with it.
  auto& stat = form->Component<TLabel>("La_Stat");
  stat.SetAutoSize(true);
  int shortWidth = stat.Width();
  stat.SetCaption("Настройка прибора, ещё длиннее");
  EXPECT_GT(stat.Width(), shortWidth);
  EXPECT_GT(stat.Height(), 0);
  // The Qt view is the client area plus the menu bar.
  ASSERT_NE(form->View(), nullptr);
  EXPECT_EQ(form->View()->size(), QSize(618, 272 + 19));
  EXPECT_EQ(form->ClientView()->geometry(), QRect(0, 19, 618, 272));
  // Shown, the window's own resize notice must not grow it.
  form->SetVisible(true);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->Height(), 318);
  EXPECT_EQ(form->View()->size(), QSize(618, 272 + 19));
  form->SetVisible(false);
  // A dialog's stored client size sets the outer size from its frame.
  TForm dialog;
  dialog.SetBorderStyle(TFormBorderStyle::bsDialog);
  dialog.SetClientWidth(220);
  dialog.SetClientHeight(131);
  EXPECT_EQ(dialog.Width(), 226);
  EXPECT_EQ(dialog.Height(), 156);
}

TEST_F(FormsTest, AnExceptionInAButtonHandlerIsReportedAndTheProgramGoesOn) {
  auto form = NewObject<TDemoForm>();
  auto* button = qobject_cast<QPushButton*>(form->Component<TButton>("Bu_Go").View());
  ASSERT_NE(button, nullptr);
  form->Ed_Code->SetText("xyz");
  button->click();
  ASSERT_EQ(caught.texts.size(), 1u);
  EXPECT_EQ(caught.texts[0], "'xyz' is not a valid integer value");
  EXPECT_EQ(form->La_Stat->Caption(), "Настройка прибора");
  form->Ed_Code->SetText("$55");
  button->click();
  EXPECT_EQ(form->goClicks, 2);
  EXPECT_EQ(form->La_Stat->Caption(), "85");
  EXPECT_EQ(caught.texts.size(), 1u);
}

TEST_F(FormsTest, MenuRadioItemsExcludeEachOtherAndAClickChecksNothing) {
  auto form = NewObject<TDemoForm>();
  auto& g0 = form->Component<TMenuItem>("N_G0");
  auto& g1 = form->Component<TMenuItem>("N_G1");
  ASSERT_NE(g0.Action(), nullptr);
  // A click on the checked item leaves its mark; Qt's own toggle is undone.
  g0.Action()->trigger();
  EXPECT_EQ(form->menuClicks, 1);
  EXPECT_TRUE(g0.Checked());
  EXPECT_TRUE(g0.Action()->isChecked());
  g1.SetChecked(true);
  EXPECT_FALSE(g0.Checked());
  EXPECT_FALSE(g0.Action()->isChecked());
  // A click on an unchecked item does not check it either.
  g0.Action()->trigger();
  EXPECT_FALSE(g0.Checked());
  EXPECT_FALSE(g0.Action()->isChecked());
  // Disabled items are shown disabled and cannot be clicked.
  EXPECT_FALSE(g1.Action()->isEnabled());
  int before = form->menuClicks;
  g0.SetEnabled(false);
  g0.Click();
  EXPECT_EQ(form->menuClicks, before);
  // Items of another group or plain check items are left alone.
  auto* other = NewComponent<TMenuItem>(*form);
  other->SetRadioItem(true);
  other->SetGroupIndex(1);
  form->Component<TMenuItem>("N1").Add(other);
  other->SetChecked(true);
  EXPECT_TRUE(g1.Checked());
  EXPECT_EQ(form->Menu()->Bar()->actions().size(), 1);
}

TEST_F(FormsTest, TimerOfAStoredFormFiresItsHandler) {
  auto form = NewObject<TDemoForm>();
  auto& timer = form->Component<TTimer>("Ti_Tick");
  EXPECT_FALSE(timer.Running());
  timer.SetEnabled(true);
  EXPECT_TRUE(test::PumpUntil([&] { return form->ticks >= 2; }));
}

TEST_F(FormsTest, ShowModalReturnsTheButtonsModalResult) {
  TForm dialog;
  dialog.LoadLayoutText(R"(Dlg : TForm {
    BorderStyle = bsDialog
    Position = poScreenCenter
    ClientWidth = 220
    ClientHeight = 131
    Ports : TComboBox { Left = 8 Top = 64 Width = 201 Height = 21 }
    OkBtn : TButton { Left = 8 Top = 95 Width = 85 Height = 27 Caption = "OK" Default = true ModalResult = mrOk }
    AbortBtn : TButton { Left = 124 Top = 95 Width = 85 Height = 27 Caption = "Cancel" ModalResult = mrAbort }
  })");
  auto& ports = dialog.Component<TComboBox>("Ports");
  EXPECT_EQ(ports.ItemIndex(), -1);
  EXPECT_EQ(ports.Text(), "");
  ports.AddItem("COM1");
  ports.AddItem("COM2");
  ports.SetItemIndex(1);
  EXPECT_EQ(qobject_cast<QComboBox*>(ports.View())->currentText(), "COM2");
  auto* abort = qobject_cast<QPushButton*>(dialog.Component<TButton>("AbortBtn").View());
  QTimer::singleShot(10, abort, [abort] { abort->click(); });
  EXPECT_EQ(dialog.ShowModal(), mrAbort);
  EXPECT_FALSE(dialog.Visible());
  // Centred on the (offscreen) screen.
  EXPECT_GT(dialog.Left(), 0);
  // Closing the window answers Cancel.
  QTimer::singleShot(10, dialog.View(), [&] { dialog.View()->close(); });
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  // Close() of a modal form answers Cancel too.
  QTimer::singleShot(10, dialog.View(), [&] { dialog.Close(); });
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
}

TEST_F(FormsTest, DemoFormRendersItsCyrillicTextToPng) {
  auto form = NewObject<TDemoForm>();
  form->Component<TLabel>("La_Data").SetCaption("  12,345  ");
  std::filesystem::path out = std::filesystem::path(TESMAR_TEST_OUTPUT_DIR) / "demo_form.png";
  ASSERT_TRUE(form->SaveImage(out.string()));
  QImage image(QString::fromStdString(out.string()));
  ASSERT_EQ(image.size(), QSize(618, 291));
  // The lime display and the black status strip are where the layout puts
  // them (client area starts under the 19-pixel menu bar).
  EXPECT_EQ(image.pixelColor(30, 19 + 30), QColor(0, 255, 0));
  EXPECT_EQ(image.pixelColor(600, 19 + 260), QColor(0, 0, 0));
  // White status text was drawn on the strip.
  bool textDrawn = false;
  for (int x = 16; x < 200 && !textDrawn; ++x)
    for (int y = 19 + 234 + 8; y < 19 + 234 + 21; ++y)
      if (image.pixelColor(x, y).lightness() > 128) textDrawn = true;
  EXPECT_TRUE(textDrawn);
}

TEST_F(FormsTest, IconComesFromAnEmbeddedImage) {
  TForm form;
  form.SetIcon("TESMAR");
  ASSERT_NE(form.View(), nullptr);
  EXPECT_FALSE(form.View()->windowIcon().isNull());
  EXPECT_THROW(form.SetIcon("NO_SUCH_ICON"), EComponentError);
  EXPECT_EQ(form.Icon(), "TESMAR");
  form.SetIcon("");
  EXPECT_TRUE(form.View()->windowIcon().isNull());
}

}  // namespace
}  // namespace framework
