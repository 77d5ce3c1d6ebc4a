// The C library's errno values as system error numbers, on every system.
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "platform/error_text.h"

namespace platform {
namespace {

// Windows' C library has no quotas.
const std::vector<int> kQuotaErrnos = {
#ifdef EDQUOT
    EDQUOT
#endif
};

TEST(ErrnoMapping, FollowsTheTable) {
  struct Case {
    int err;
    DWORD code;
  } cases[] = {{ENOENT, 2}, {ENXIO, 2},  {ENODEV, 2},       {ENOTTY, 2}, {EIO, 2},     {EACCES, 5},
               {EPERM, 5},  {EBUSY, 32}, {EWOULDBLOCK, 32}, {ENOMEM, 8}, {EINVAL, 87}, {ENOTDIR, 3},
               {EBADF, 6},  {EPIPE, 31}, {EMFILE, 31},      {0, 31}};
  for (const Case& c : cases) EXPECT_EQ(Win32ErrorFromErrno(c.err), c.code) << c.err;
}

TEST(ErrnoMapping, DiskFaultsAreToldApart) {
  EXPECT_EQ(DiskFaultFromErrno(ENOSPC), DiskFault::kFull);
  EXPECT_EQ(DiskFaultFromErrno(EFBIG), DiskFault::kFull);
  for (int quota : kQuotaErrnos) EXPECT_EQ(DiskFaultFromErrno(quota), DiskFault::kFull);
  EXPECT_EQ(DiskFaultFromErrno(EROFS), DiskFault::kWriteProtected);
  for (int other : {0, ENOENT, EACCES, EISDIR}) EXPECT_EQ(DiskFaultFromErrno(other), DiskFault::kNone);
}

}  // namespace
}  // namespace platform
