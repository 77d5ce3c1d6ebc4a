// The C library's errno values as system error numbers: the same on every
// system, since file and stream calls report through errno everywhere.
#include <algorithm>
#include <cerrno>
#include <iterator>

#include "platform/error_text.h"

namespace platform {

namespace {

// Windows' C library knows no disk quotas.
constexpr int kDiskFullErrnos[] = {ENOSPC, EFBIG,
#ifdef EDQUOT
                                   EDQUOT
#endif
};

}  // namespace

DiskFault DiskFaultFromErrno(int errnoValue) {
  if (std::find(std::begin(kDiskFullErrnos), std::end(kDiskFullErrnos), errnoValue) !=
      std::end(kDiskFullErrnos))
    return DiskFault::kFull;
  return errnoValue == EROFS ? DiskFault::kWriteProtected : DiskFault::kNone;
}

DWORD Win32ErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTTY:
    case EIO: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EBUSY:
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace platform
