#include <vector>

#include "platform/last_error.h"
#include "platform/sync.h"
#include "platform/win32.h"

namespace platform {

HANDLE CreateEventA(const void* security, BOOL manualReset, BOOL initialState, const char* name) {
  return win32::Ours(::CreateEventA(static_cast<LPSECURITY_ATTRIBUTES>(const_cast<void*>(security)),
                                    manualReset, initialState, name));
}

BOOL SetEvent(HANDLE event) { return ::SetEvent(win32::Native(event)); }

BOOL ResetEvent(HANDLE event) { return ::ResetEvent(win32::Native(event)); }

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  return ::WaitForSingleObject(win32::Native(object), milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && objects == nullptr)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<::HANDLE> handles;
  handles.reserve(count);
  for (DWORD i = 0; i < count; ++i) handles.push_back(win32::Native(objects[i]));
  return ::WaitForMultipleObjects(count, handles.data(), waitAll, milliseconds);
}

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
