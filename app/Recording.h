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
// While a recording runs, a red mark "● ЗАПИСЬ" stands at the right end
// of the panel's status strip (not stored in the layout either).
//
// Thread safety: the window's thread only.
#pragma once

#include <memory>
#include <string>

#include "app/Settings.h"
#include "record/Session.h"

namespace framework {
class TLabel;
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
  // Takes the user's folders and shows the window when it was open.
  void Restore(const TSettings& settings);
  // Puts the recorder's part of the settings (folders, window open) into
  // `settings`.
  void Keep(TSettings& settings) const;

  framework::TMenuItem* N_Record = nullptr;       // "Запись"
  framework::TMenuItem* N_RecordStart = nullptr;  // "Начать запись…"
  framework::TMenuItem* N_RecordStop = nullptr;   // "Остановить запись"
  framework::TMenuItem* N_RecordWindow = nullptr; // "Окно записи"
  framework::TMenuItem* N_RecordClear = nullptr;  // "Сбросить статистику"
  framework::TLabel* La_Recording = nullptr;      // the mark in the strip

 private:
  void AddMenu();
  void AddMark();
  // Menu items and the mark follow whether a recording runs.
  void UpdateMenu();

  TForm1& form_;
  record::Session session_;
  std::unique_ptr<record::RecorderWindow> window_;
};

}  // namespace app
