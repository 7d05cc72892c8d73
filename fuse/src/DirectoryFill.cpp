// One readdir reply, filled from a listing of the volume.
#define FUSE_USE_VERSION 35
#include "DirectoryFill.h"

#include <cstring>

#include "FileCaching.h"
#include "kernel/syscalls.h"

namespace fusebridge {

// Fills one readdir reply of at most `size` bytes starting at entry index `offset`.
[[nodiscard]] status_t fill_directory(fuse_req_t req, MountSession& session, DirHandle* dir,
                                      off_t offset, size_t size, std::vector<char>* reply) {
    if (dir->fd < 0) {
        // Opened on the device only now: a listing the kernel kept needed no request.
        int fd = vfs_opendir(session.nsid(), dir->vnid);
        if (fd < 0) return fd;
        dir->fd = fd;
    }
    if (offset != dir->position) {
        // Not where the listing stands (a rewind or a seek): list again from the start.
        status_t status = sys_rewinddir(dir->fd);
        if (status != B_OK) return status;
        dir->position = 0;
        dir->pending = false;
        while (dir->position < offset) {
            int count = sys_readdir(dir->fd, &dir->entry, sizeof dir->entry);
            if (count < 0) return count;
            if (count == 0) return B_OK;
            dir->position++;
        }
    }
    reply->resize(size);
    size_t used = 0;
    for (;;) {
        if (!dir->pending) {
            int count = sys_readdir(dir->fd, &dir->entry, sizeof dir->entry);
            if (count < 0) {
                if (used > 0) break;  // the entries so far go out; the error comes next time
                return count;
            }
            if (count == 0) {
                session.cache().listed(dir->vnid, Clock::now());
                break;
            }
            dir->pending = true;
        }
        dir->entry.d_name[sizeof dir->entry.d_name - 1] = '\0';
        // The type is left unknown: finding it would cost a lookup per entry.
        struct stat st;
        std::memset(&st, 0, sizeof st);
        st.st_ino = static_cast<ino_t>(dir->entry.d_ino);
        size_t need = fuse_add_direntry(req, reply->data() + used, size - used, dir->entry.d_name,
                                        &st, dir->position + 1);
        if (need > size - used) break;
        used += need;
        dir->position++;
        dir->pending = false;
    }
    reply->resize(used);
    return B_OK;
}
}  // namespace fusebridge
