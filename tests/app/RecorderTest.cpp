// The recorder beside the panel: its menu after "Интерфейс" leaves the
// window as stored, readings the display shows reach it with their
// settings, a device that vanishes is recorded as an outage, and a
// recording that cannot be written stops with a message while the panel
// goes on measuring.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <fstream>

#include "PanelTestUtil.h"
#include "app/Recording.h"
#include "app/Unit1.h"
#include "framework/Menus.h"
#include "record/view/RecorderWindow.h"

namespace {

using namespace tesmar::test;
using app::TForm1;

TEST(Recorder, MenuComesLastAndTheWindowKeepsItsSize) {
  FakeCom1 device;
  auto form = framework::NewObject<TForm1>();
  form->Ti_Diag->SetEnabled(false);
  framework::TMainMenu* menu = form->Menu();
  ASSERT_NE(menu, nullptr);
  const int before = menu->Items().Count();
  app::TRecorder recorder(*form);
  ASSERT_EQ(menu->Items().Count(), before + 1);
  EXPECT_EQ(menu->Items().Items(before - 1)->Caption(), "Интерфейс");
  framework::TMenuItem* record = menu->Items().Items(before);
  EXPECT_EQ(record->Caption(), "Запись");
  ASSERT_EQ(record->Count(), 4);
  EXPECT_TRUE(recorder.N_RecordStart->Enabled());
  EXPECT_FALSE(recorder.N_RecordStop->Enabled());
  const auto out = DosDevices().parent_path() / "recorder-window.png";
  ASSERT_TRUE(form->SaveImage(out.string()));
  QImage image(QString::fromStdString(out.string()));
  EXPECT_EQ(image.width(), 618);
  EXPECT_EQ(image.height(), 272 + 19);
  EXPECT_EQ(form->Width(), 626);
  EXPECT_EQ(form->Height(), 318);
}

TEST(Recorder, ReadingsArriveWithTheirSettingsAndARecordingKeepsThem) {
  auto sim = StartSimulator();
  auto form = framework::NewObject<TForm1>();
  app::TRecorder recorder(*form);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Session().Readings() >= 1; }, 20000ms));
  const auto file = DosDevices().parent_path() / "gui.csv";
  ASSERT_TRUE(recorder.StartRecording(file.string()));
  EXPECT_TRUE(recorder.N_RecordStop->Enabled());
  form->N_R->Click();
  ASSERT_TRUE(PumpUntil([&] { return recorder.Session().Readings() >= 3; }, 20000ms));
  recorder.N_RecordStop->Click();
  EXPECT_FALSE(recorder.Session().Recording());
  recorder.Session().FinishWriting();
  std::ifstream in(file);
  std::vector<std::string> rows;
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  ASSERT_GE(rows.size(), 3u);
  // Every row after the change is of the resistance function, in ohms,
  // never a volt reading under the new function.
  for (std::size_t i = 1; i < rows.size(); ++i)
    EXPECT_NE(rows[i].find(",Ω,R,1,2,"), std::string::npos) << rows[i];
  const record::Summary* ohms = recorder.Session().Stats().Find('R', "Ω");
  ASSERT_NE(ohms, nullptr);
  EXPECT_EQ(ohms->count, rows.size() - 1);
  EXPECT_EQ(recorder.Session().Stats().Find('U', "V")->count, 1u);
}

// The adapter pulled while recording: the gap is one no_link row, no
// reading is made up for it (no blank unreadable row), the statistics
// count none, the trend breaks, and rows go on once it is back.
TEST(Recorder, AVanishedDeviceIsRecordedAsAnOutage) {
  auto sim = StartSimulator();
  auto form = framework::NewObject<TForm1>();
  app::TRecorder recorder(*form);
  const auto file = DosDevices().parent_path() / "outage.csv";
  ASSERT_TRUE(recorder.StartRecording(file.string()));
  ASSERT_TRUE(PumpUntil([&] { return recorder.Session().RowsQueued() >= 2; }, 20000ms));

  sim.reset();
  std::filesystem::create_symlink("/nonexistent/tesmar-pulled-adapter", DosDevices() / "com1");
  ASSERT_TRUE(PumpUntil([&] { return !form->SioComPort1->Open(); }, 20000ms));
  PumpFor(1200ms);  // reopening fails meanwhile
  const std::uint64_t rows = recorder.Session().RowsQueued();
  sim = StartSimulator();
  ASSERT_TRUE(PumpUntil([&] { return recorder.Session().RowsQueued() >= rows + 2; }, 10000ms));
  recorder.N_RecordStop->Click();
  recorder.Session().FinishWriting();

  std::ifstream in(file);
  int outages = 0;
  int unreadable = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(",no_link,") != std::string::npos) {
      ++outages;
      EXPECT_NE(line.find(",,,U,1,2,,no_link,"), std::string::npos) << line;
    }
    if (line.find(",unreadable,") != std::string::npos) ++unreadable;
  }
  EXPECT_EQ(outages, 1);
  EXPECT_EQ(unreadable, 0);
  EXPECT_EQ(recorder.Session().Stats().Find('U', "V")->unreadable, 0u);
  const auto& points = recorder.Session().CurrentTrend()->points;
  EXPECT_EQ(
      std::count_if(points.begin(), points.end(), [](const record::Point& p) { return std::isnan(p.v); }), 1);
}

TEST(Recorder, AFailedDiskStopsTheRecordingNotThePanel) {
  auto sim = StartSimulator();
  auto form = framework::NewObject<TForm1>();
  app::TRecorder recorder(*form);
  ASSERT_TRUE(recorder.StartRecording("/dev/full"));
  ASSERT_TRUE(PumpUntil([&] { return !recorder.Session().Recording(); }, 20000ms));
  ASSERT_TRUE(PumpUntil([&] { return !recorder.Window().LastMessage().empty(); }, 20000ms));
  EXPECT_NE(recorder.Window().LastMessage().find("/dev/full"), std::string::npos);
  const auto taken = recorder.Session().Readings();
  ASSERT_TRUE(PumpUntil([&] { return recorder.Session().Readings() >= taken + 2; }, 20000ms))
      << "the panel stopped measuring";
  EXPECT_TRUE(recorder.N_RecordStart->Enabled());

  EXPECT_FALSE(recorder.StartRecording((DosDevices() / "no" / "such" / "r.csv").string()));
  EXPECT_NE(recorder.Window().LastMessage().find("no/such/r.csv"), std::string::npos);
}

TEST(StartPort, OpensTheChosenPortAndMarksIt) {
  auto sim = StartSimulator();  // COM1, which must stay untouched
  platform::FakeSerialDevice::Register(2);
  TForm1::StartPort = 2;
  auto form = framework::NewObject<TForm1>();
  TForm1::StartPort = 0;
  EXPECT_EQ(form->SioComPort1->ComNumber(), 2);
  EXPECT_TRUE(form->SioComPort1->Open());
  EXPECT_TRUE(form->Com21->Checked());
  EXPECT_FALSE(form->Com11->Checked());
  form.reset();
  platform::FakeSerialDevice::Unregister(2);
  EXPECT_EQ(sim->Counters().received, 0u);
}

}  // namespace
