// The recorder's window: buttons to start and stop recording, pause the
// chart, autoscale, save the chart as PNG and clear the statistics; the
// recording's state line; the trend chart of the current function and
// unit (a list picks another one of the session's trends; a change of
// function or unit brings the new one into view); and the statistics table,
// one row per function and unit.
//
// The window is a top-level window of its own beside the front panel. It
// shows the Session it is given and never changes how readings are taken.
// A recording that fails is reported in the state line and in a message
// box that does not block the panel.
//
// This header carries no Qt types, so the front panel's code can own the
// window without depending on the chart library.
//
// Thread safety: the GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "record/Session.h"

namespace record {

class RecorderWindow {
 public:
  explicit RecorderWindow(Session& session);
  ~RecorderWindow();
  RecorderWindow(const RecorderWindow&) = delete;
  RecorderWindow& operator=(const RecorderWindow&) = delete;

  // Shows the window (at its place, see MoveTo) and brings it to the front.
  void Show();
  // Where the window's frame goes on the screen when it is next shown
  // (a window manager may place it otherwise): there, or as near as keeps
  // the whole window on the screen.
  void MoveTo(int left, int top);
  int Left() const;
  int Top() const;
  bool Visible() const;
  // A reading was added to the session: the chart, table and state follow.
  void Update();
  // Asks for a file and starts recording into it.
  void AskAndStartRecording();
  // Starts recording into `path`; a failure is reported as above. Returns
  // whether the recording runs.
  bool StartRecording(const std::string& path);
  void StopRecording();
  void ClearStatistics();
  // The whole window / the chart alone as a PNG file.
  bool SaveImage(const std::string& path);
  bool SaveChart(const std::string& path);
  // The text of the state line and of the last failure shown (for tests).
  std::string StateText() const;
  std::string LastMessage() const;
  // Picks the session's trend number `index` for the chart, as the list
  // does; the function and unit the chart shows ("" for none).
  void ChooseTrend(int index);
  std::string ChartTrend() const;
  // The folders the file dialogs start in for recordings and for the
  // chart's pictures ("" the current folder); a recording or a picture
  // saved elsewhere moves them there.
  void SetRecordFolder(const std::string& folder);
  std::string RecordFolder() const;
  void SetChartFolder(const std::string& folder);
  std::string ChartFolder() const;
  // The statistics table's cell as shown (for tests).
  std::string TableText(int row, int column) const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace record
