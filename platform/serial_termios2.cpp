#include "platform/serial_termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {
constexpr tcflag_t kSpeedBits = CBAUD | (CBAUD << IBSHIFT);
static_assert(sizeof(TtyLine::cc) == NCCS, "the kernel's control-character count");
}  // namespace

int ReadTtyLine(int fd, TtyLine& line) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return errno;
  line.iflag = settings.c_iflag;
  line.oflag = settings.c_oflag;
  line.cflag = settings.c_cflag & ~kSpeedBits;
  line.lflag = settings.c_lflag;
  std::copy_n(settings.c_cc, NCCS, line.cc);
  line.baud = settings.c_ospeed;
  return 0;
}

int WriteTtyLine(int fd, const TtyLine& line) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return errno;
  settings.c_iflag = line.iflag;
  settings.c_oflag = line.oflag;
  settings.c_cflag = (line.cflag & ~kSpeedBits) | BOTHER | (BOTHER << IBSHIFT);
  settings.c_lflag = line.lflag;
  std::copy_n(line.cc, NCCS, settings.c_cc);
  settings.c_ispeed = line.baud;
  settings.c_ospeed = line.baud;
  if (ioctl(fd, TCSETS2, &settings) != 0) return errno;
  return 0;
}

}  // namespace platform
