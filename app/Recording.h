// The recorder beside the front panel: the "Запись" menu after
// "Интерфейс", the recorder's window, and the readings of the display step
// going into the recorder's session, and the panel's outages (a lost link
// or device) marked in it.
//
// The menu is added to the window's menu bar when the recorder is made, not
// stored in the window's layout: the stored layout stays the panel's own
// (its size, keys, display and strip unchanged), and a program built
// without the recorder shows exactly the stored window.
//
// Thread safety: the window's thread only.
#pragma once

#include <memory>
#include <string>

#include "record/Session.h"

namespace framework {
class TMenuItem;
}
namespace record {
class RecorderWindow;
}

namespace app {

class TForm1;

class TRecorder {
 public:
  // Adds the menu to `form` and takes its readings. The form must outlive
  // the recorder.
  explicit TRecorder(TForm1& form);
  ~TRecorder();
  TRecorder(const TRecorder&) = delete;
  TRecorder& operator=(const TRecorder&) = delete;

  // Starts recording into `path`; a failure is shown in a message box that
  // does not stop the panel. Returns whether the recording runs.
  bool StartRecording(const std::string& path);
  record::Session& Session() { return session_; }
  record::RecorderWindow& Window() { return *window_; }

  framework::TMenuItem* N_Record = nullptr;       // "Запись"
  framework::TMenuItem* N_RecordStart = nullptr;  // "Начать запись…"
  framework::TMenuItem* N_RecordStop = nullptr;   // "Остановить запись"
  framework::TMenuItem* N_RecordWindow = nullptr; // "Окно записи"
  framework::TMenuItem* N_RecordClear = nullptr;  // "Сбросить статистику"

 private:
  void AddMenu();
  void UpdateMenu();

  TForm1& form_;
  record::Session session_;
  std::unique_ptr<record::RecorderWindow> window_;
};

}  // namespace app
