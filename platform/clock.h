// Clocks and the identity of the running system.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace platform {

// A monotonic high-resolution counter and its ticks per second.
BOOL QueryPerformanceCounter(std::int64_t* count);
BOOL QueryPerformanceFrequency(std::int64_t* frequency);

// Milliseconds of a monotonic clock, wrapping at 32 bits.
DWORD timeGetTime();
DWORD GetTickCount();

// The running system, described honestly for diagnostic headers: kernel
// name and release, for example "Linux 6.1.0-28-amd64".
std::string SystemDescription();

// True on the family of systems the device layer calls "NT"; this stand-in
// always reports the modern family.
bool IsWindowsNT();

}  // namespace platform
