#include "platform/handles.h"
#include "platform/win32.h"

namespace platform::detail {

BOOL CloseSystemHandle(HANDLE handle) { return ::CloseHandle(win32::Native(handle)); }

}  // namespace platform::detail
