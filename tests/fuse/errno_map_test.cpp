#include <gtest/gtest.h>

#include <cerrno>

#include "ErrnoMap.h"

namespace fusebridge {
namespace {

// Every status a file system returns has its errno.
static_assert(errno_from_status(B_OK) == 0);
static_assert(errno_from_status(B_ENTRY_NOT_FOUND) == ENOENT);
static_assert(errno_from_status(B_FILE_EXISTS) == EEXIST);
static_assert(errno_from_status(B_NOT_A_DIRECTORY) == ENOTDIR);
static_assert(errno_from_status(B_IS_A_DIRECTORY) == EISDIR);
static_assert(errno_from_status(B_DIRECTORY_NOT_EMPTY) == ENOTEMPTY);
static_assert(errno_from_status(B_READ_ONLY_DEVICE) == EROFS);
static_assert(errno_from_status(B_DEVICE_FULL) == ENOSPC);
static_assert(errno_from_status(B_NAME_TOO_LONG) == ENAMETOOLONG);
static_assert(errno_from_status(B_BAD_VALUE) == EINVAL);
static_assert(errno_from_status(B_IO_ERROR) == EIO);
static_assert(errno_from_status(B_FILE_ERROR) == EIO);
static_assert(errno_from_status(B_ERROR) == EIO);
static_assert(errno_from_status(B_BUSY) == EBUSY);
static_assert(errno_from_status(B_NO_MEMORY) == ENOMEM);
static_assert(errno_from_status(B_NOT_ALLOWED) == EPERM);
static_assert(errno_from_status(B_PERMISSION_DENIED) == EACCES);
static_assert(errno_from_status(B_TIMED_OUT) == ETIMEDOUT);
static_assert(errno_from_status(B_UNSUPPORTED) == ENOTSUP);
static_assert(errno_from_status(B_CROSS_DEVICE_LINK) == EXDEV);
static_assert(errno_from_status(B_NO_MORE_FDS) == EMFILE);
static_assert(errno_from_status(B_INTERRUPTED) == EINTR);
// The link's ports and semaphores going away is an I/O failure to the user.
static_assert(errno_from_status(B_BAD_PORT_ID) == EIO);
static_assert(errno_from_status(B_BAD_SEM_ID) == EIO);

// No failure, known to the table or not, reaches a program as success: every status in the
// platform's error ranges gives a positive errno.
TEST(ErrnoMap, EveryFailureIsAnErrno) {
    for (status_t base : {B_GENERAL_ERROR_BASE, B_OS_ERROR_BASE, B_STORAGE_ERROR_BASE}) {
        for (status_t status = base; status < base + 0x1000; status++) {
            if (errno_from_status(status) <= 0) {
                ADD_FAILURE() << "status " << status << " gives " << errno_from_status(status);
                break;
            }
        }
    }
}

TEST(ErrnoMap, ErrnoValuesPassAndUnknownStatusesAreIoErrors) {
    EXPECT_EQ(errno_from_status(EACCES), EACCES);
    EXPECT_EQ(errno_from_status(B_GENERAL_ERROR_BASE + 0x777), EIO);
    EXPECT_EQ(errno_from_status(-12345), EIO);
}

TEST(ErrnoMap, MissingAttributeIsNoData) {
    EXPECT_EQ(xattr_errno_from_status(B_ENTRY_NOT_FOUND), ENODATA);
    EXPECT_EQ(xattr_errno_from_status(B_NO_MEMORY), ENOMEM);
    EXPECT_EQ(xattr_errno_from_status(B_OK), 0);
}

}  // namespace
}  // namespace fusebridge
