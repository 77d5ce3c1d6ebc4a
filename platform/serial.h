// Serial communications functions by the names and with the behaviour of
// the system interface the device layer was designed against, on Linux.
//
// Opening. CreateFileA accepts "\\.\COMn" and "COMn" (any case, n 1..256).
// A fake device registered for n in this process (serial_fake.h, in test
// programs only) wins;
// otherwise n is resolved to a tty by com_names.h and opened:
//   - exclusively: a second open, in this process or another, fails with
//     ERROR_SHARING_VIOLATION (32); a device this user has no rights on
//     with ERROR_ACCESS_DENIED (5); a missing device or a node without
//     hardware with ERROR_FILE_NOT_FOUND (2); see Win32ErrorFromErrno for
//     the rest;
//   - in raw mode, 9600 baud, 8 data bits, no parity, one stop bit, DTR and
//     RTS raised, until SetCommState says otherwise.
// With FILE_FLAG_OVERLAPPED, ReadFile, WriteFile and WaitCommEvent given an
// OVERLAPPED record either complete at once (TRUE) or return FALSE with
// ERROR_IO_PENDING; on completion the record's manual-reset hEvent (if any)
// is set, and GetOverlappedResult reports the outcome (waiting if asked).
// Each such call resets hEvent when it starts. Without the flag, or
// without a record, the calls block until done.
//
// Behaviour the device layer relies on:
//   - Received bytes are drained from the device at once into the port's
//     receive buffer (SetupComm's input size, default 4096); bytes that do
//     not fit are lost with CE_RXOVER.
//   - ReadFile with ReadIntervalTimeout = MAXDWORD and both total time-out
//     fields 0 returns at once with what has arrived (possibly nothing).
//     The other time-out combinations behave as on the original system
//     (interval, total, and "first byte or constant" for MAXDWORD/MAXDWORD).
//   - Line errors: characters received with a parity or framing error give
//     CE_RXPARITY (CE_FRAME when the driver tells them apart or parity is
//     off) and EV_ERR; a break gives CE_BREAK and EV_BREAK and no character.
//     ClearCommError returns and clears the bits; cbInQue is the receive
//     buffer's fill, cbOutQue the bytes of pending writes plus what the
//     driver still holds. COMSTAT::Flags is always 0.
//   - Events in the mask that happen while no wait is pending are kept and
//     end the next WaitCommEvent at once. SetCommMask clears them and ends a
//     pending wait successfully with event word 0. WaitCommEvent with mask 0
//     or while another wait is pending fails with ERROR_INVALID_PARAMETER.
//     EV_TXEMPTY is raised when the last pending write has been handed to
//     the driver (the driver's own queue is not watched).
//   - Modem-line events (EV_CTS, EV_DSR, EV_RLSD, EV_RING, EV_RINGTE) come
//     only from drivers that report line changes, and are watched only while
//     the mask asks for them. A pseudo-terminal has no modem lines: its
//     events never come, GetCommModemStatus reports the shadow value
//     MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON, and DTR/RTS escapes only change
//     shadow levels. SETBREAK/CLRBREAK fail there with ERROR_NOT_SUPPORTED.
//   - PurgeComm: PURGE_TXABORT / PURGE_RXABORT end pending writes / reads
//     with ERROR_OPERATION_ABORTED (995); PURGE_TXCLEAR / PURGE_RXCLEAR empty
//     the driver's and the port's queues.
//   - A device that vanishes (unplugged adapter, closed pseudo-terminal
//     master) fails every pending operation with ERROR_ACCESS_DENIED at
//     once, and every later call on the handle the same way; CloseHandle
//     still succeeds. Closing the handle ends pending operations with
//     ERROR_OPERATION_ABORTED.
//   - SetCommState checks the block (rate not 0, 5..8 data bits, parity
//     0..4, one and a half stop bits only with 5 data bits, two only with
//     more, distinct XON/XOFF characters when either is used) and reports
//     ERROR_INVALID_PARAMETER; a rate or framing the driver does not take
//     fails the same way and leaves the old settings. DTR handshake, DSR
//     flow, DSR sensitivity and RTS toggle have no Linux equivalent and fail
//     with ERROR_NOT_SUPPORTED. CTS output flow or RTS handshake switch on
//     the driver's RTS/CTS flow control (which always covers both
//     directions). GetCommState returns the block that was last set.
//   - fAbortOnError: after a line error, reads and writes fail with
//     ERROR_OPERATION_ABORTED until ClearCommError. fNull drops received NUL
//     characters; fErrorChar replaces characters received with an error by
//     ErrorChar; EvtChar raises EV_RXFLAG.
//   - Write time-outs are stored and returned but not applied: a write ends
//     when the driver has taken all of it, or by PurgeComm or CloseHandle.
//   - Calls on a closed handle fail with ERROR_INVALID_HANDLE (6).
//
// Thread safety: every function may be called from any thread, also on the
// same handle at the same time (one thread waiting for events, one reading,
// one writing, one changing settings, as the device layer does).
#pragma once

#include "platform/handles.h"
#include "platform/win_types.h"

namespace platform {

constexpr DWORD MAXDWORD = 0xFFFFFFFFu;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD EV_PERR = 0x0200;
constexpr DWORD EV_RX80FULL = 0x0400;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   const void* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommState(HANDLE file, const DCB* dcb);
BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts);
BOOL SetCommMask(HANDLE file, DWORD eventMask);
BOOL GetCommMask(HANDLE file, DWORD* eventMask);
BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytesTransferred,
                         BOOL wait);
// Hands the driver as much of the buffer as it takes at once, and only
// while no write is pending (so it never overtakes one); never queues and
// never waits. TRUE with *bytesWritten (0 .. bytesToWrite, 0 also when a
// write is pending), or FALSE with the error WriteFile would have set.
// EV_TXEMPTY is raised when all of it was taken.
BOOL WriteFileNow(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* status);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL GetCommModemStatus(HANDLE file, DWORD* modemStatus);

}  // namespace platform
