// memfs: a small in-memory file system for tests, registered through the same operation table
// as a real add-on (or built as one); the kernel's tests and the FUSE bridge's mount it. It checks
// the kernel's side of the contract as it goes: a node read in twice, written out while referenced
// or while not loaded, removed while still linked, or called with the wrong reenter flag counts as
// a violation.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "kernel/fs_interface.h"

namespace memfs {

const vnode_ops& Ops();

// Optional mount parameters (pass a pointer and sizeof as the mount call's parameters).
struct MountParams {
    status_t mountStatus = B_OK;  // the mount fails with this status when not B_OK
    bool publishRoot = true;      // false: the kernel must read the root in itself
    // When set, the mount asks the kernel for the volume at `probeWhere` and keeps the answer.
    const char* probeWhere = nullptr;
    status_t* probeStatus = nullptr;
    // A volume more like the handheld's: names found whatever their letter case, a rename that
    // refuses to replace an existing name (B_FILE_EXISTS), and room for `capacity` bytes of
    // file data (0: no limit) past which a write fails with B_DEVICE_FULL.
    bool caseInsensitive = false;
    bool renameKeepsTarget = false;
    int64 capacity = 0;
};

struct NodeCounts {
    int loads = 0;    // read_vnode, or published with new_vnode
    int writes = 0;   // write_vnode
    int removes = 0;  // remove_vnode
};

// What the file system saw on one volume; kept after the volume is unmounted.
struct Report {
    std::map<vnode_id, NodeCounts> nodes;
    std::vector<std::string> violations;
    int reenteredCalls = 0;  // write_vnode/remove_vnode/read_vnode calls with reenter set
    bool unmounted = false;
};
Report ReportOf(nspace_id nsid);

// Makes the operation of slot `op` (e.g. "walk", "read", "unmount") answer `status` until it is
// set back to B_OK.
void InjectFailure(nspace_id nsid, const std::string& op, status_t status);

// A reference taken or given back from inside the file system, the way an add-on operation
// would (put under the volume's lock), so that the kernel's reenter flag can be checked.
status_t GetFromAddOn(nspace_id nsid, vnode_id vnid);
status_t PutFromAddOn(nspace_id nsid, vnode_id vnid);

// The node id of a path below the root ("a/b"), from the file system's own tables; -1 if none.
vnode_id IdOf(nspace_id nsid, const std::string& path);

}  // namespace memfs
