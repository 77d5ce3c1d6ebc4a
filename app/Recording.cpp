#include "app/Recording.h"

#include "app/Unit1.h"
#include "framework/Menus.h"
#include "record/view/RecorderWindow.h"

namespace app {

TRecorder::TRecorder(TForm1& form)
    : form_(form), window_(std::make_unique<record::RecorderWindow>(session_)) {
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
    made->SetCaption(caption);
    if (click) made->OnClick = [click = std::move(click)](framework::TObject*) { click(); };
    return made;
  };
  N_Record = item("Запись", nullptr);
  N_RecordStart = item("Начать запись…", [this] {
    window_->AskAndStartRecording();
    UpdateMenu();
  });
  N_RecordStop = item("Остановить запись", [this] {
    window_->StopRecording();
    UpdateMenu();
  });
  N_RecordWindow = item("Окно записи", [this] { window_->Show(); });
  N_RecordClear = item("Сбросить статистику", [this] { window_->ClearStatistics(); });
  for (framework::TMenuItem* sub : {N_RecordStart, N_RecordStop, N_RecordWindow, N_RecordClear})
    N_Record->Add(sub);
  if (framework::TMainMenu* menu = form_.Menu()) menu->Items().Add(N_Record);
  UpdateMenu();
}

void TRecorder::UpdateMenu() {
  const bool recording = session_.Recording();
  if (N_RecordStart->Enabled() == recording) N_RecordStart->SetEnabled(!recording);
  if (N_RecordStop->Enabled() != recording) N_RecordStop->SetEnabled(recording);
}

bool TRecorder::StartRecording(const std::string& path) {
  const bool started = window_->StartRecording(path);
  UpdateMenu();
  return started;
}

}  // namespace app
