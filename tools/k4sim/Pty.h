// A pseudo-terminal for the simulator: the master, which the simulator
// reads and writes, and a descriptor of its own on the slave, kept open so
// that the master never reads EIO while no client has the slave open.
// Optionally a symbolic link comN in a dosdevices folder names the slave,
// so the serial layer finds it as COMn.
//
// Thread safety: a Pty is made and destroyed on one thread; MasterFd may be
// used by one other thread (the simulator's I/O thread) in between.
#pragma once

#include <string>

namespace k4sim {

// An owned file descriptor; -1 when empty.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  int Release();

 private:
  int fd_ = -1;
};

class Pty {
 public:
  // Opens a master (non-blocking, close-on-exec) and its slave, and puts the
  // slave in raw mode: no echo, no line editing, no CR/LF translation, so
  // that bytes pass both ways unchanged until a client sets its own modes.
  // Throws std::system_error.
  Pty();
  // Removes the link if it still names this pty's slave.
  ~Pty();

  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int MasterFd() const { return master_.Get(); }
  const std::string& SlavePath() const { return slavePath_; }

  // Links <dosdevices>/com<number> to the slave, creating the folder if
  // missing. Replaces an existing entry only when it is a dangling symbolic
  // link: a link to a live device, or any other file, is left alone and
  // reported (std::runtime_error). An empty folder name or a number below 1:
  // std::invalid_argument. Other failures: std::system_error.
  void Link(const std::string& dosdevices, int number);
  const std::string& LinkPath() const { return linkPath_; }
  void Unlink();

 private:
  UniqueFd master_;
  UniqueFd slave_;
  std::string slavePath_;
  std::string linkPath_;
};

}  // namespace k4sim
