#include "tools/k4sim/Pty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace k4sim {
namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void SetFlags(int fd, bool nonBlocking) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, nonBlocking ? flags | O_NONBLOCK : flags) < 0) {
    ThrowErrno("k4sim: fcntl(F_SETFL)");
  }
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) < 0) ThrowErrno("k4sim: fcntl(F_SETFD)");
}

}  // namespace

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

Pty::Pty() {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) < 0) ThrowErrno("k4sim: openpty");
  master_ = UniqueFd(master);
  slave_ = UniqueFd(slave);
  SetFlags(master, true);
  SetFlags(slave, false);

  char name[256];
  const int rc = ttyname_r(slave, name, sizeof name);
  if (rc != 0) throw std::system_error(rc, std::generic_category(), "k4sim: ttyname_r");
  slavePath_ = name;

  termios tio{};
  if (tcgetattr(slave, &tio) < 0) ThrowErrno("k4sim: tcgetattr");
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(slave, TCSANOW, &tio) < 0) ThrowErrno("k4sim: tcsetattr");
}

Pty::~Pty() { Unlink(); }

void Pty::Link(const std::string& dosdevices, int number) {
  namespace fs = std::filesystem;
  if (dosdevices.empty() || number < 1) {
    throw std::invalid_argument("k4sim: a COM link needs a dosdevices folder and a number from 1");
  }
  const fs::path folder(dosdevices);
  const fs::path link = folder / ("com" + std::to_string(number));
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) throw std::system_error(ec, "k4sim: cannot create " + folder.string());

  const fs::file_status status = fs::symlink_status(link, ec);
  if (fs::exists(status)) {
    // A dangling link is what a killed run leaves behind; anything else may
    // be the user's adapter and is not ours to replace.
    if (!fs::is_symlink(status) || fs::exists(link, ec)) {
      throw std::runtime_error("k4sim: " + link.string() +
                               " already exists; remove it or choose another COM number");
    }
    fs::remove(link, ec);
  }
  fs::create_symlink(slavePath_, link, ec);
  if (ec) throw std::system_error(ec, "k4sim: cannot link " + link.string());
  linkPath_ = link.string();
}

void Pty::Unlink() {
  if (linkPath_.empty()) return;
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_symlink(linkPath_, ec) && fs::read_symlink(linkPath_, ec) == slavePath_) {
    fs::remove(linkPath_, ec);
  }
  linkPath_.clear();
}

}  // namespace k4sim
