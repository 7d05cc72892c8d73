// The calls an add-on makes into the kernel. Whatever they set off in the add-on (read_vnode,
// write_vnode, remove_vnode) is re-entered: the add-on is inside one of its own operations.
#include "Mounts.h"
#include "NodeMonitor.h"
#include "kernel/fs_interface.h"

using namespace kernel;

extern "C" int new_vnode(nspace_id nsid, vnode_id vnid, void* node) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : volume->Publish(vnid, node);
}

extern "C" int get_vnode(nspace_id nsid, vnode_id vnid, void** node) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : volume->Get(vnid, node, true);
}

extern "C" int put_vnode(nspace_id nsid, vnode_id vnid) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : volume->Put(vnid, true);
}

extern "C" int remove_vnode(nspace_id nsid, vnode_id vnid) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : volume->SetRemoved(vnid, true, true);
}

extern "C" int unremove_vnode(nspace_id nsid, vnode_id vnid) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : volume->SetRemoved(vnid, false, true);
}

extern "C" int notify_listener(int op, nspace_id nsid, vnode_id vnida, vnode_id vnidb,
                               vnode_id vnidc, const char* name) {
    return NotifyNodeMonitor(op, nsid, vnida, vnidb, vnidc, name);
}
