// The kernel's system calls: mounts, paths, descriptors and attributes.
//
// Every call returns a platform status (B_OK or a negative B_* code) or, where it says so, a
// count or descriptor (>= 0). Paths are absolute Linux-style paths; a path below a volume's
// mount point walks into that volume with the add-on's walk. The node-level calls (vfs_*)
// serve the FUSE bridge, which holds its own references.
#pragma once

#include "kernel/fs_interface.h"

// mount and unmount have the platform's meaning (file-system name first; not Linux's mount(2)).
// `filesystem` is found among the registered tables, else loaded as "<filesystem>.so" from the
// add-on path. The result is a status.
int mount(const char* filesystem, const char* where, const char* device, uint32 flags,
          void* parameters, int32 length);
// Refused with B_BUSY while the volume has referenced nodes (other than its root) or open
// descriptors. The mount observer is asked first; when the kernel then refuses, the observer
// hears `mounted` again, since the volume stays.
int unmount(const char* where);

extern "C" {

// --- Kernel configuration -------------------------------------------------------------------

// Colon-separated folders searched for "<name>.so" by mount().
void kernel_set_addon_path(const char* folders);
// Registers a file system's table under a name without loading a shared object.
status_t kernel_register_fs(const char* name, const vnode_ops* ops, int32 api_version);
status_t kernel_unregister_fs(const char* name);
// How many unused nodes stay cached per volume before write_vnode releases the oldest;
// 0 releases them at once.
void kernel_set_unused_vnode_limit(int32 limit);

// Watches mounts, e.g. to export each volume as a Linux mount. `mounted` runs once the volume
// is up; a status other than B_OK (the volume could not be exported) takes the volume down
// again and becomes mount()'s result, so that no mount is reported that a user cannot reach.
// `unmounting` runs before the volume goes and may refuse with a status (B_BUSY); it must give
// back its references first.
struct kernel_mount_observer {
    status_t (*mounted)(void* context, nspace_id nsid, vnode_id root, const char* where);
    status_t (*unmounting)(void* context, nspace_id nsid, const char* where);
    void* context;
};
void kernel_set_mount_observer(const kernel_mount_observer* observer);

// Node monitor: every notify_listener call is delivered to every watcher, in order.
struct node_monitor_event {
    int32 op;
    nspace_id nsid;
    vnode_id vnida;
    vnode_id vnidb;
    vnode_id vnidc;
    char name[B_FILE_NAME_LENGTH];
};
typedef void (*node_monitor_func)(void* context, const node_monitor_event* event);
// Watchers are called on the node monitor's own thread, one event at a time, never from inside
// the add-on's call (so a watcher may call back into the kernel).
int32 kernel_watch_nodes(node_monitor_func func, void* context);  // returns a watch id
// After it returns, the watcher is not called again (unless it unwatches from its own callback).
void kernel_unwatch_nodes(int32 watch);
// Waits until every event reported before the call has reached the watchers.
void kernel_sync_node_monitor(void);

// Diagnostics for tests: the reference count of a cached node (negative: not cached) and the
// number of cached nodes of a volume.
int32 kernel_vnode_refcount(nspace_id nsid, vnode_id vnid);
int32 kernel_cached_vnodes(nspace_id nsid);
// The volume mounted exactly at `where`; B_BUSY while its mount has not finished (its files
// cannot be reached yet).
status_t kernel_volume_at(const char* where, nspace_id* nsid, vnode_id* root);
// The add-on's own record of a mounted volume (what its mount call returned), so that a test
// can reach settings the add-on keeps there; null when no such volume is mounted.
void* kernel_volume_cookie(nspace_id nsid);

// --- Path and descriptor calls -----------------------------------------------------------------

int sys_open(const char* path, int omode, int perms);        // descriptor or status; B_O_* bits
int sys_close(int fd);                                       // close, then free_cookie
ssize_t sys_read(int fd, off_t pos, void* buf, size_t len);  // bytes read or status
ssize_t sys_write(int fd, off_t pos, const void* buf, size_t len);  // bytes written or status

int sys_opendir(const char* path);  // descriptor or status
// One entry per call: 1, or 0 at the end, or a status.
int sys_readdir(int fd, be_dirent* entry, size_t bufsize);
int sys_rewinddir(int fd);
int sys_closedir(int fd);

int sys_stat(const char* path, be_stat* st);
int sys_fstat(int fd, be_stat* st);
int sys_wstat(const char* path, const be_stat* st, uint32 mask);
int sys_mkdir(const char* path, int perms);
int sys_rmdir(const char* path);
int sys_unlink(const char* path);
int sys_rename(const char* oldpath, const char* newpath);
int sys_rfsstat(const char* path, fs_info* info);

int sys_open_attrdir(const char* path);                          // descriptor or status
int sys_read_attrdir(int fd, be_dirent* entry, size_t bufsize);  // 1, 0 at the end, or status
int sys_rewind_attrdir(int fd);
int sys_close_attrdir(int fd);
ssize_t sys_read_attr(const char* path, const char* name, uint32 type, off_t pos, void* buf,
                      size_t len);
ssize_t sys_write_attr(const char* path, const char* name, uint32 type, off_t pos, const void* buf,
                       size_t len);
int sys_remove_attr(const char* path, const char* name);
int sys_rename_attr(const char* path, const char* oldname, const char* newname);
int sys_stat_attr(const char* path, const char* name, attr_info* info);

// --- Node calls (the FUSE bridge) --------------------------------------------------------------
// vfs_lookup takes a reference on the node found; vfs_put gives one back. Descriptors from
// vfs_open, vfs_create and vfs_opendir work with sys_read, sys_write, sys_readdir, sys_close...

int vfs_lookup(nspace_id nsid, vnode_id dir, const char* name, vnode_id* vnid);
int vfs_get(nspace_id nsid, vnode_id vnid);
int vfs_put(nspace_id nsid, vnode_id vnid);
int vfs_stat(nspace_id nsid, vnode_id vnid, be_stat* st);
int vfs_wstat(nspace_id nsid, vnode_id vnid, const be_stat* st, uint32 mask);
int vfs_open(nspace_id nsid, vnode_id vnid, int omode);  // descriptor or status
// Creates and opens; the new node comes back with a reference taken.
int vfs_create(nspace_id nsid, vnode_id dir, const char* name, int omode, int perms,
               vnode_id* vnid);                  // descriptor or status
int vfs_opendir(nspace_id nsid, vnode_id vnid);  // descriptor or status
int vfs_mkdir(nspace_id nsid, vnode_id dir, const char* name, int perms);
int vfs_rmdir(nspace_id nsid, vnode_id dir, const char* name);
int vfs_unlink(nspace_id nsid, vnode_id dir, const char* name);
int vfs_rename(nspace_id nsid, vnode_id olddir, const char* oldname, vnode_id newdir,
               const char* newname);
int vfs_rfsstat(nspace_id nsid, fs_info* info);
int vfs_open_attrdir(nspace_id nsid, vnode_id vnid);  // descriptor or status
ssize_t vfs_read_attr(nspace_id nsid, vnode_id vnid, const char* name, uint32 type, off_t pos,
                      void* buf, size_t len);
ssize_t vfs_write_attr(nspace_id nsid, vnode_id vnid, const char* name, uint32 type, off_t pos,
                       const void* buf, size_t len);
int vfs_remove_attr(nspace_id nsid, vnode_id vnid, const char* name);
int vfs_stat_attr(nspace_id nsid, vnode_id vnid, const char* name, attr_info* info);
// The file system's ioctl for a node, with no open file (cookie null); B_UNSUPPORTED when the
// file system has none. Commands: B_IOCTL_REFRESH_STAT (kernel/fs_interface.h).
int vfs_ioctl(nspace_id nsid, vnode_id vnid, int cmd, void* buf, size_t len);

}  // extern "C"
