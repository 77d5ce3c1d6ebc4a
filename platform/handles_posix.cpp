#include "platform/handles.h"
#include "platform/last_error.h"

namespace platform::detail {

// Here every handle is the table's: one it does not hold is none at all.
BOOL CloseSystemHandle(HANDLE) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // namespace platform::detail
