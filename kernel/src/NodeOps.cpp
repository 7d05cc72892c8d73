#include "NodeOps.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kernel {

namespace {

bool ValidOpenMode(int omode) { return (omode & B_O_ACCMODE) != B_O_ACCMODE; }

// A count the add-on reports may not exceed what it was given room for.
ssize_t Transferred(size_t done, size_t asked) {
    return static_cast<ssize_t>(std::min(done, asked));
}

size_t ClampLength(size_t len) { return std::min<size_t>(len, SSIZE_MAX); }

int Install(VnodeRef node, void* cookie, int omode, DescriptorKind kind) {
    return InstallDescriptor(std::make_shared<Descriptor>(std::move(node), cookie, omode, kind));
}

}  // namespace

int OpenNode(VnodeRef node, int omode) {
    if (!ValidOpenMode(omode)) return B_BAD_VALUE;
    if (node.ops().open == nullptr) return B_UNSUPPORTED;
    void* cookie = nullptr;
    status_t status = node.ops().open(node.cookie(), node.node(), omode, &cookie);
    if (status != B_OK) return status;
    return Install(std::move(node), cookie, omode, DescriptorKind::file);
}

int CreateNode(const VnodeRef& dir, const char* name, int omode, int perms, vnode_id* vnid) {
    if (!ValidOpenMode(omode)) return B_BAD_VALUE;
    status_t status = CheckName(name);
    if (status != B_OK) return status;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return B_FILE_EXISTS;
    const vnode_ops& ops = dir.ops();
    if (ops.create == nullptr) return B_UNSUPPORTED;
    vnode_id created = 0;
    void* cookie = nullptr;
    status = ops.create(dir.cookie(), dir.node(), name, omode, perms, &created, &cookie);
    if (status != B_OK) return status;
    VnodeRef node;
    status = AdoptNode(dir.shared_volume(), created, &node);
    if (status != B_OK) {
        // The add-on opened the file but published no node: undo the open if we can.
        VnodeRef orphan;
        if (GetNode(dir.shared_volume(), created, &orphan) == B_OK) {
            if (ops.close != nullptr) ops.close(dir.cookie(), orphan.node(), cookie);
            if (ops.free_cookie != nullptr) ops.free_cookie(dir.cookie(), orphan.node(), cookie);
        }
        return status;
    }
    VnodeRef callers;
    if (vnid != nullptr) {
        status = GetNode(dir.shared_volume(), created, &callers);
        if (status != B_OK) {
            // Hand the open back so that the add-on's cookie is not lost.
            Descriptor(std::move(node), cookie, omode, DescriptorKind::file).Close();
            return status;
        }
    }
    int fd = Install(std::move(node), cookie, omode, DescriptorKind::file);
    if (fd >= 0 && vnid != nullptr) *vnid = callers.Detach();
    return fd;
}

namespace {

// opendir and open_attrdir: a listing of `kind`, opened with the operation `slot` picks.
int OpenListing(VnodeRef node, op_opendir* vnode_ops::*slot, DescriptorKind kind) {
    op_opendir* open = node.ops().*slot;
    if (open == nullptr) return B_UNSUPPORTED;
    void* cookie = nullptr;
    status_t status = open(node.cookie(), node.node(), &cookie);
    if (status != B_OK) return status;
    return Install(std::move(node), cookie, B_O_RDONLY, kind);
}

}  // namespace

int OpenDirectory(VnodeRef node) {
    return OpenListing(std::move(node), &vnode_ops::opendir, DescriptorKind::directory);
}

int OpenAttributeDirectory(VnodeRef node) {
    return OpenListing(std::move(node), &vnode_ops::open_attrdir, DescriptorKind::attributes);
}

status_t StatNode(const VnodeRef& node, be_stat* st) {
    if (st == nullptr) return B_BAD_VALUE;
    if (node.ops().rstat == nullptr) return B_UNSUPPORTED;
    *st = be_stat{};
    status_t status = node.ops().rstat(node.cookie(), node.node(), st);
    if (status != B_OK) return status;
    // The kernel names nodes by volume and node id, whatever the add-on wrote there.
    st->st_dev = node.volume().Id();
    st->st_ino = node.id();
    return B_OK;
}

status_t WriteStatNode(const VnodeRef& node, const be_stat* st, uint32 mask) {
    if (st == nullptr) return B_BAD_VALUE;
    if (node.ops().wstat == nullptr) return B_UNSUPPORTED;
    be_stat copy = *st;
    return node.ops().wstat(node.cookie(), node.node(), &copy, static_cast<long>(mask));
}

status_t MakeDirectory(const VnodeRef& dir, const char* name, int perms) {
    status_t status = CheckName(name);
    if (status != B_OK) return status;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return B_FILE_EXISTS;
    if (dir.ops().mkdir == nullptr) return B_UNSUPPORTED;
    return dir.ops().mkdir(dir.cookie(), dir.node(), name, perms);
}

namespace {

status_t CheckRemovableName(const char* name) {
    status_t status = CheckName(name);
    if (status != B_OK) return status;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return B_BAD_VALUE;
    return B_OK;
}

}  // namespace

status_t RemoveDirectory(const VnodeRef& dir, const char* name) {
    status_t status = CheckRemovableName(name);
    if (status != B_OK) return status;
    if (dir.ops().rmdir == nullptr) return B_UNSUPPORTED;
    return dir.ops().rmdir(dir.cookie(), dir.node(), name);
}

status_t UnlinkEntry(const VnodeRef& dir, const char* name) {
    status_t status = CheckRemovableName(name);
    if (status != B_OK) return status;
    if (dir.ops().unlink == nullptr) return B_UNSUPPORTED;
    return dir.ops().unlink(dir.cookie(), dir.node(), name);
}

status_t RenameEntry(const VnodeRef& olddir, const char* oldname, const VnodeRef& newdir,
                     const char* newname) {
    status_t status = CheckRemovableName(oldname);
    if (status == B_OK) status = CheckRemovableName(newname);
    if (status != B_OK) return status;
    if (&olddir.volume() != &newdir.volume()) return B_CROSS_DEVICE_LINK;
    if (olddir.ops().rename == nullptr) return B_UNSUPPORTED;
    return olddir.ops().rename(olddir.cookie(), olddir.node(), oldname, newdir.node(), newname);
}

status_t VolumeInfo(const std::shared_ptr<Volume>& volume, fs_info* info) {
    if (info == nullptr) return B_BAD_VALUE;
    if (volume->Ops().rfsstat == nullptr) return B_UNSUPPORTED;
    *info = fs_info{};
    status_t status = volume->Ops().rfsstat(volume->Cookie(), info);
    if (status != B_OK) return status;
    info->dev = volume->Id();
    info->root = volume->Root();
    return B_OK;
}

ssize_t ReadAttribute(const VnodeRef& node, const char* name, uint32 type, off_t pos, void* buf,
                      size_t len) {
    if (name == nullptr || pos < 0 || (buf == nullptr && len > 0)) return B_BAD_VALUE;
    if (node.ops().read_attr == nullptr) return B_UNSUPPORTED;
    len = ClampLength(len);
    size_t done = len;
    status_t status = node.ops().read_attr(node.cookie(), node.node(), name, static_cast<int>(type),
                                           buf, &done, pos);
    return status != B_OK ? status : Transferred(done, len);
}

ssize_t WriteAttribute(const VnodeRef& node, const char* name, uint32 type, off_t pos,
                       const void* buf, size_t len) {
    if (name == nullptr || pos < 0 || (buf == nullptr && len > 0)) return B_BAD_VALUE;
    if (node.ops().write_attr == nullptr) return B_UNSUPPORTED;
    len = ClampLength(len);
    size_t done = len;
    status_t status = node.ops().write_attr(node.cookie(), node.node(), name,
                                            static_cast<int>(type), buf, &done, pos);
    return status != B_OK ? status : Transferred(done, len);
}

status_t RemoveAttribute(const VnodeRef& node, const char* name) {
    if (name == nullptr) return B_BAD_VALUE;
    if (node.ops().remove_attr == nullptr) return B_UNSUPPORTED;
    return node.ops().remove_attr(node.cookie(), node.node(), name);
}

status_t RenameAttribute(const VnodeRef& node, const char* oldname, const char* newname) {
    if (oldname == nullptr || newname == nullptr) return B_BAD_VALUE;
    if (node.ops().rename_attr == nullptr) return B_UNSUPPORTED;
    return node.ops().rename_attr(node.cookie(), node.node(), oldname, newname);
}

status_t StatAttribute(const VnodeRef& node, const char* name, attr_info* info) {
    if (name == nullptr || info == nullptr) return B_BAD_VALUE;
    if (node.ops().stat_attr == nullptr) return B_UNSUPPORTED;
    *info = attr_info{};
    return node.ops().stat_attr(node.cookie(), node.node(), name, info);
}

}  // namespace kernel
