// The user's settings: the file's round trip, damaged files and files of a
// newer version, and the window starting from them: the stored port and
// speed open with their marks, the stored panel reaches the instrument by
// the restore line after the set-up, and "Другой порт…" switches to the
// port the dialog returns.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "PanelTestUtil.h"
#include "app/Settings.h"
#include "comport/SioPortSelect.h"
#include "framework/Menus.h"

namespace {

using namespace tesmar::test;
using app::TForm1;
using app::TSettings;
namespace fs = std::filesystem;

TSettings Unusual() {
  TSettings s;
  s.port = 12;
  s.baud = 1200;
  s.panel = {'Z', '4', '0', '1', '1', '0', '1', '1', '0'};
  s.recordFolder = "/data/измерения 1";
  s.recorderWindow = true;
  s.chartFolder = "/tmp";
  return s;
}

void ExpectSame(const TSettings& a, const TSettings& b) {
  EXPECT_EQ(a.port, b.port);
  EXPECT_EQ(a.baud, b.baud);
  EXPECT_EQ(a.panel, b.panel);
  EXPECT_EQ(a.recordFolder, b.recordFolder);
  EXPECT_EQ(a.recorderWindow, b.recorderWindow);
  EXPECT_EQ(a.chartFolder, b.chartFolder);
  EXPECT_EQ(a.unknown, b.unknown);
}

fs::path Scratch(const char* name) {
  const fs::path dir = fs::temp_directory_path() / ("tesmar-settings-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir / name;
}

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(SettingsFile, RoundTripThroughTheFileAndItsFolder) {
  const fs::path path = Scratch("sub") / "deeper" / "tesmar.conf";
  std::string error;
  ASSERT_TRUE(app::SaveSettings(path, Unusual(), error)) << error;
  std::string warning;
  const auto back = app::LoadSettings(path, warning);
  ASSERT_TRUE(back.has_value()) << warning;
  EXPECT_TRUE(warning.empty());
  ExpectSame(*back, Unusual());
  EXPECT_FALSE(fs::exists(path.string() + ".new")) << "the new file replaced the old one";

  fs::remove(path);
  EXPECT_FALSE(app::LoadSettings(path, warning).has_value()) << "no file: the defaults";
  EXPECT_TRUE(warning.empty()) << "and nothing to say";
  EXPECT_EQ(app::SettingsFile(), fs::path(std::getenv("XDG_CONFIG_HOME")) / "tesmar" / "tesmar.conf");
}

TEST(SettingsFile, ANewerVersionIsReadForWhatIsKnownAndKeepsTheRest) {
  const std::string newer =
      "version=7\ntheme=dark\n[port]\nnumber=3\nparity=none\n[panel]\n  function = R \nrange=6\n"
      "[plugins]\nscpi=on\n; a comment\n";
  std::string error;
  auto settings = app::ParseSettings(newer, error);
  ASSERT_TRUE(settings.has_value()) << error;
  EXPECT_EQ(settings->port, 3);
  EXPECT_EQ(settings->panel.Rod, 'R');
  EXPECT_EQ(settings->panel.Diap, '6');
  EXPECT_EQ(settings->baud, 9600) << "a missing key keeps its default";

  // Written back, the newer version's keys stay in their sections.
  settings->port = 4;
  const std::string text = app::FormatSettings(*settings);
  auto again = app::ParseSettings(text, error);
  ASSERT_TRUE(again.has_value()) << error << "\n" << text;
  EXPECT_EQ(again->port, 4);
  EXPECT_EQ(again->unknown, settings->unknown);
  for (const char* kept : {"theme=dark", "parity=none", "[plugins]\nscpi=on"})
    EXPECT_NE(text.find(kept), std::string::npos) << kept << " in\n" << text;
  EXPECT_LT(text.find("parity=none"), text.find("[panel]")) << "under [port]";
}

TEST(SettingsFile, DamagedFilesMeanTheDefaultsAndOneLineWhy) {
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"broken section", "[port\nnumber=2\n"},
      {"no key=value", "[port]\nnumber 2\n"},
      {"port 0", "[port]\nnumber=0\n"},
      {"port beyond 256", "[port]\nnumber=257\n"},
      {"port not a number", "[port]\nnumber=COM2\n"},
      {"unknown speed", "[port]\nbaud=19200\n"},
      {"unknown function", "[panel]\nfunction=X\n"},
      {"range the function lacks", "[panel]\nfunction=I\nrange=3\n"},
      {"resolution 3", "[panel]\nresolution=3\n"},
      {"switch 2", "[panel]\nsound=2\n"},
      {"window yes", "[recorder]\nwindow=yes\n"},
      {"bad version", "version=new\n"},
      {"binary", std::string("[port]\nnumber=1\0\x01\x02", 17)},
      {"too large", "[port]\n" + std::string(70000, '#') + "\n"},
  };
  const fs::path path = Scratch("damaged.conf");
  for (const auto& c : cases) {
    Write(path, c.text);
    std::string warning;
    EXPECT_FALSE(app::LoadSettings(path, warning).has_value()) << c.what;
    EXPECT_NE(warning.find(path.string()), std::string::npos) << c.what << ": " << warning;
    EXPECT_EQ(warning.find('\n'), std::string::npos) << c.what << ": one line";
  }
  fs::remove(path);
  fs::create_directories(path);
  std::string warning;
  EXPECT_FALSE(app::LoadSettings(path, warning).has_value());
  EXPECT_FALSE(warning.empty()) << "a folder in the file's place";
  std::string error;
  EXPECT_FALSE(app::SaveSettings(path, Unusual(), error)) << "cannot replace a folder";
  EXPECT_FALSE(error.empty());
  fs::remove_all(path);
}

// --- The window ------------------------------------------------------------

TEST(PanelSettings, TheStoredPanelIsSentByTheRestoreLineAfterTheSetUp) {
  auto sim = StartSimulator();
  TSettings stored;
  stored.panel = {'R', '3', '1', '0', '1', '1', '0', '0', '1'};
  stored.baud = 4800;
  auto form = framework::NewObject<TForm1>(app::TPortDiagnostics{}, stored);
  EXPECT_EQ(form->SioComPort1->Baud(), 4800);
  EXPECT_TRUE(form->N48001->Checked());
  EXPECT_FALSE(form->N96001->Checked());
  const std::string restore = "G0B1Y0B1M1\nR3H1A0W1S1N0Q0L1\n";
  ASSERT_TRUE(PumpUntil([&] { return sim->Received().find(restore) != std::string::npos; }, 20000ms))
      << sim->Received();
  EXPECT_TRUE(form->N_R->Checked());
  EXPECT_TRUE(form->N_H1->Checked());
  EXPECT_TRUE(form->N_W->Checked());
  ASSERT_TRUE(PumpUntil([&] {
    return form->La_Stat->Caption().find("диапазон 200ком") != std::string::npos;
  })) << form->La_Stat->Caption();
  TSettings kept;
  form->KeepSettings(kept);
  EXPECT_EQ(kept.panel, stored.panel);
  EXPECT_EQ(kept.baud, 4800);

  // A general reset means the defaults, not the stored settings.
  framework::CallGuarded(form.get(), [&] { form->N19Click(nullptr); });
  ASSERT_TRUE(PumpUntil([&] { return form->Rod == 'U' && form->FlagLinkUp; }, 20000ms));
  EXPECT_EQ(form->PanelSettings(), app::TPanelSettings{});
}

int ChooseCom5() { return 5; }
int ChooseNone() { return 0; }
int ChooseCom1() { return 1; }

TEST(PanelPort, AnyPortFromTheMenuAndFromTheSettings) {
  ExceptionRecorder recorder;
  FakeCom1 com1;
  auto com5 = platform::FakeSerialDevice::Register(5);
  auto form = framework::NewObject<TForm1>();
  ASSERT_NE(form->N_ComOther, nullptr);
  framework::TMenuItem* ports = form->Com21->Parent();
  ASSERT_EQ(ports->Count(), 3);
  EXPECT_EQ(ports->Items(2), form->N_ComOther) << "after Com1 and Com2";
  EXPECT_EQ(form->N_ComOther->Caption(), "Другой порт…");
  EXPECT_FALSE(form->N_ComOther->Checked());

  comport::SetPortSelector(&ChooseCom5);
  form->N_ComOther->Click();
  EXPECT_EQ(form->SioComPort1->ComNumber(), 5);
  EXPECT_TRUE(com5->IsOpen());
  EXPECT_FALSE(com1->IsOpen());
  EXPECT_TRUE(form->N_ComOther->Checked());
  EXPECT_FALSE(form->Com11->Checked());

  comport::SetPortSelector(&ChooseNone);  // Cancel
  form->N_ComOther->Click();
  EXPECT_EQ(form->SioComPort1->ComNumber(), 5);
  EXPECT_TRUE(com5->IsOpen());

  comport::SetPortSelector(&ChooseCom1);  // the dialog may name Com1 too
  form->N_ComOther->Click();
  EXPECT_TRUE(form->Com11->Checked());
  EXPECT_FALSE(form->N_ComOther->Checked());
  EXPECT_TRUE(com1->IsOpen());
  comport::SetPortSelector(nullptr);
  form.reset();

  // Stored, the port opens at once with its mark.
  TSettings stored;
  stored.port = 5;
  form = framework::NewObject<TForm1>(app::TPortDiagnostics{}, stored);
  EXPECT_EQ(form->SioComPort1->ComNumber(), 5);
  EXPECT_TRUE(com5->IsOpen());
  EXPECT_TRUE(form->N_ComOther->Checked());
  EXPECT_FALSE(form->Com11->Checked());
  form.reset();
  platform::FakeSerialDevice::Unregister(5);
  EXPECT_TRUE(recorder.texts.empty());
}

}  // namespace
