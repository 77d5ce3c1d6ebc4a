// System message texts and the mapping of native errors to system error
// numbers. On Windows FormatMessageA is the system's own; the rest of this
// comment describes the stand-in elsewhere.
//
// FormatMessageA answers FORMAT_MESSAGE_FROM_SYSTEM requests for the error
// numbers this layer produces (and a few neighbours the layers above may
// pass through) with the standard English texts, each ending in CR LF as the
// original system's texts do; the error text cleaning of the layers above
// relies on that ending.
//
// Thread safety: every function may be called from any thread; the text
// table is constant.
#pragma once

#include <string_view>

#include "platform/win_types.h"

namespace platform {

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

// Errors FormatMessageA itself reports.
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// Copies the system's text for `messageId` into `buffer` (at most `size`
// characters including the terminating zero) and returns its length without
// the zero. Only FORMAT_MESSAGE_FROM_SYSTEM is served; IGNORE_INSERTS and
// MAX_WIDTH_MASK are accepted (no text here has inserts or needs wrapping).
// `language` must be 0 (neutral) or an English language id.
// Returns 0 with the last error set when:
//   - the number has no text: ERROR_MR_MID_NOT_FOUND;
//   - the text with its zero does not fit: ERROR_INSUFFICIENT_BUFFER;
//   - another language is asked for: ERROR_RESOURCE_LANG_NOT_FOUND;
//   - other sources, ALLOCATE_BUFFER or a null buffer: ERROR_INVALID_PARAMETER.
// `source` and `arguments` are accepted for the interface's sake.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD language,
                     char* buffer, DWORD size, void* arguments);

// The stand-in's text for an error number (with its CR LF), or an empty
// view when there is none. The texts live as long as the program. Not on
// Windows, whose FormatMessageA is the system's.
std::string_view SystemErrorText(DWORD code);

// The single mapping of errno values to system error numbers used by the
// serial back ends and the COM name resolution:
//   ENOENT, ENXIO, ENODEV, ENOTTY, EIO  -> ERROR_FILE_NOT_FOUND (2)
//   EACCES, EPERM                       -> ERROR_ACCESS_DENIED (5)
//   EBUSY, EWOULDBLOCK                  -> ERROR_SHARING_VIOLATION (32)
//   ENOMEM                              -> ERROR_NOT_ENOUGH_MEMORY (8)
//   EINVAL                              -> ERROR_INVALID_PARAMETER (87)
//   ENOTDIR, ENAMETOOLONG, ELOOP        -> ERROR_PATH_NOT_FOUND (3)
//   EBADF                               -> ERROR_INVALID_HANDLE (6)
//   anything else                       -> ERROR_GEN_FAILURE (31)
// EWOULDBLOCK stands for a lock another process holds (flock's answer),
// EBUSY for a terminal another process opened exclusively (TIOCEXCL): a
// port in use is told apart from one this user has no rights on.
DWORD Win32ErrorFromErrno(int errnoValue);

// What a failed file write's errno says about the disk: full (ENOSPC,
// EFBIG, and EDQUOT where the C library has quotas), write-protected
// (EROFS), or neither.
enum class DiskFault { kNone, kFull, kWriteProtected };
DiskFault DiskFaultFromErrno(int errnoValue);

}  // namespace platform
