// The Windows back end's bridge to the system's headers (internal to the
// *_win32.cpp files, and the last header each includes: the system's
// macros TRUE, FALSE, INFINITE, ERROR_... would otherwise break the
// constants of win_types.h).
//
// Our records are laid out as the system's, so a pointer to one is handed
// to the system as it is; the checks below hold it to that. Handles and
// window handles travel as integers of pointer width.
#pragma once

#include "platform/messages.h"
#include "platform/win_types.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>

// The system's macros that name its HWND, which inside namespace platform
// would mean ours.
namespace win32_system {
inline HWND MessageOnlyParent() { return HWND_MESSAGE; }
}  // namespace win32_system

namespace platform::win32 {

// The parent of a window that only receives messages.
inline ::HWND MessageOnlyParent() { return win32_system::MessageOnlyParent(); }

inline ::HANDLE Native(platform::HANDLE handle) { return reinterpret_cast<::HANDLE>(handle); }
inline platform::HANDLE Ours(::HANDLE handle) { return reinterpret_cast<platform::HANDLE>(handle); }
inline ::HWND NativeWindow(platform::HWND window) { return reinterpret_cast<::HWND>(window); }
inline platform::HWND OurWindow(::HWND window) { return reinterpret_cast<platform::HWND>(window); }

// Our DWORD is unsigned int, the system's unsigned long: both 32 bits here.
static_assert(sizeof(platform::DWORD) == sizeof(::DWORD));
inline ::DWORD* Native(platform::DWORD* value) { return reinterpret_cast<::DWORD*>(value); }

static_assert(sizeof(platform::DCB) == sizeof(::DCB));
static_assert(offsetof(platform::DCB, BaudRate) == offsetof(::DCB, BaudRate));
static_assert(offsetof(platform::DCB, wReserved) == offsetof(::DCB, wReserved));
static_assert(offsetof(platform::DCB, XonChar) == offsetof(::DCB, XonChar));
static_assert(offsetof(platform::DCB, EvtChar) == offsetof(::DCB, EvtChar));
inline ::DCB* Native(platform::DCB* dcb) { return reinterpret_cast<::DCB*>(dcb); }
inline const ::DCB* Native(const platform::DCB* dcb) { return reinterpret_cast<const ::DCB*>(dcb); }

static_assert(sizeof(platform::COMSTAT) == sizeof(::COMSTAT));
static_assert(offsetof(platform::COMSTAT, cbInQue) == offsetof(::COMSTAT, cbInQue));
inline ::COMSTAT* Native(platform::COMSTAT* status) { return reinterpret_cast<::COMSTAT*>(status); }

static_assert(sizeof(platform::COMMTIMEOUTS) == sizeof(::COMMTIMEOUTS));
inline ::COMMTIMEOUTS* Native(platform::COMMTIMEOUTS* timeouts) {
  return reinterpret_cast<::COMMTIMEOUTS*>(timeouts);
}
inline const ::COMMTIMEOUTS* Native(const platform::COMMTIMEOUTS* timeouts) {
  return reinterpret_cast<const ::COMMTIMEOUTS*>(timeouts);
}

// The system writes the record of a pending operation when it completes,
// so it must be the caller's own record, not a copy.
static_assert(sizeof(platform::OVERLAPPED) == sizeof(::OVERLAPPED));
static_assert(offsetof(platform::OVERLAPPED, InternalHigh) == offsetof(::OVERLAPPED, InternalHigh));
static_assert(offsetof(platform::OVERLAPPED, Offset) == offsetof(::OVERLAPPED, Offset));
static_assert(offsetof(platform::OVERLAPPED, hEvent) == offsetof(::OVERLAPPED, hEvent));
inline ::OVERLAPPED* Native(platform::OVERLAPPED* overlapped) {
  return reinterpret_cast<::OVERLAPPED*>(overlapped);
}

}  // namespace platform::win32
