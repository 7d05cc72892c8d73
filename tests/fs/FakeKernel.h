// The kernel's side of the add-on interface, for wire tests that drive the operations
// directly: a vnode cache with reference counts that calls read_vnode, write_vnode and
// remove_vnode as the kernel would, and a record of the node-monitor notices.
#pragma once

#include <string>
#include <vector>

#include "kernel/fs_interface.h"

namespace fake_kernel {

struct Notice {
    int op;
    vnode_id a, b, c;
    std::string name;
};

// Starts afresh for a volume; `evict_at_once` releases unused nodes at once (limit 0).
void Reset(nspace_id nsid, bool evict_at_once);
void SetVolume(void* ns);
std::vector<Notice> Notices();
void ClearNotices();
// References held on a node, or -1 when the kernel does not hold it.
int32 Refs(vnode_id id);
// Releases every cached node with write_vnode (as an unmount does).
void ReleaseAll();

}  // namespace fake_kernel
