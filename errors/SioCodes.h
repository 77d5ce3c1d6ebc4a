// Result codes of the communications classes. 0 or a positive count is
// success; a negative code names a failure. Operating-system failures are
// passed on as minus the system error number (-2 .. -162 reach the caller
// as input/output errors, -8 as out of memory); the magnitude of every other
// code is the id of its message in the error-message resource. Every code
// with a class of its own is in one table, SioErrorTable.def.
#pragma once

#include <cstdint>

namespace errors {

using ResultCode = std::int32_t;

constexpr ResultCode ecOK = 0;
constexpr ResultCode ecOutOfMemory = -8;

// The named codes of the error table: general component errors (-1002 ..),
// opening a port (-2001 ..), serial I/O (-3001 ..) and triggers (-5001 ..).
// The table also lists the codes that only raise a class.
#define SIO_NAMED_CODE(Class, code, constant) constexpr ResultCode constant = code;
#define SIO_TEXT_CODE(code, constant) constexpr ResultCode constant = code;
#include "errors/SioErrorTable.def"

}  // namespace errors
