#include <string>

#include "platform/clock.h"
#include "platform/win32.h"
// After windows.h, which it needs.
#include <mmsystem.h>

namespace platform {

BOOL QueryPerformanceCounter(std::int64_t* count) {
  if (count == nullptr) return FALSE;
  LARGE_INTEGER value;
  if (!::QueryPerformanceCounter(&value)) return FALSE;
  *count = value.QuadPart;
  return TRUE;
}

BOOL QueryPerformanceFrequency(std::int64_t* frequency) {
  if (frequency == nullptr) return FALSE;
  LARGE_INTEGER value;
  if (!::QueryPerformanceFrequency(&value)) return FALSE;
  *frequency = value.QuadPart;
  return TRUE;
}

DWORD timeGetTime() { return ::timeGetTime(); }

DWORD GetTickCount() { return ::GetTickCount(); }

std::string SystemDescription() {
  // GetVersionEx reports the version the program's manifest names, not the
  // running one; ntdll's own call does not.
  using GetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  auto call = ntdll ? reinterpret_cast<GetVersionCall>(
                          reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                    : nullptr;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (call == nullptr || call(&info) != 0) return "Windows";
  return "Windows " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
         std::to_string(info.dwBuildNumber);
}

bool IsWindowsNT() { return (::GetVersion() & 0x80000000u) == 0; }

}  // namespace platform
