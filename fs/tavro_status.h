// tavro3's tables of the wire's words: the FOPEN mode word for an open mode, and the device's
// status for each request mapped to ours. Compile-time functions, so that the tables can be
// checked where they are used (static_assert) as well as called.
#pragma once

#include "kernel/fs_interface.h"
#include "platform/Errors.h"
#include "platform/Series3Wire.h"
#include "platform/SupportDefs.h"

// --- the FOPEN mode word ------------------------------------------------------------------------

// The FOPEN mode word that makes a new file and fails when the name exists.
[[nodiscard]] constexpr uint16 create_mode_word(int omode) {
    uint16 word = RFSV_OPEN_RANDOM_ACCESS | RFSV_OPEN_CREATE;
    if (omode & B_O_ACCMODE) word |= RFSV_OPEN_UPDATE;
    return word;
}

// The FOPEN mode word for a kernel open mode, and whether the open lists a directory.
[[nodiscard]] constexpr uint16 open_mode_word(int omode, bool directory) {
    if (directory) return RFSV_FORMAT_DIRECTORY;
    uint16 word = RFSV_OPEN_RANDOM_ACCESS;
    if (omode & (B_O_CREAT | B_O_TRUNC)) word |= RFSV_OPEN_REPLACE;
    if (omode & B_O_APPEND)
        word = static_cast<uint16>((word & ~RFSV_OPEN_ACTION_MASK) | RFSV_OPEN_APPEND);
    if (omode & B_O_ACCMODE) word |= RFSV_OPEN_UPDATE;
    return word;
}

// --- statuses ----------------------------------------------------------------------------------

// Our status for a reply that never came, given the transport's status: B_TIMED_OUT or
// B_IO_ERROR.
[[nodiscard]] constexpr status_t missing_reply(status_t transport) {
    // Nothing came back: the link is gone or did not answer. Either way the request may have
    // been carried out, and the caller must not guess.
    return transport == B_TIMED_OUT ? B_TIMED_OUT : B_IO_ERROR;
}

// Status mapping, one per request (status 0 is not passed).
[[nodiscard]] constexpr status_t map_fopen_status(int16 status) {
    switch (status) {
        case RFSV_NOT_FOUND:
        case RFSV_NO_SUCH_DEVICE:
        case RFSV_NO_SUCH_DIRECTORY:
            return B_ENTRY_NOT_FOUND;
        case RFSV_BAD_NAME:
            return B_BAD_VALUE;  // a name the device cannot store
        case RFSV_EXISTS:
            return B_FILE_EXISTS;
        case RFSV_DISK_FULL:
            return B_DEVICE_FULL;
        case RFSV_READ_ONLY_FILE:
        case RFSV_WRITE_PROTECTED:
            return B_READ_ONLY_DEVICE;
        case RFSV_ACCESS_DENIED:
            return B_NOT_ALLOWED;
        case RFSV_TOO_MANY_OPEN:
            return B_NO_MORE_FDS;
        default:
            return B_BAD_VALUE;
    }
}

// RENAME, DELETE and FINFO.
[[nodiscard]] constexpr status_t map_change_status(int16 status) {
    switch (status) {
        case RFSV_EXISTS:
            return B_FILE_EXISTS;
        case RFSV_NOT_FOUND:
        case RFSV_NO_SUCH_DEVICE:
        case RFSV_NO_SUCH_DIRECTORY:
            return B_ENTRY_NOT_FOUND;
        case RFSV_BAD_NAME:
            return B_BAD_VALUE;
        case RFSV_READ_ONLY_FILE:
        case RFSV_WRITE_PROTECTED:
            return B_READ_ONLY_DEVICE;
        case RFSV_ACCESS_DENIED:
            return B_BUSY;  // in use: open on the device, or a folder that is not empty
        case RFSV_DISK_FULL:
            return B_DEVICE_FULL;
        default:
            return B_FILE_ERROR;
    }
}

[[nodiscard]] constexpr status_t map_fwrite_status(int16 status) {
    switch (status) {
        case RFSV_READ_ONLY_FILE:
        case RFSV_WRITE_PROTECTED:
            return B_READ_ONLY_DEVICE;
        case RFSV_DISK_FULL:
            return B_DEVICE_FULL;
        default:
            return B_BAD_VALUE;
    }
}

[[nodiscard]] constexpr status_t map_mkdir_status(int16 status) {
    switch (status) {
        case RFSV_EXISTS:
            return B_FILE_EXISTS;
        case RFSV_BAD_NAME:
            return B_BAD_VALUE;
        case RFSV_NO_SUCH_DEVICE:
        case RFSV_NO_SUCH_DIRECTORY:
            return B_ENTRY_NOT_FOUND;
        case RFSV_WRITE_PROTECTED:
            return B_READ_ONLY_DEVICE;
        case RFSV_DISK_FULL:
            return B_DEVICE_FULL;
        default:
            return B_FILE_ERROR;
    }
}

[[nodiscard]] constexpr status_t map_sfdate_status(int16 status) {
    switch (status) {
        case RFSV_BAD_NAME:
            return B_BAD_VALUE;
        case RFSV_NOT_FOUND:
            return B_ENTRY_NOT_FOUND;
        case RFSV_READ_ONLY_FILE:
        case RFSV_WRITE_PROTECTED:
            return B_READ_ONLY_DEVICE;
        default:
            return B_FILE_ERROR;
    }
}
