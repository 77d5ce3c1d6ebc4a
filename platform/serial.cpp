#include "platform/serial.h"

#include "platform/com_names.h"
#include "platform/last_error.h"
#include "platform/serial_port.h"

namespace platform {

namespace {

// Runs `call` on the serial port behind `file`, or fails with
// ERROR_INVALID_HANDLE when the handle names no serial port.
template <class Call>
BOOL OnPort(HANDLE file, Call call) {
  std::shared_ptr<SerialPort> port = LookupHandleAs<SerialPort>(file);
  if (!port) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return call(*port);
}

}  // namespace

HANDLE CreateFileA(const char* fileName, DWORD, DWORD, const void*, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE) {
  if (fileName == nullptr || creationDisposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::optional<int> number = ParseComName(fileName);
  if (!number) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DWORD error = 0;
  std::unique_ptr<SerialBackend> backend;
  if (SerialBackendFactory test = TestSerialFactory()) backend = test(*number, error);
  if (!backend && error == 0) backend = OpenTtySerial(*number, error);
  if (!backend) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return RegisterSerialPort(std::move(backend), flagsAndAttributes);
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  return OnPort(file, [&](SerialPort& port) { return port.SetupComm(inQueue, outQueue); });
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
  return OnPort(file, [&](SerialPort& port) { return port.GetCommState(dcb); });
}

BOOL SetCommState(HANDLE file, const DCB* dcb) {
  return OnPort(file, [&](SerialPort& port) { return port.SetCommState(dcb); });
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
  return OnPort(file, [&](SerialPort& port) { return port.GetCommTimeouts(timeouts); });
}

BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts) {
  return OnPort(file, [&](SerialPort& port) { return port.SetCommTimeouts(timeouts); });
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
  return OnPort(file, [&](SerialPort& port) { return port.SetCommMask(eventMask); });
}

BOOL GetCommMask(HANDLE file, DWORD* eventMask) {
  return OnPort(file, [&](SerialPort& port) { return port.GetCommMask(eventMask); });
}

BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped) {
  return OnPort(file, [&](SerialPort& port) { return port.WaitCommEvent(eventMask, overlapped); });
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              OVERLAPPED* overlapped) {
  return OnPort(file, [&](SerialPort& port) {
    return port.ReadFile(buffer, bytesToRead, bytesRead, overlapped);
  });
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped) {
  return OnPort(file, [&](SerialPort& port) {
    return port.WriteFile(buffer, bytesToWrite, bytesWritten, overlapped);
  });
}

BOOL WriteFileNow(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
  return OnPort(file, [&](SerialPort& port) {
    return port.WriteFileNow(buffer, bytesToWrite, bytesWritten);
  });
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytesTransferred,
                         BOOL wait) {
  return OnPort(file, [&](SerialPort& port) {
    return port.GetOverlappedResult(overlapped, bytesTransferred, wait);
  });
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* status) {
  return OnPort(file, [&](SerialPort& port) { return port.ClearCommError(errors, status); });
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
  return OnPort(file, [&](SerialPort& port) { return port.PurgeComm(flags); });
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
  return OnPort(file, [&](SerialPort& port) { return port.EscapeCommFunction(function); });
}

BOOL GetCommModemStatus(HANDLE file, DWORD* modemStatus) {
  return OnPort(file, [&](SerialPort& port) { return port.GetCommModemStatus(modemStatus); });
}

}  // namespace platform
