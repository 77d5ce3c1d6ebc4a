#include "platform/sync.h"

#include <thread>

#include "platform/last_error.h"
#include "platform/wait_core.h"

namespace platform {

using detail::Waitable;

HANDLE CreateEventA(const void* security, BOOL manualReset, BOOL initialState, const char* name) {
  try {
    return RegisterHandle(std::make_shared<detail::Event>(manualReset != FALSE, initialState != FALSE));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

BOOL SetEvent(HANDLE event) {
  auto object = LookupHandleAs<detail::Event>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto object = LookupHandleAs<detail::Event>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->Reset();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
  if (count == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  // The deadline starts before the handles are looked up, so the limit
  // counts from the call.
  detail::Deadline deadline(milliseconds);
  auto resolved = detail::ResolveWaitHandles(count, objects, waitAll != FALSE);
  if (!resolved) return WAIT_FAILED;
  std::vector<Waitable*> raw;
  raw.reserve(resolved->size());
  for (const auto& object : *resolved) raw.push_back(object.get());
  return detail::WaitResult(detail::WaitForObjects(raw, waitAll != FALSE, nullptr, deadline));
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else if (milliseconds == INFINITE) {
    // Sleeping for ever is a legal request; nothing ever ends it.
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

}  // namespace platform
