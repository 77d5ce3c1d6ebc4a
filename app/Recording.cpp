#include "app/Recording.h"

#include "app/Unit1.h"
#include "framework/ExtCtrls.h"
#include "framework/Graphics.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "framework/view/Language.h"
#include "record/view/RecorderWindow.h"

namespace app {

TRecorder::TRecorder(TForm1& form)
    : form_(form), window_(std::make_unique<record::RecorderWindow>(session_)) {
  AddMark();
  AddMenu();
  // Under the panel, so that the panel stays in sight beside its trend.
  window_->MoveTo(form_.Left(), form_.Top() + form_.Height() + 8);
  form_.OnReading = [this](const std::string& text, char function, char range, char resolution) {
    session_.Add(text, record::Setting{function, range, resolution});
    window_->Update();
    UpdateMenu();
  };
  form_.OnLinkLost = [this](char function, char range, char resolution) {
    session_.AddOutage(record::Setting{function, range, resolution});
    window_->Update();
    UpdateMenu();
  };
}

TRecorder::~TRecorder() {
  form_.OnReading = nullptr;
  form_.OnLinkLost = nullptr;
}

void TRecorder::AddMenu() {
  auto item = [this](const char* caption, std::function<void()> click) {
    auto* made = framework::NewComponent<framework::TMenuItem>(form_);
    made->SetCaption(framework::Tr("recorder", caption));
    if (click) made->OnClick = [click = std::move(click)](framework::TObject*) { click(); };
    return made;
  };
  N_Record = item(TESMAR_TR_NOOP("recorder", "Запись"), nullptr);
  N_RecordStart = item(TESMAR_TR_NOOP("recorder", "Начать запись…"), [this] {
    window_->AskAndStartRecording();
    UpdateMenu();
  });
  N_RecordStop = item(TESMAR_TR_NOOP("recorder", "Остановить запись"), [this] {
    window_->StopRecording();
    UpdateMenu();
  });
  N_RecordWindow = item(TESMAR_TR_NOOP("recorder", "Окно записи"), [this] { window_->Show(); });
  N_RecordClear =
      item(TESMAR_TR_NOOP("recorder", "Сбросить статистику"), [this] { window_->ClearStatistics(); });
  for (framework::TMenuItem* sub : {N_RecordStart, N_RecordStop, N_RecordWindow, N_RecordClear})
    N_Record->Add(sub);
  if (framework::TMainMenu* menu = form_.Menu()) menu->Items().Add(N_Record);
  UpdateMenu();
}

// In the strip's free space on the right: the strip's own text is at most
// about half its width.
void TRecorder::AddMark() {
  La_Recording = framework::NewComponent<framework::TLabel>(form_);
  La_Recording->SetName("La_Recording");
  La_Recording->SetAutoSize(true);
  La_Recording->SetCaption(framework::Tr("recorder", TESMAR_TR_NOOP("recorder", "● ЗАПИСЬ")));
  La_Recording->SetVisible(false);
  if (framework::TWinControl* strip = form_.La_Stat->Parent()) {
    La_Recording->SetParent(strip);
    La_Recording->SetLeft(strip->Width() - 110);
    La_Recording->SetTop(form_.La_Stat->Top());
  }
  // After the parent, whose font the label takes on.
  La_Recording->Font().SetColor(framework::clRed);
  La_Recording->Font().SetStyle(framework::TFontStyles{framework::TFontStyle::fsBold});
}

void TRecorder::UpdateMenu() {
  const bool recording = session_.Recording();
  if (N_RecordStart->Enabled() == recording) N_RecordStart->SetEnabled(!recording);
  if (N_RecordStop->Enabled() != recording) N_RecordStop->SetEnabled(recording);
  if (La_Recording->Visible() != recording) La_Recording->SetVisible(recording);
}

void TRecorder::Restore(const TSettings& settings) {
  window_->SetRecordFolder(settings.recordFolder);
  window_->SetChartFolder(settings.chartFolder);
  if (settings.recorderWindow) window_->Show();
}

void TRecorder::Keep(TSettings& settings) const {
  settings.recordFolder = window_->RecordFolder();
  settings.chartFolder = window_->ChartFolder();
  settings.recorderWindow = window_->Visible();
}

bool TRecorder::StartRecording(const std::string& path) {
  const bool started = window_->StartRecording(path);
  UpdateMenu();
  return started;
}

}  // namespace app
