// The kernel's nodes as FUSE entries: finding a node by inode, its stat, lookups that the node
// table counts, removals, and attribute changes. These return statuses and never reply.
#pragma once

#include <fuse_lowlevel.h>
#include <sys/stat.h>

#include "MountSession.h"

namespace fusebridge {

[[nodiscard]] status_t node_of(MountSession& session, fuse_ino_t ino, vnode_id* vnid);
[[nodiscard]] status_t stat_node(MountSession& session, vnode_id vnid, struct stat* st);
void forget_lookups(MountSession& session, fuse_ino_t ino, uint64_t count);

// Turns a reference the caller took on `vnid` into an entry: from here on the node table owns
// it (or it is given back on failure).
[[nodiscard]] status_t make_entry(MountSession& session, vnode_id vnid, fuse_entry_param* entry);

// A node that left the namespace gives its references back at once, so that the volume
// deletes it now rather than whenever the Linux kernel forgets it.
void release_detached(MountSession& session, vnode_id vnid);

[[nodiscard]] status_t lookup_entry(MountSession& session, fuse_ino_t parent, const char* name,
                                    fuse_entry_param* entry);
[[nodiscard]] status_t remove_entry(MountSession& session, fuse_ino_t parent, const char* name,
                                    bool directory);
[[nodiscard]] status_t set_attributes(MountSession& session, fuse_ino_t ino,
                                      const struct stat& attr, int to_set, struct stat* result);

}  // namespace fusebridge
