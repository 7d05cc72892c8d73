// Node calls for the FUSE bridge: nodes named by volume and node id. The bridge holds its own
// references (vfs_lookup, vfs_get, vfs_create take one; vfs_put gives one back); every other
// call takes a reference of its own for as long as it runs.
#include "Mounts.h"
#include "NodeOps.h"
#include "PathWalk.h"
#include "kernel/syscalls.h"

using namespace kernel;

namespace {

status_t Node(nspace_id nsid, vnode_id vnid, VnodeRef* out) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    if (volume == nullptr) return B_BAD_VALUE;
    return GetNode(volume, vnid, out);
}

}  // namespace

extern "C" int vfs_lookup(nspace_id nsid, vnode_id dir, const char* name, vnode_id* vnid) {
    if (name == nullptr || vnid == nullptr) return B_BAD_VALUE;
    VnodeRef parent;
    status_t status = Node(nsid, dir, &parent);
    if (status != B_OK) return status;
    VnodeRef found;
    status = WalkOne(parent, name, &found);
    if (status != B_OK) return status;
    *vnid = found.Detach();
    return B_OK;
}

extern "C" int vfs_get(nspace_id nsid, vnode_id vnid) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : volume->Get(vnid, nullptr, false);
}

extern "C" int vfs_put(nspace_id nsid, vnode_id vnid) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : volume->Put(vnid, false);
}

extern "C" int vfs_stat(nspace_id nsid, vnode_id vnid, be_stat* st) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : StatNode(node, st);
}

extern "C" int vfs_wstat(nspace_id nsid, vnode_id vnid, const be_stat* st, uint32 mask) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : WriteStatNode(node, st, mask);
}

extern "C" int vfs_open(nspace_id nsid, vnode_id vnid, int omode) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : OpenNode(std::move(node), omode);
}

extern "C" int vfs_create(nspace_id nsid, vnode_id dir, const char* name, int omode, int perms,
                          vnode_id* vnid) {
    if (vnid == nullptr) return B_BAD_VALUE;
    VnodeRef parent;
    status_t status = Node(nsid, dir, &parent);
    return status != B_OK ? status : CreateNode(parent, name, omode, perms, vnid);
}

extern "C" int vfs_opendir(nspace_id nsid, vnode_id vnid) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : OpenDirectory(std::move(node));
}

extern "C" int vfs_mkdir(nspace_id nsid, vnode_id dir, const char* name, int perms) {
    VnodeRef parent;
    status_t status = Node(nsid, dir, &parent);
    return status != B_OK ? status : MakeDirectory(parent, name, perms);
}

extern "C" int vfs_rmdir(nspace_id nsid, vnode_id dir, const char* name) {
    VnodeRef parent;
    status_t status = Node(nsid, dir, &parent);
    return status != B_OK ? status : RemoveDirectory(parent, name);
}

extern "C" int vfs_unlink(nspace_id nsid, vnode_id dir, const char* name) {
    VnodeRef parent;
    status_t status = Node(nsid, dir, &parent);
    return status != B_OK ? status : UnlinkEntry(parent, name);
}

extern "C" int vfs_rename(nspace_id nsid, vnode_id olddir, const char* oldname, vnode_id newdir,
                          const char* newname) {
    VnodeRef from, to;
    status_t status = Node(nsid, olddir, &from);
    if (status == B_OK) status = Node(nsid, newdir, &to);
    return status != B_OK ? status : RenameEntry(from, oldname, to, newname);
}

extern "C" int vfs_rfsstat(nspace_id nsid, fs_info* info) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : VolumeInfo(volume, info);
}

extern "C" int vfs_open_attrdir(nspace_id nsid, vnode_id vnid) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : OpenAttributeDirectory(std::move(node));
}

extern "C" ssize_t vfs_read_attr(nspace_id nsid, vnode_id vnid, const char* name, uint32 type,
                                 off_t pos, void* buf, size_t len) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : ReadAttribute(node, name, type, pos, buf, len);
}

extern "C" ssize_t vfs_write_attr(nspace_id nsid, vnode_id vnid, const char* name, uint32 type,
                                  off_t pos, const void* buf, size_t len) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : WriteAttribute(node, name, type, pos, buf, len);
}

extern "C" int vfs_remove_attr(nspace_id nsid, vnode_id vnid, const char* name) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : RemoveAttribute(node, name);
}

extern "C" int vfs_stat_attr(nspace_id nsid, vnode_id vnid, const char* name, attr_info* info) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    return status != B_OK ? status : StatAttribute(node, name, info);
}

extern "C" int vfs_ioctl(nspace_id nsid, vnode_id vnid, int cmd, void* buf, size_t len) {
    VnodeRef node;
    status_t status = Node(nsid, vnid, &node);
    if (status != B_OK) return status;
    if (node.ops().ioctl == nullptr) return B_UNSUPPORTED;
    return node.ops().ioctl(node.cookie(), node.node(), nullptr, cmd, buf, len);
}
