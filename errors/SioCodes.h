// Result codes of the communications classes. 0 or a positive count is
// success; a negative code names a failure. Operating-system failures are
// passed on as minus the system error number (-2 .. -162 reach the caller
// as input/output errors, -8 as out of memory); the magnitude of every other
// code is the id of its message in the error-message resource.
#pragma once

#include <cstdint>

namespace errors {

using ResultCode = std::int32_t;

constexpr ResultCode ecOK = 0;
constexpr ResultCode ecOutOfMemory = -8;

// General component errors.
constexpr ResultCode ecBadArgument = -1002;
constexpr ResultCode ecGotQuitMsg = -1003;
constexpr ResultCode ecBufferTooBig = -1004;
constexpr ResultCode ecPortNotAssigned = -1005;
constexpr ResultCode ecInternal = -1006;
constexpr ResultCode ecModemNotAssigned = -1007;
constexpr ResultCode ecPhonebookNotAssigned = -1008;
constexpr ResultCode ecCannotUseWithWinSock = -1009;

// Opening a port.
constexpr ResultCode ecBadId = -2001;
constexpr ResultCode ecBaudRate = -2002;
constexpr ResultCode ecByteSize = -2003;
constexpr ResultCode ecDefault = -2004;
constexpr ResultCode ecHardware = -2005;
constexpr ResultCode ecMemory = -2006;
constexpr ResultCode ecCommNotOpen = -2007;
constexpr ResultCode ecAlreadyOpen = -2008;
constexpr ResultCode ecNoHandles = -2009;
constexpr ResultCode ecNoTimers = -2010;
constexpr ResultCode ecNoPortSelected = -2011;
constexpr ResultCode ecNotOpenedByTapi = -2012;

// Serial I/O operations.
constexpr ResultCode ecNullApi = -3001;
constexpr ResultCode ecRegisterHandlerFailed = -3003;
constexpr ResultCode ecPutBlockFail = -3004;
constexpr ResultCode ecGetBlockFail = -3005;
constexpr ResultCode ecOutputBufferTooSmall = -3006;
constexpr ResultCode ecBufferIsEmpty = -3007;
constexpr ResultCode ecTracingNotEnabled = -3008;
constexpr ResultCode ecLoggingNotEnabled = -3009;
constexpr ResultCode ecBaseAddressNotSet = -3010;

// Triggers.
constexpr ResultCode ecNoMoreTriggerSlots = -5001;
constexpr ResultCode ecTriggerTooLong = -5002;
constexpr ResultCode ecBadTriggerHandle = -5003;

}  // namespace errors
