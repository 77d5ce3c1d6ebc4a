// The line settings of a tty through the kernel's termios2 interface.
//
// Two reasons for going round the C library: speeds are set by number
// (BOTHER), so any rate the driver can make is available, not only the B-
// constants; and the C library's tcsetattr refuses, on a pseudo-terminal,
// framing the pseudo-terminal cannot show, where the port wants to keep
// what was set. Kept in a file of its own because the kernel's termios
// structures clash with the C library's. The flag and index values are the
// same in both headers.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace platform {

struct TtyLine {
  std::uint32_t iflag = 0;
  std::uint32_t oflag = 0;
  std::uint32_t cflag = 0;  // without the speed bits
  std::uint32_t lflag = 0;
  std::uint8_t cc[19] = {};
  DWORD baud = 0;  // output and input speed
};

// 0 or an errno value.
int ReadTtyLine(int fd, TtyLine& line);
int WriteTtyLine(int fd, const TtyLine& line);

}  // namespace platform
