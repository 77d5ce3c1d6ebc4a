// The calling thread's last system error number.
#pragma once

#include "platform/win_types.h"

namespace platform {

DWORD GetLastError();
void SetLastError(DWORD code);

}  // namespace platform
