// The windows in English: every caption of the stored layouts, every menu
// item, the status strip of every function and range and the recorder's
// window have an English text; Russian stays the stored text byte for
// byte; the language follows the locale unless named.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTableWidget>
#include <fstream>
#include <regex>
#include <sstream>

#include "PanelTestUtil.h"
#include "app/Recording.h"
#include "framework/ExtCtrls.h"
#include "framework/LayoutText.h"
#include "framework/Menus.h"
#include "framework/view/Language.h"
#include "platform/resources.h"
#include "record/view/RecorderWindow.h"

namespace {

using namespace tesmar::test;
using app::TForm1;
using framework::TLanguage;

bool Cyrillic(const std::string& text) {
  // UTF-8 lead bytes 0xD0 and 0xD1 start every Cyrillic letter.
  return text.find('\xD0') != std::string::npos || text.find('\xD1') != std::string::npos;
}

std::string Resource(const char* name) {
  auto data = platform::FindEmbeddedResource(name, "LAYOUT");
  return data ? std::string(reinterpret_cast<const char*>(data->data()), data->size()) : std::string();
}

// The windows in English for one test; Russian again after it.
class English : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(framework::InstallLanguage(TLanguage::English)); }
  void TearDown() override { framework::InstallLanguage(TLanguage::Russian); }
};

TEST_F(English, EveryCaptionOfTheStoredLayoutsHasAnEnglishText) {
  const std::regex caption(R"((Caption|Hint) = "([^"]*)\")");
  int seen = 0;
  for (const char* layout : {"UNIT1", "DEMO", "SIOSELCOM"}) {
    const std::string text = Resource(layout);
    ASSERT_FALSE(text.empty()) << layout;
    for (std::sregex_iterator it(text.begin(), text.end(), caption), end; it != end; ++it) {
      const std::string stored = (*it)[2];
      if (!Cyrillic(stored)) continue;
      ++seen;
      EXPECT_FALSE(Cyrillic(framework::TranslateLayoutText(stored))) << layout << ": \"" << stored << "\"";
    }
  }
  EXPECT_GT(seen, 50);
}

TEST_F(English, ThePanelItsMenusStripAndRecorderSpeakEnglish) {
  FakeCom1 device;
  auto form = framework::NewObject<TForm1>();
  app::TRecorder recorder(*form);
  EXPECT_EQ(form->Caption(), "Voltmeter K4-18/3");
  for (int i = 0; i < form->ComponentCount(); ++i) {
    framework::TComponent* component = form->Components(i);
    std::string text;
    if (auto* item = dynamic_cast<framework::TMenuItem*>(component)) text = item->Caption();
    if (auto* label = dynamic_cast<framework::TLabel*>(component)) text = label->Caption();
    if (auto* button = dynamic_cast<framework::TButton*>(component)) text = button->Caption();
    if (auto* panel = dynamic_cast<framework::TPanel*>(component)) text = panel->Caption();
    EXPECT_FALSE(Cyrillic(text)) << component->Name() << ": " << text;
  }
  EXPECT_EQ(form->N_ComOther->Caption(), "Other port…");
  EXPECT_EQ(recorder.La_Recording->Caption(), "● REC");

  // Every function at every range, with and without auto-ranging.
  for (char rod : std::string("UVIJRZFT")) {
    for (char diap = '0'; diap <= '6'; ++diap) {
      form->Rod = rod;
      form->Diap = diap;
      form->ExtractDiap();
      for (bool autoRange : {false, true}) {
        form->N_A->SetChecked(autoRange);
        form->StatusBar();
        EXPECT_FALSE(Cyrillic(form->La_Stat->Caption())) << rod << diap << ": " << form->La_Stat->Caption();
        EXPECT_FALSE(Cyrillic(form->La_Razmer->Caption()))
            << rod << diap << ": " << form->La_Razmer->Caption();
      }
    }
  }
  form->Rod = 'R';
  form->Diap = '1';
  form->N_A->SetChecked(false);
  form->StatusBar();
  EXPECT_EQ(form->La_Stat->Caption(), "function R   range 2kΩ   trigger internal");
  EXPECT_EQ(form->La_Razmer->Caption(), "kΩ");
  for (const char* status : {app::kStatusSetup, app::kStatusNoLink, app::kStatusReset, app::kStatusSetupDone})
    EXPECT_FALSE(Cyrillic(app::PanelText(status))) << status;

  recorder.Window().Show();
  recorder.Window().StartRecording("/nonexistent-folder/run.csv");
  EXPECT_FALSE(Cyrillic(recorder.Window().LastMessage())) << recorder.Window().LastMessage();
  for (QWidget* widget : QApplication::allWidgets()) {
    std::vector<QString> texts{widget->windowTitle()};
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts.push_back(button->text());
    if (auto* label = qobject_cast<QLabel*>(widget)) texts.push_back(label->text());
    if (auto* table = qobject_cast<QTableWidget*>(widget))
      for (int c = 0; c < table->columnCount(); ++c) texts.push_back(table->horizontalHeaderItem(c)->text());
    for (const QString& text : texts)
      EXPECT_FALSE(Cyrillic(text.toStdString()))
          << widget->metaObject()->className() << ": " << text.toStdString();
  }
}

TEST(Russian, TheStoredLayoutStaysAsItIs) {
  std::ifstream file(std::string(TESMAR_SOURCE_DIR) + "/resources/layouts/unit1.lay", std::ios::binary);
  std::ostringstream stored;
  stored << file.rdbuf();
  EXPECT_EQ(Resource("UNIT1"), stored.str()) << "embedded byte for byte";

  ASSERT_TRUE(framework::InstallLanguage(TLanguage::Russian));
  FakeCom1 device;
  auto form = framework::NewObject<TForm1>();
  EXPECT_EQ(form->Caption(), "Вольтметр K4-18/3");
  EXPECT_EQ(dynamic_cast<framework::TMenuItem&>(*form->FindComponent("N5")).Caption(), "Интерфейс");
  EXPECT_EQ(form->N_R->Caption(), "Сопротивление 2x");
  EXPECT_EQ(form->N_ComOther->Caption(), "Другой порт…");
}

TEST(Language, FollowsTheLocaleUnlessNamed) {
  const struct {
    const char *all, *messages, *lang;
    TLanguage expected;
  } cases[] = {
      {nullptr, nullptr, nullptr, TLanguage::Russian},
      {nullptr, nullptr, "C", TLanguage::Russian},
      {nullptr, nullptr, "POSIX", TLanguage::Russian},
      {nullptr, nullptr, "ru_RU.UTF-8", TLanguage::Russian},
      {nullptr, nullptr, "en_GB.UTF-8", TLanguage::English},
      {nullptr, nullptr, "en_US", TLanguage::English},
      {nullptr, nullptr, "en", TLanguage::English},
      {nullptr, nullptr, "eo", TLanguage::Russian},
      {"", "", "en_US.UTF-8", TLanguage::English},
      {"C", nullptr, "en_US.UTF-8", TLanguage::Russian},
      {nullptr, "en_IE.UTF-8", "ru_RU.UTF-8", TLanguage::English},
  };
  for (const auto& c : cases)
    EXPECT_EQ(framework::LanguageOfLocale(c.all, c.messages, c.lang), c.expected)
        << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " " << (c.lang ? c.lang : "-");
  EXPECT_EQ(framework::LanguageNamed("en"), TLanguage::English);
  EXPECT_EQ(framework::LanguageNamed("ru"), TLanguage::Russian);
  EXPECT_FALSE(framework::LanguageNamed("de").has_value());
}

}  // namespace
