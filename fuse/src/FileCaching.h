// The open and release of files, done so that the link carries as little as it can: a file
// whose size and time are unchanged keeps the kernel's pages, its status is asked of the
// device only when it is older than the cache time, and a released descriptor lingers for the
// next open of the same file.
#pragma once

#include <fuse_lowlevel.h>

#include "MountSession.h"

namespace fusebridge {

// Opens the file `vnid` (inode `ino`) for `fi`; sets fi->fh and fi->keep_cache. Returns a
// status; on success the descriptor is tracked by the session.
[[nodiscard]] status_t open_file_cached(MountSession& session, fuse_ino_t ino, vnode_id vnid,
                                        fuse_file_info* fi);

// Gives a released descriptor back: it lingers when its node is still known.
void release_file_cached(MountSession& session, fuse_ino_t ino, fuse_file_info* fi);

// A change to the file's contents or size went through the mount.
void file_changed_here(MountSession& session, fuse_ino_t ino);

// A name looked up in `dir` found `vnid`: its status is asked of the device (one FINFO) when
// it is older than the cache time and no listing of `dir` brought it within that time.
// B_ENTRY_NOT_FOUND when the device no longer has the file.
[[nodiscard]] status_t refresh_looked_up(MountSession& session, vnode_id dir, vnode_id vnid);

// A listing of `vnid` may be kept by the kernel (it was read within the cache time and the
// directory did not change through the mount since).
[[nodiscard]] bool listing_kept(MountSession& session, vnode_id vnid);

}  // namespace fusebridge
