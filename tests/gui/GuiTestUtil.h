// Helpers for tests on a real X display: answering message boxes the way a
// user does, pictures of the screen, the program itself as a child process
// and a display of its own that a test may take away.
#pragma once

#include <QImage>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;
class QWidget;

namespace tesmar::gui {

using namespace std::chrono_literals;

// Answers every message box that opens while it lives. A timer, running in
// the box's own event loop, finds the box once it is on the screen,
// records its text and a picture of the screen, gives it the X input focus
// and presses Enter through the X server, as a user's keyboard would.
class BoxDriver {
 public:
  BoxDriver();
  ~BoxDriver();
  BoxDriver(const BoxDriver&) = delete;
  BoxDriver& operator=(const BoxDriver&) = delete;

  std::vector<std::string> texts;  // each box answered, in order
  std::vector<QImage> screens;     // the screen with each box up
  int failedKeys = 0;              // xdotool runs that failed

 private:
  void Poll();

  std::unique_ptr<QTimer> timer_;
  QWidget* answered_ = nullptr;  // the box last answered, until it closes
};

// The test program's private dosdevices folder (ProgramEnvironment), and
// COM1 linked in it to Target (replacing the link there was).
std::filesystem::path DosDevices();
void LinkCom1(const std::filesystem::path& target);

// Serves the application's loop for Span.
void PumpFor(std::chrono::milliseconds span);
// Serves it until Done holds (true) or Limit has passed (false).
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// The whole screen as the X server shows it.
QImage GrabScreen();

// Saves Image beside the test program as Name (for a person to look at).
void SaveForInspection(const QImage& image, const std::string& name);

// The first line of a text.
std::string FirstLine(const std::string& text);

// Runs Command with DISPLAY set to Display; its exit status, or -1.
int RunOnDisplay(const std::string& display, const std::string& command);

// A private Xvfb, started by the constructor, ended by Kill or the
// destructor.
class PrivateDisplay {
 public:
  PrivateDisplay();
  ~PrivateDisplay();
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  const std::string& Name() const { return name_; }  // ":N"
  void Kill();

 private:
  int pid_ = -1;
  std::string name_;
};

// Waits until a visible window whose name matches Pattern is on Display.
bool WindowShown(const std::string& display, const std::string& pattern);

// The program built beside the tests, started with DISPLAY = Display, the
// arguments Args, standard error into StderrFile (if named), the variables
// Env ("NAME=" empties one) and the test program's environment otherwise.
class ProgramRun {
 public:
  explicit ProgramRun(const std::string& display, const std::vector<std::string>& args = {},
                      const std::string& stderrFile = {}, const std::vector<std::string>& env = {});
  void Signal(int signal);
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // Waits up to Limit for it to end; its wait status, or nothing if it
  // still runs.
  std::optional<int> Wait(std::chrono::milliseconds limit);

 private:
  int pid_ = -1;
  bool ended_ = false;
};

}  // namespace tesmar::gui
