#include <gtest/gtest.h>

#include <cerrno>

#include "ErrnoMap.h"

namespace fusebridge {
namespace {

TEST(ErrnoMap, EveryStatusAFileSystemReturnsHasItsErrno) {
    struct Case {
        status_t status;
        int error;
    };
    const Case cases[] = {
        {B_OK, 0},
        {B_ENTRY_NOT_FOUND, ENOENT},
        {B_FILE_EXISTS, EEXIST},
        {B_NOT_A_DIRECTORY, ENOTDIR},
        {B_IS_A_DIRECTORY, EISDIR},
        {B_DIRECTORY_NOT_EMPTY, ENOTEMPTY},
        {B_READ_ONLY_DEVICE, EROFS},
        {B_DEVICE_FULL, ENOSPC},
        {B_NAME_TOO_LONG, ENAMETOOLONG},
        {B_BAD_VALUE, EINVAL},
        {B_IO_ERROR, EIO},
        {B_FILE_ERROR, EIO},
        {B_ERROR, EIO},
        {B_BUSY, EBUSY},
        {B_NO_MEMORY, ENOMEM},
        {B_NOT_ALLOWED, EPERM},
        {B_PERMISSION_DENIED, EACCES},
        {B_TIMED_OUT, ETIMEDOUT},
        {B_UNSUPPORTED, ENOTSUP},
        {B_CROSS_DEVICE_LINK, EXDEV},
        {B_NO_MORE_FDS, EMFILE},
        {B_INTERRUPTED, EINTR},
        // The link's ports and semaphores going away is an I/O failure to the user.
        {B_BAD_PORT_ID, EIO},
        {B_BAD_SEM_ID, EIO},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(errno_from_status(c.status), c.error) << "status " << c.status;
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
