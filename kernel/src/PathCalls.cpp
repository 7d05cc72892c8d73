// System calls over paths of the kernel namespace.
#include <cstring>

#include "NodeOps.h"
#include "PathWalk.h"
#include "kernel/syscalls.h"

using namespace kernel;

namespace {

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

// rmdir and unlink: the entry `path` names goes with `remove`; a mount point stays.
int RemoveNamed(const char* path, status_t (*remove)(const VnodeRef& dir, const char* name)) {
    VnodeRef dir;
    std::string leaf;
    status_t status = ResolveParent(path, &dir, &leaf);
    if (status != B_OK) return status;
    if (leaf.empty()) return B_BUSY;
    return remove(dir, leaf.c_str());
}

}  // namespace

extern "C" int sys_open(const char* path, int omode, int perms) {
    if ((omode & B_O_CREAT) == 0) {
        VnodeRef node;
        status_t status = ResolvePath(path, &node);
        if (status != B_OK) return status;
        return OpenNode(std::move(node), omode);
    }
    VnodeRef dir;
    std::string leaf;
    status_t status = ResolveParent(path, &dir, &leaf);
    if (status != B_OK) return status;
    VnodeRef existing;
    if (leaf.empty()) {
        existing = std::move(dir);
    } else {
        status = WalkOne(dir, leaf.c_str(), &existing);
        if (status == B_ENTRY_NOT_FOUND && !IsDotName(leaf)) {
            return CreateNode(dir, leaf.c_str(), omode, perms, nullptr);
        }
        if (status != B_OK) return status;
    }
    if ((omode & B_O_EXCL) != 0) return B_FILE_EXISTS;
    return OpenNode(std::move(existing), omode);
}

extern "C" int sys_opendir(const char* path) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return OpenDirectory(std::move(node));
}

extern "C" int sys_stat(const char* path, be_stat* st) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return StatNode(node, st);
}

extern "C" int sys_wstat(const char* path, const be_stat* st, uint32 mask) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return WriteStatNode(node, st, mask);
}

extern "C" int sys_mkdir(const char* path, int perms) {
    VnodeRef dir;
    std::string leaf;
    status_t status = ResolveParent(path, &dir, &leaf);
    if (status != B_OK) return status;
    if (leaf.empty()) return B_FILE_EXISTS;  // a mount point
    return MakeDirectory(dir, leaf.c_str(), perms);
}

extern "C" int sys_rmdir(const char* path) { return RemoveNamed(path, RemoveDirectory); }

extern "C" int sys_unlink(const char* path) { return RemoveNamed(path, UnlinkEntry); }

extern "C" int sys_rename(const char* oldpath, const char* newpath) {
    VnodeRef olddir, newdir;
    std::string oldleaf, newleaf;
    status_t status = ResolveParent(oldpath, &olddir, &oldleaf);
    if (status != B_OK) return status;
    status = ResolveParent(newpath, &newdir, &newleaf);
    if (status != B_OK) return status;
    if (oldleaf.empty() || newleaf.empty()) return B_BUSY;
    return RenameEntry(olddir, oldleaf.c_str(), newdir, newleaf.c_str());
}

extern "C" int sys_rfsstat(const char* path, fs_info* info) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return VolumeInfo(node.shared_volume(), info);
}

extern "C" int sys_open_attrdir(const char* path) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return OpenAttributeDirectory(std::move(node));
}

extern "C" ssize_t sys_read_attr(const char* path, const char* name, uint32 type, off_t pos,
                                 void* buf, size_t len) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return ReadAttribute(node, name, type, pos, buf, len);
}

extern "C" ssize_t sys_write_attr(const char* path, const char* name, uint32 type, off_t pos,
                                  const void* buf, size_t len) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return WriteAttribute(node, name, type, pos, buf, len);
}

extern "C" int sys_remove_attr(const char* path, const char* name) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return RemoveAttribute(node, name);
}

extern "C" int sys_rename_attr(const char* path, const char* oldname, const char* newname) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return RenameAttribute(node, oldname, newname);
}

extern "C" int sys_stat_attr(const char* path, const char* name, attr_info* info) {
    VnodeRef node;
    status_t status = ResolvePath(path, &node);
    if (status != B_OK) return status;
    return StatAttribute(node, name, info);
}
