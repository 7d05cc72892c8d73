#include "OpenMode.h"

#include <fcntl.h>

#include "kernel/fs_interface.h"

namespace fusebridge {

int open_mode_from_linux(int linux_flags) {
    int mode = 0;
    switch (linux_flags & O_ACCMODE) {
        case O_WRONLY:
            mode = B_O_WRONLY;
            break;
        case O_RDWR:
            mode = B_O_RDWR;
            break;
        default:
            mode = B_O_RDONLY;
            break;
    }
    if (linux_flags & O_CREAT) mode |= B_O_CREAT;
    if (linux_flags & O_EXCL) mode |= B_O_EXCL;
    if (linux_flags & O_TRUNC) mode |= B_O_TRUNC;
    if (linux_flags & O_APPEND) mode |= B_O_APPEND;
    return mode;
}

}  // namespace fusebridge
