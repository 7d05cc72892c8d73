#define FUSE_USE_VERSION 35
#include "FileCaching.h"

#include "OpenMode.h"
#include "kernel/syscalls.h"

namespace fusebridge {

namespace {

// Descriptors are shared between opens that read and write alike; truncation and creation
// happen at the open itself and are not part of the key.
int reuse_key(int omode) { return omode & (B_O_ACCMODE | B_O_APPEND); }

}  // namespace

status_t open_file_cached(MountSession& session, fuse_ino_t ino, vnode_id vnid,
                          fuse_file_info* fi) {
    int omode = open_mode_from_linux(fi->flags);
    bool truncating = (omode & B_O_TRUNC) != 0;
    LinkCache& cache = session.cache();
    if (!truncating) {
        // One FINFO when the status is older than the cache time, none otherwise.
        bigtime_t age = cache.max_status_age();
        status_t status = vfs_ioctl(session.nsid(), vnid, B_IOCTL_REFRESH_STAT, &age, sizeof age);
        if (status == B_ENTRY_NOT_FOUND) return status;
    }
    be_stat st{};
    status_t status = vfs_stat(session.nsid(), vnid, &st);
    if (status != B_OK) return status;
    bool changed_outside = cache.known_other(vnid, st.st_size, st.st_mtime);
    bool keep = !truncating && cache.keep_pages(vnid, st.st_size, st.st_mtime);
    if (truncating) cache.file_changed(vnid);

    // A kept descriptor may hold the device's old copy of a file changed outside, and an
    // open that truncates must reach the device.
    LingeringFiles& lingering = session.lingering();
    if (changed_outside || truncating) lingering.close_node(vnid);
    int fd = lingering.take(vnid, reuse_key(omode));
    if (fd < 0) {
        // One handle per file on the device: another mode's kept handle goes first.
        lingering.close_node(vnid);
        fd = vfs_open(session.nsid(), vnid, omode);
        // The handheld's handles may all be held by files kept for reuse: give them back.
        if (fd == B_NO_MORE_FDS && lingering.size() > 0) {
            lingering.close_all();
            fd = vfs_open(session.nsid(), vnid, omode);
        }
        if (fd < 0) return fd;
        session.track_file(fd, ino);
    }
    // The kernel still holds the old size: make it ask again before it reads.
    if (changed_outside && session.fuse() != nullptr)
        (void)fuse_lowlevel_notify_inval_inode(session.fuse(), ino, -1, 0);
    fi->fh = static_cast<uint64_t>(fd);
    fi->keep_cache = keep ? 1 : 0;
    session.transfers().opened(fd, ino, static_cast<uint64_t>(st.st_size),
                               (omode & B_O_ACCMODE) != B_O_RDONLY);
    return B_OK;
}

void release_file_cached(MountSession& session, fuse_ino_t ino, fuse_file_info* fi) {
    int fd = static_cast<int>(fi->fh);
    session.transfers().closed(fd);
    vnode_id vnid = 0;
    if (!session.closing() && session.nodes().resolve(ino, &vnid)) {
        session.lingering().keep(vnid, reuse_key(open_mode_from_linux(fi->flags)), fd);
        return;
    }
    // Closed before it is untracked, so that no open file counts once the close is done.
    (void)sys_close(fd);
    session.untrack_file(fd);
}

void file_changed_here(MountSession& session, fuse_ino_t ino) {
    vnode_id vnid = 0;
    if (session.nodes().resolve(ino, &vnid)) session.cache().file_changed(vnid);
}

status_t refresh_looked_up(MountSession& session, vnode_id dir, vnode_id vnid) {
    // The entries of a listing just read are as fresh as the listing.
    if (session.cache().listing_fresh(dir, Clock::now())) return B_OK;
    bigtime_t age = session.cache().max_status_age();
    status_t status = vfs_ioctl(session.nsid(), vnid, B_IOCTL_REFRESH_STAT, &age, sizeof age);
    return status == B_ENTRY_NOT_FOUND ? status : B_OK;
}

bool listing_kept(MountSession& session, vnode_id vnid) {
    return session.cache().listing_fresh(vnid, Clock::now());
}

}  // namespace fusebridge
