// Line speeds by number, through the kernel's termios2 interface (BOTHER),
// so that any rate the driver can make is available, not only the B-
// constants of <termios.h>. Kept apart because the kernel's termios
// structures clash with the C library's.
#pragma once

#include "platform/win_types.h"

namespace platform {

// Sets input and output speed of the tty `fd`; 0 or an errno value.
int SetTtySpeed(int fd, DWORD baud);
// Reads back the output speed the driver actually uses; 0 or an errno value.
int GetTtySpeed(int fd, DWORD& baud);

}  // namespace platform
