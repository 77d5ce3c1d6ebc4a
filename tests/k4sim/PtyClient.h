// The client side of the simulator's pty for tests: opens the slave raw and
// reads it character by character, the way the front panel does.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace k4sim::test {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

class PtyClient {
 public:
  explicit PtyClient(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~PtyClient() { close(fd_); }
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  void Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = write(fd_, bytes.data(), bytes.size());
      if (n < 0) throw std::runtime_error("write to the pty failed");
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  // The next received character, or nothing within the time limit.
  std::optional<char> ReadChar(Ms limit = 10000ms) {
    if (pending_.empty() && !Fill(limit)) return std::nullopt;
    const char c = pending_.front();
    pending_.erase(0, 1);
    return c;
  }

  // Everything that arrives within `span`, plus what was already pending.
  std::string ReadFor(Ms span) {
    const auto end = std::chrono::steady_clock::now() + span;
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
      Fill(std::chrono::duration_cast<Ms>(end - now) + 1ms);
    }
    std::string all;
    all.swap(pending_);
    return all;
  }

  // Everything received until `enough` holds of it, or the limit passes
  // (a guard against a hang, not a measure of speed).
  template <typename Enough>
  std::string ReadUntil(Enough enough, Ms limit = 20000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!enough(pending_)) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) break;
      Fill(std::chrono::duration_cast<Ms>(end - now) + 1ms);
    }
    std::string all;
    all.swap(pending_);
    return all;
  }

  // Sends one character and waits for one character back, as the panel
  // paces a command.
  std::optional<char> SendPaced(char c, Ms limit = 10000ms) {
    Write(std::string_view(&c, 1));
    return ReadChar(limit);
  }

  // Sends each character of `line` paced.
  bool SendLinePaced(std::string_view line) {
    for (char c : line) {
      if (!SendPaced(c)) return false;
    }
    return true;
  }

  // Skips to the next LF and takes `count` characters after it, as the
  // panel's reader does. Empty on time-out.
  std::string ReadReading(std::size_t count) {
    for (;;) {
      const std::optional<char> c = ReadChar();
      if (!c) return {};
      if (*c == '\n') break;
    }
    std::string reading;
    while (reading.size() < count) {
      const std::optional<char> c = ReadChar();
      if (!c) return {};
      reading += *c;
    }
    return reading;
  }

  void Discard() { ReadFor(0ms); }

 private:
  bool Fill(Ms limit) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
    char buffer[512];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  int fd_ = -1;
  std::string pending_;
};

}  // namespace k4sim::test
