// Operations on nodes the caller holds a reference on: the common ground of the path calls
// (sys_*) and the node calls (vfs_*). Each answers with the add-on's status or, for an empty
// slot, B_UNSUPPORTED.
#pragma once

#include "Descriptors.h"
#include "PathWalk.h"

namespace kernel {

// Opens the node; the descriptor takes over the reference. Descriptor or status.
int OpenNode(VnodeRef node, int omode);
// Creates `name` in `dir` and opens it. With `vnid`, the caller also gets a reference on the
// new node. Descriptor or status.
int CreateNode(const VnodeRef& dir, const char* name, int omode, int perms, vnode_id* vnid);
int OpenDirectory(VnodeRef node);
int OpenAttributeDirectory(VnodeRef node);

status_t StatNode(const VnodeRef& node, be_stat* st);
status_t WriteStatNode(const VnodeRef& node, const be_stat* st, uint32 mask);
status_t MakeDirectory(const VnodeRef& dir, const char* name, int perms);
status_t RemoveDirectory(const VnodeRef& dir, const char* name);
status_t UnlinkEntry(const VnodeRef& dir, const char* name);
status_t RenameEntry(const VnodeRef& olddir, const char* oldname, const VnodeRef& newdir,
                     const char* newname);
status_t VolumeInfo(const std::shared_ptr<Volume>& volume, fs_info* info);

ssize_t ReadAttribute(const VnodeRef& node, const char* name, uint32 type, off_t pos, void* buf,
                      size_t len);
ssize_t WriteAttribute(const VnodeRef& node, const char* name, uint32 type, off_t pos,
                       const void* buf, size_t len);
status_t RemoveAttribute(const VnodeRef& node, const char* name);
status_t RenameAttribute(const VnodeRef& node, const char* oldname, const char* newname);
status_t StatAttribute(const VnodeRef& node, const char* name, attr_info* info);

}  // namespace kernel
