#include "GuiTestUtil.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "framework/Application.h"

extern char** environ;

namespace tesmar::gui {

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, int stdoutFd = -1,
            const std::string& stderrFile = {}) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env(extraEnv);
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string key = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& x : extraEnv) replaced = replaced || x.rfind(key, 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 3);
  if (!stderrFile.empty())
    posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  return pid;
}

std::optional<int> WaitFor(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
}

}  // namespace

BoxDriver::BoxDriver() : timer_(std::make_unique<QTimer>()) {
  QObject::connect(timer_.get(), &QTimer::timeout, [this] { Poll(); });
  timer_->start(20);
}

BoxDriver::~BoxDriver() = default;

void BoxDriver::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != answered_) answered_ = nullptr;
  auto* box = qobject_cast<QMessageBox*>(modal);
  if (box == nullptr || box == answered_ || box->windowHandle() == nullptr ||
      !box->windowHandle()->isExposed())
    return;
  answered_ = box;
  texts.push_back(box->text().toStdString());
  screens.push_back(GrabScreen());
  const std::string command = "xdotool windowfocus --sync " + std::to_string(box->winId()) + " key Return";
  if (std::system(command.c_str()) != 0) ++failedKeys;
}

std::filesystem::path DosDevices() {
  return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "tesmar" / "dosdevices";
}

void LinkCom1(const std::filesystem::path& target) {
  std::error_code ignored;
  std::filesystem::remove(DosDevices() / "com1", ignored);
  std::filesystem::create_symlink(target, DosDevices() / "com1");
}

void PumpFor(std::chrono::milliseconds span) {
  const auto end = Clock::now() + span;
  while (Clock::now() < end) framework::Application->ProcessMessages();
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    PumpFor(20ms);
  }
  return true;
}

QImage GrabScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen == nullptr ? QImage() : screen->grabWindow(0).toImage();
}

void SaveForInspection(const QImage& image, const std::string& name) {
  image.save(QString::fromStdString((std::filesystem::path(TESMAR_TEST_OUTPUT_DIR) / name).string()));
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

int RunOnDisplay(const std::string& display, const std::string& command) {
  const pid_t pid = Spawn({"sh", "-c", command}, {"DISPLAY=" + display});
  const auto status = WaitFor(pid, 10s);
  if (!status) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

PrivateDisplay::PrivateDisplay() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_ = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {}, fds[1]);
  close(fds[1]);
  // Xvfb writes its display number once it accepts clients.
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  name_ = ":" + number;
}

PrivateDisplay::~PrivateDisplay() { Kill(); }

void PrivateDisplay::Kill() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

ProgramRun::ProgramRun(const std::string& display, const std::vector<std::string>& args,
                       const std::string& stderrFile, const std::vector<std::string>& env) {
  // A program that loses its display ends without Shutdown and leaves the
  // Qt application to the end of the process: no leak to report.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":detect_leaks=0";
  std::vector<std::string> argv{TESMAR_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> environment{"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb", asanOptions};
  environment.insert(environment.begin(), env.begin(), env.end());
  pid_ = Spawn(argv, environment, -1, stderrFile);
}

void ProgramRun::Signal(int signal) { kill(pid_, signal); }

bool WindowShown(const std::string& display, const std::string& pattern) {
  for (int i = 0; i < 100; ++i) {
    if (RunOnDisplay(display, "xdotool search --onlyvisible --name '" + pattern + "' >/dev/null") == 0)
      return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

ProgramRun::~ProgramRun() {
  if (ended_) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::optional<int> ProgramRun::Wait(std::chrono::milliseconds limit) {
  auto status = WaitFor(pid_, limit);
  ended_ = status.has_value();
  return status;
}

}  // namespace tesmar::gui
