// The text of every status code.
#include "platform/Errors.h"

#include <cstdio>
#include <cstring>

namespace {

const char* KnownText(status_t status) {
    switch (status) {
        case B_OK:
            return "No error";
        case B_ERROR:
            return "General error";

        case B_NO_MEMORY:
            return "Out of memory";
        case B_IO_ERROR:
            return "Input/output error";
        case B_PERMISSION_DENIED:
            return "Permission denied";
        case B_BAD_INDEX:
            return "Index out of range";
        case B_BAD_TYPE:
            return "Bad argument type";
        case B_BAD_VALUE:
            return "Invalid argument";
        case B_MISMATCHED_VALUES:
            return "Mismatched values";
        case B_NAME_NOT_FOUND:
            return "Name not found";
        case B_NAME_IN_USE:
            return "Name already in use";
        case B_TIMED_OUT:
            return "Operation timed out";
        case B_INTERRUPTED:
            return "Interrupted";
        case B_WOULD_BLOCK:
            return "Operation would block";
        case B_CANCELED:
            return "Operation canceled";
        case B_NO_INIT:
            return "Not initialized";
        case B_BUSY:
            return "Device or resource busy";
        case B_NOT_ALLOWED:
            return "Operation not allowed";
        case B_BAD_DATA:
            return "Bad data";

        case B_BAD_SEM_ID:
            return "Bad semaphore ID";
        case B_NO_MORE_SEMS:
            return "No more semaphores";
        case B_BAD_THREAD_ID:
            return "Bad thread ID";
        case B_NO_MORE_THREADS:
            return "No more threads";
        case B_BAD_THREAD_STATE:
            return "Thread is in the wrong state";
        case B_BAD_PORT_ID:
            return "Bad port ID";
        case B_NO_MORE_PORTS:
            return "No more ports";
        case B_BAD_IMAGE_ID:
            return "Bad image ID";
        case B_NOT_AN_EXECUTABLE:
            return "Not an executable";

        case B_BAD_REPLY:
            return "Bad reply";
        case B_DUPLICATE_REPLY:
            return "Duplicate reply";
        case B_MESSAGE_TO_SELF:
            return "Message sent to self";
        case B_BAD_HANDLER:
            return "Bad handler";
        case B_ALREADY_RUNNING:
            return "Already running";

        case B_FILE_ERROR:
            return "File error";
        case B_FILE_EXISTS:
            return "File exists";
        case B_ENTRY_NOT_FOUND:
            return "No such file or directory";
        case B_NAME_TOO_LONG:
            return "File name too long";
        case B_NOT_A_DIRECTORY:
            return "Not a directory";
        case B_DIRECTORY_NOT_EMPTY:
            return "Directory not empty";
        case B_DEVICE_FULL:
            return "No space left on device";
        case B_READ_ONLY_DEVICE:
            return "Read-only file system";
        case B_IS_A_DIRECTORY:
            return "Is a directory";
        case B_NO_MORE_FDS:
            return "Too many open files";
        case B_CROSS_DEVICE_LINK:
            return "Cross-device link";
        case B_LINK_LIMIT:
            return "Too many levels of symbolic links";
        case B_BUSTED_PIPE:
            return "Broken pipe";
        case B_UNSUPPORTED:
            return "Operation not supported";
    }
    return nullptr;
}

}  // namespace

const char* be_strerror(status_t status) {
    if (const char* text = KnownText(status)) return text;
    // Texts made up on the fly live per thread, so concurrent callers do not overwrite them.
    thread_local char buffer[64];
    if (status > 0) {
        // The GNU strerror_r returns either its own static text or the buffer.
        return strerror_r(status, buffer, sizeof buffer);
    }
    std::snprintf(buffer, sizeof buffer, "Unknown error (0x%08x)", static_cast<unsigned>(status));
    return buffer;
}
