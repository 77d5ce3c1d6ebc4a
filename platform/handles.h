// The process's handle table. Every kernel object the platform layer hands
// out (events, threads, serial ports) is registered here under a HANDLE and
// looked up by it; CloseHandle removes the entry and tells the object. On
// Windows only the fake device's ports live here; every other handle is the
// system's, and the two never share a value (see handles.cpp).
//
// Thread safety: every function may be called from any thread. An object
// looked up stays alive for as long as the caller holds the returned
// pointer, even if another thread closes its handle meanwhile.
#pragma once

#include <memory>

#include "platform/win_types.h"

namespace platform {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Called once, by CloseHandle, after the handle is gone from the table.
  // Returns FALSE (with the last error set) to report a failed close.
  virtual BOOL OnClose() { return TRUE; }
};

// Registers the object and returns its new handle (never 0 or -1).
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null when the handle is not open.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// The object behind a handle when it is of type T, else null.
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Closes any handle: one of this table, or else one of the system's
// (ERROR_INVALID_HANDLE where the system has none of its own here).
BOOL CloseHandle(HANDLE handle);

namespace detail {
// The back end's part of CloseHandle, for a handle this table does not
// hold (handles_posix.cpp, handles_win32.cpp).
BOOL CloseSystemHandle(HANDLE handle);
}  // namespace detail

}  // namespace platform
