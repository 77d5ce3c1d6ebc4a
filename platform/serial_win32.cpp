// The communications functions on Windows: the system's own, except for a
// port a test's fake device serves. Such a port lives in the handle table
// (handles.h), whose handles the system never hands out, so a handle alone
// tells which of the two it names.
#include <optional>

#include "platform/com_names.h"
#include "platform/last_error.h"
#include "platform/serial.h"
#include "platform/serial_port.h"
#include "platform/win32.h"

namespace platform {

namespace {

using win32::Native;

// `fake` on the fake device's port behind `file`, else `system` on the
// system's handle.
template <class Fake, class System>
BOOL Route(HANDLE file, Fake fake, System system) {
  if (std::shared_ptr<SerialPort> port = LookupHandleAs<SerialPort>(file)) return fake(*port);
  return system(Native(file));
}

}  // namespace

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, const void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  // The test factory is asked first, for the names the fake device takes.
  std::optional<int> number = fileName ? ParseComName(fileName) : std::nullopt;
  SerialBackendFactory test = TestSerialFactory();
  if (number && test != nullptr && creationDisposition == OPEN_EXISTING) {
    DWORD error = 0;
    if (std::unique_ptr<SerialBackend> backend = test(*number, error))
      return RegisterSerialPort(std::move(backend), flagsAndAttributes);
    if (error != 0) {
      ::SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
  }
  return win32::Ours(::CreateFileA(fileName, desiredAccess, shareMode,
                                   static_cast<LPSECURITY_ATTRIBUTES>(const_cast<void*>(securityAttributes)),
                                   creationDisposition, flagsAndAttributes, Native(templateFile)));
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  return Route(
      file, [&](SerialPort& port) { return port.SetupComm(inQueue, outQueue); },
      [&](::HANDLE h) { return ::SetupComm(h, inQueue, outQueue); });
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
  return Route(
      file, [&](SerialPort& port) { return port.GetCommState(dcb); },
      [&](::HANDLE h) { return ::GetCommState(h, Native(dcb)); });
}

BOOL SetCommState(HANDLE file, const DCB* dcb) {
  return Route(
      file, [&](SerialPort& port) { return port.SetCommState(dcb); },
      [&](::HANDLE h) { return ::SetCommState(h, const_cast<::DCB*>(Native(dcb))); });
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  return Route(
      file, [&](SerialPort& port) { return port.GetCommTimeouts(timeouts); },
      [&](::HANDLE h) { return ::GetCommTimeouts(h, Native(timeouts)); });
}

BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts) {
  return Route(
      file, [&](SerialPort& port) { return port.SetCommTimeouts(timeouts); },
      [&](::HANDLE h) { return ::SetCommTimeouts(h, const_cast<::COMMTIMEOUTS*>(Native(timeouts))); });
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
  return Route(
      file, [&](SerialPort& port) { return port.SetCommMask(eventMask); },
      [&](::HANDLE h) { return ::SetCommMask(h, eventMask); });
}

BOOL GetCommMask(HANDLE file, DWORD* eventMask) {
  return Route(
      file, [&](SerialPort& port) { return port.GetCommMask(eventMask); },
      [&](::HANDLE h) { return ::GetCommMask(h, Native(eventMask)); });
}

BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped) {
  return Route(
      file, [&](SerialPort& port) { return port.WaitCommEvent(eventMask, overlapped); },
      [&](::HANDLE h) { return ::WaitCommEvent(h, Native(eventMask), Native(overlapped)); });
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, OVERLAPPED* overlapped) {
  return Route(
      file, [&](SerialPort& port) { return port.ReadFile(buffer, bytesToRead, bytesRead, overlapped); },
      [&](::HANDLE h) { return ::ReadFile(h, buffer, bytesToRead, Native(bytesRead), Native(overlapped)); });
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped) {
  return Route(
      file, [&](SerialPort& port) { return port.WriteFile(buffer, bytesToWrite, bytesWritten, overlapped); },
      [&](::HANDLE h) {
        return ::WriteFile(h, buffer, bytesToWrite, Native(bytesWritten), Native(overlapped));
      });
}

BOOL WriteFileNow(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
  return Route(
      file, [&](SerialPort& port) { return port.WriteFileNow(buffer, bytesToWrite, bytesWritten); },
      [&](::HANDLE) {
        // The system offers no write that takes only what the driver has
        // room for without queuing the rest: nothing is taken here, and
        // the caller's own writer hands all of it over.
        if (bytesWritten != nullptr) *bytesWritten = 0;
        return TRUE;
      });
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait) {
  return Route(
      file, [&](SerialPort& port) { return port.GetOverlappedResult(overlapped, bytesTransferred, wait); },
      [&](::HANDLE h) {
        return ::GetOverlappedResult(h, Native(overlapped), Native(bytesTransferred), wait);
      });
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* status) {
  return Route(
      file, [&](SerialPort& port) { return port.ClearCommError(errors, status); },
      [&](::HANDLE h) { return ::ClearCommError(h, Native(errors), Native(status)); });
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  return Route(
      file, [&](SerialPort& port) { return port.PurgeComm(flags); },
      [&](::HANDLE h) { return ::PurgeComm(h, flags); });
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  return Route(
      file, [&](SerialPort& port) { return port.EscapeCommFunction(function); },
      [&](::HANDLE h) { return ::EscapeCommFunction(h, function); });
}

BOOL GetCommModemStatus(HANDLE file, DWORD* modemStatus) {
  return Route(
      file, [&](SerialPort& port) { return port.GetCommModemStatus(modemStatus); },
      [&](::HANDLE h) { return ::GetCommModemStatus(h, Native(modemStatus)); });
}

}  // namespace platform
