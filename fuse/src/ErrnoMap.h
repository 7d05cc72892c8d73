// Platform statuses as Linux errno values: the one place where the two meet. Compile-time
// functions, so that the table can be checked with static_assert.
#pragma once

#include <cerrno>

#include "platform/Errors.h"

namespace fusebridge {

// The errno for a status (a positive value for every failure, 0 for B_OK). Non-negative values
// other than B_OK are already errno values and pass unchanged; an unknown status is EIO.
[[nodiscard]] constexpr int errno_from_status(status_t status) {
    if (status >= 0) return status;
    switch (status) {
        case B_NO_MEMORY:
            return ENOMEM;
        case B_IO_ERROR:
            return EIO;
        case B_PERMISSION_DENIED:
            return EACCES;
        case B_BAD_INDEX:
            return ERANGE;
        case B_BAD_TYPE:
            return EINVAL;
        case B_BAD_VALUE:
            return EINVAL;
        case B_MISMATCHED_VALUES:
            return EINVAL;
        case B_NAME_NOT_FOUND:
            return ENOENT;
        case B_NAME_IN_USE:
            return EEXIST;
        case B_TIMED_OUT:
            return ETIMEDOUT;
        case B_INTERRUPTED:
            return EINTR;
        case B_WOULD_BLOCK:
            return EAGAIN;
        case B_CANCELED:
            return ECANCELED;
        case B_NO_INIT:
            return ENXIO;
        case B_BUSY:
            return EBUSY;
        case B_NOT_ALLOWED:
            return EPERM;
        case B_BAD_DATA:
            return EBADMSG;
        // A semaphore or port that has gone away means the link to the device went with it.
        case B_BAD_SEM_ID:
            return EIO;
        case B_BAD_PORT_ID:
            return EIO;
        case B_NO_MORE_SEMS:
            return EAGAIN;
        case B_NO_MORE_PORTS:
            return EAGAIN;
        case B_NO_MORE_THREADS:
            return EAGAIN;
        case B_FILE_ERROR:
            return EIO;
        case B_FILE_EXISTS:
            return EEXIST;
        case B_ENTRY_NOT_FOUND:
            return ENOENT;
        case B_NAME_TOO_LONG:
            return ENAMETOOLONG;
        case B_NOT_A_DIRECTORY:
            return ENOTDIR;
        case B_DIRECTORY_NOT_EMPTY:
            return ENOTEMPTY;
        case B_DEVICE_FULL:
            return ENOSPC;
        case B_READ_ONLY_DEVICE:
            return EROFS;
        case B_FILE_TOO_LARGE:
            return EFBIG;
        case B_IS_A_DIRECTORY:
            return EISDIR;
        case B_NO_MORE_FDS:
            return EMFILE;
        case B_CROSS_DEVICE_LINK:
            return EXDEV;
        case B_LINK_LIMIT:
            return ELOOP;
        case B_BUSTED_PIPE:
            return EPIPE;
        case B_UNSUPPORTED:
            return ENOTSUP;
        default:
            return EIO;
    }
}

// Attribute operations report a missing attribute as ENODATA, not ENOENT.
[[nodiscard]] constexpr int xattr_errno_from_status(status_t status) {
    if (status == B_ENTRY_NOT_FOUND || status == B_NAME_NOT_FOUND) return ENODATA;
    return errno_from_status(status);
}

}  // namespace fusebridge
