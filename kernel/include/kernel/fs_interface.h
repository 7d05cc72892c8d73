// The interface between the kernel's vnode layer and a file-system add-on.
//
// An add-on exports `fs_entry` (a vnode_ops table of 62 slots, in the order below) and
// `api_version` (2). The kernel calls the slots; the add-on calls back new_vnode, get_vnode,
// put_vnode, remove_vnode and notify_listener. A null slot means "not supported".
//
// Records, open-mode bits and flags carry the platform's values, which differ from Linux's:
// they are prefixed (be_stat, be_dirent, B_O_*) so that no Linux header clashes with them.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/Errors.h"
#include "platform/SupportDefs.h"

typedef int32 nspace_id;
typedef int64 vnode_id;

#define B_FILE_NAME_LENGTH 256
#define B_PATH_NAME_LENGTH 1024
#define B_OS_NAME_LENGTH 32
#define B_CURRENT_FS_API_VERSION 2

// Open-mode bits.
enum : int {
    B_O_RDONLY = 0x0000,
    B_O_WRONLY = 0x0001,
    B_O_RDWR = 0x0002,
    B_O_ACCMODE = 0x0003,
    B_O_EXCL = 0x0100,
    B_O_CREAT = 0x0200,
    B_O_TRUNC = 0x0400,
    B_O_APPEND = 0x0800,
};

// Mode bits (file type and permissions); the values equal Linux's.
enum : uint32 {
    B_S_IFMT = 0xF000,
    B_S_IFDIR = 0x4000,
    B_S_IFREG = 0x8000,
    B_S_IFLNK = 0xA000,
};

// wstat mask bits: which fields of the be_stat to change.
enum : uint32 {
    WSTAT_MODE = 0x0001,
    WSTAT_UID = 0x0002,
    WSTAT_GID = 0x0004,
    WSTAT_SIZE = 0x0008,
    WSTAT_ATIME = 0x0010,
    WSTAT_MTIME = 0x0020,
    WSTAT_CRTIME = 0x0040,
};

// fs_info flags.
enum : uint32 {
    B_FS_IS_READONLY = 0x00000001,
    B_FS_IS_REMOVABLE = 0x00000002,
    B_FS_IS_PERSISTENT = 0x00000004,
    B_FS_IS_SHARED = 0x00000008,
    B_FS_HAS_MIME = 0x00010000,
    B_FS_HAS_ATTR = 0x00020000,
    B_FS_HAS_QUERY = 0x00040000,
};

// Node-monitor operations passed to notify_listener.
enum : int32 {
    B_ENTRY_CREATED = 1,
    B_ENTRY_REMOVED = 2,
    B_ENTRY_MOVED = 3,
    B_STAT_CHANGED = 4,
    B_ATTR_CHANGED = 5,
};

// Attribute type codes used by the system.
enum : uint32 {
    B_MIME_STRING_TYPE = 0x4D494D53,  // 'MIMS'
    B_RAW_TYPE = 0x52415754,          // 'RAWT'
    B_STRING_TYPE = 0x43535452,       // 'CSTR'
};

struct be_timespec {
    int64 tv_sec;
    int64 tv_nsec;
};

// Times are kept as be_timespec so that st_mtime and friends work as they do on Linux,
// whether or not <sys/stat.h> (which defines them as macros) is included.
#ifndef st_atime
#define st_atime st_atim.tv_sec
#define st_mtime st_mtim.tv_sec
#define st_ctime st_ctim.tv_sec
#endif
#define st_crtime st_crtim.tv_sec

struct be_stat {
    int32 st_dev;
    int64 st_ino;
    uint32 st_mode;
    int32 st_nlink;
    uint32 st_uid;
    uint32 st_gid;
    int64 st_size;
    int32 st_rdev;
    int32 st_blksize;
    be_timespec st_atim;
    be_timespec st_mtim;
    be_timespec st_ctim;
    be_timespec st_crtim;
};

struct be_dirent {
    int32 d_dev;   // volume of the entry
    int32 d_pdev;  // volume of the directory listed
    int64 d_ino;   // node id of the entry
    int64 d_pino;  // node id of the directory listed
    uint16 d_reclen;
    char d_name[B_FILE_NAME_LENGTH];
};

// The room a be_dirent of `bufsize` bytes leaves for its name and the name's NUL.
inline size_t be_dirent_name_room(size_t bufsize) {
    size_t room = bufsize > offsetof(be_dirent, d_name) ? bufsize - offsetof(be_dirent, d_name) : 0;
    return room < sizeof(be_dirent::d_name) ? room : sizeof(be_dirent::d_name);
}

// An entry of an attribute listing: the attribute `name` (which fits the entry) of node `vnid`.
// d_reclen carries the attribute's size.
inline void be_attr_dirent(be_dirent* entry, nspace_id nsid, vnode_id vnid, const char* name,
                           size_t size) {
    *entry = be_dirent{};
    entry->d_dev = nsid;
    entry->d_pdev = nsid;
    entry->d_ino = vnid;
    entry->d_pino = vnid;
    entry->d_reclen = static_cast<uint16>(size);
    std::strcpy(entry->d_name, name);
}

struct fs_info {
    int32 dev;
    int64 root;
    uint32 flags;
    int64 block_size;
    int64 io_size;
    int64 total_blocks;
    int64 free_blocks;
    int64 total_nodes;
    int64 free_nodes;
    char device_name[128];
    char volume_name[B_FILE_NAME_LENGTH];
    char fsh_name[B_OS_NAME_LENGTH];
};

struct attr_info {
    uint32 type;
    int64 size;
};

struct be_iovec {
    void* iov_base;
    size_t iov_len;
};

// One entry of the operation table per slot. `ns` is the volume record the add-on handed
// out at mount, `node` a node record it handed out through new_vnode or read_vnode.
// `reenter` is true when the add-on itself caused the call.
typedef int op_read_vnode(void* ns, vnode_id vnid, char reenter, void** node);
typedef int op_write_vnode(void* ns, void* node, char reenter);
typedef int op_remove_vnode(void* ns, void* node, char reenter);
typedef int op_secure_vnode(void* ns, void* node);
typedef int op_walk(void* ns, void* dir, const char* name, char** path, vnode_id* vnid);
typedef int op_access(void* ns, void* node, int mode);
typedef int op_create(void* ns, void* dir, const char* name, int omode, int perms, vnode_id* vnid,
                      void** cookie);
typedef int op_mkdir(void* ns, void* dir, const char* name, int perms);
typedef int op_symlink(void* ns, void* dir, const char* name, const char* path);
typedef int op_link(void* ns, void* dir, const char* name, void* node);
typedef int op_rename(void* ns, void* olddir, const char* oldname, void* newdir,
                      const char* newname);
typedef int op_unlink(void* ns, void* dir, const char* name);
typedef int op_rmdir(void* ns, void* dir, const char* name);
typedef int op_readlink(void* ns, void* node, char* buf, size_t* bufsize);
typedef int op_opendir(void* ns, void* node, void** cookie);
typedef int op_closedir(void* ns, void* node, void* cookie);
typedef int op_free_dircookie(void* ns, void* node, void* cookie);
typedef int op_rewinddir(void* ns, void* node, void* cookie);
typedef int op_readdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf,
                       size_t bufsize);
typedef int op_open(void* ns, void* node, int omode, void** cookie);
typedef int op_close(void* ns, void* node, void* cookie);
typedef int op_free_cookie(void* ns, void* node, void* cookie);
typedef int op_read(void* ns, void* node, void* cookie, off_t pos, void* buf, size_t* len);
typedef int op_write(void* ns, void* node, void* cookie, off_t pos, const void* buf, size_t* len);
typedef int op_readv(void* ns, void* node, void* cookie, off_t pos, const be_iovec* vec,
                     size_t count, size_t* len);
typedef int op_writev(void* ns, void* node, void* cookie, off_t pos, const be_iovec* vec,
                      size_t count, size_t* len);
typedef int op_ioctl(void* ns, void* node, void* cookie, int cmd, void* buf, size_t len);
// ioctl command: bring the node's status (size, time) up to date from the device when what the
// file system holds is older than the bigtime_t in `buf` (microseconds); 0 asks always.
#define B_IOCTL_REFRESH_STAT 0x7A5701
typedef int op_setflags(void* ns, void* node, void* cookie, int flags);
typedef int op_rstat(void* ns, void* node, be_stat* st);
typedef int op_wstat(void* ns, void* node, be_stat* st, long mask);
typedef int op_fsync(void* ns, void* node);
typedef int op_initialize(const char* devname, void* parms, size_t len);
typedef int op_mount(nspace_id nsid, const char* devname, unsigned long flags, void* parms,
                     size_t len, void** ns, vnode_id* root);
typedef int op_unmount(void* ns);
typedef int op_sync(void* ns);
typedef int op_rfsstat(void* ns, fs_info* info);
typedef int op_wfsstat(void* ns, fs_info* info, long mask);
typedef int op_select(void* ns, void* node, void* cookie, uint8 event, uint32 ref, void* sync);
typedef int op_deselect(void* ns, void* node, void* cookie, uint8 event, void* sync);
typedef int op_open_indexdir(void* ns, void** cookie);
typedef int op_close_indexdir(void* ns, void* cookie);
typedef int op_free_indexdircookie(void* ns, void* node, void* cookie);
typedef int op_rewind_indexdir(void* ns, void* cookie);
typedef int op_read_indexdir(void* ns, void* cookie, long* num, be_dirent* buf, size_t bufsize);
typedef int op_create_index(void* ns, const char* name, int type, int flags);
typedef int op_remove_index(void* ns, const char* name);
typedef int op_rename_index(void* ns, const char* oldname, const char* newname);
typedef int op_stat_index(void* ns, const char* name, void* info);
typedef int op_open_attrdir(void* ns, void* node, void** cookie);
typedef int op_close_attrdir(void* ns, void* node, void* cookie);
typedef int op_free_attrdircookie(void* ns, void* node, void* cookie);
typedef int op_rewind_attrdir(void* ns, void* node, void* cookie);
typedef int op_read_attrdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf,
                            size_t bufsize);
typedef int op_write_attr(void* ns, void* node, const char* name, int type, const void* buf,
                          size_t* len, off_t pos);
typedef int op_read_attr(void* ns, void* node, const char* name, int type, void* buf, size_t* len,
                         off_t pos);
typedef int op_remove_attr(void* ns, void* node, const char* name);
typedef int op_rename_attr(void* ns, void* node, const char* oldname, const char* newname);
typedef int op_stat_attr(void* ns, void* node, const char* name, attr_info* info);
typedef int op_open_query(void* ns, const char* query, unsigned long flags, int32 port, long token,
                          void** cookie);
typedef int op_close_query(void* ns, void* cookie);
typedef int op_free_querycookie(void* ns, void* node, void* cookie);
typedef int op_read_query(void* ns, void* cookie, long* num, be_dirent* buf, size_t bufsize);

// The 62 slots, in this order. A table may name only the slots it fills; the others stay null.
struct vnode_ops {
    op_read_vnode* read_vnode = nullptr;                    // 0
    op_write_vnode* write_vnode = nullptr;                  // 1
    op_remove_vnode* remove_vnode = nullptr;                // 2
    op_secure_vnode* secure_vnode = nullptr;                // 3
    op_walk* walk = nullptr;                                // 4
    op_access* access = nullptr;                            // 5
    op_create* create = nullptr;                            // 6
    op_mkdir* mkdir = nullptr;                              // 7
    op_symlink* symlink = nullptr;                          // 8
    op_link* link = nullptr;                                // 9
    op_rename* rename = nullptr;                            // 10
    op_unlink* unlink = nullptr;                            // 11
    op_rmdir* rmdir = nullptr;                              // 12
    op_readlink* readlink = nullptr;                        // 13
    op_opendir* opendir = nullptr;                          // 14
    op_closedir* closedir = nullptr;                        // 15
    op_free_dircookie* free_dircookie = nullptr;            // 16
    op_rewinddir* rewinddir = nullptr;                      // 17
    op_readdir* readdir = nullptr;                          // 18
    op_open* open = nullptr;                                // 19
    op_close* close = nullptr;                              // 20
    op_free_cookie* free_cookie = nullptr;                  // 21
    op_read* read = nullptr;                                // 22
    op_write* write = nullptr;                              // 23
    op_readv* readv = nullptr;                              // 24
    op_writev* writev = nullptr;                            // 25
    op_ioctl* ioctl = nullptr;                              // 26
    op_setflags* setflags = nullptr;                        // 27
    op_rstat* rstat = nullptr;                              // 28
    op_wstat* wstat = nullptr;                              // 29
    op_fsync* fsync = nullptr;                              // 30
    op_initialize* initialize = nullptr;                    // 31
    op_mount* mount = nullptr;                              // 32
    op_unmount* unmount = nullptr;                          // 33
    op_sync* sync = nullptr;                                // 34
    op_rfsstat* rfsstat = nullptr;                          // 35
    op_wfsstat* wfsstat = nullptr;                          // 36
    op_select* select = nullptr;                            // 37
    op_deselect* deselect = nullptr;                        // 38
    op_open_indexdir* open_indexdir = nullptr;              // 39
    op_close_indexdir* close_indexdir = nullptr;            // 40
    op_free_indexdircookie* free_indexdircookie = nullptr;  // 41
    op_rewind_indexdir* rewind_indexdir = nullptr;          // 42
    op_read_indexdir* read_indexdir = nullptr;              // 43
    op_create_index* create_index = nullptr;                // 44
    op_remove_index* remove_index = nullptr;                // 45
    op_rename_index* rename_index = nullptr;                // 46
    op_stat_index* stat_index = nullptr;                    // 47
    op_open_attrdir* open_attrdir = nullptr;                // 48
    op_close_attrdir* close_attrdir = nullptr;              // 49
    op_free_attrdircookie* free_attrdircookie = nullptr;    // 50
    op_rewind_attrdir* rewind_attrdir = nullptr;            // 51
    op_read_attrdir* read_attrdir = nullptr;                // 52
    op_write_attr* write_attr = nullptr;                    // 53
    op_read_attr* read_attr = nullptr;                      // 54
    op_remove_attr* remove_attr = nullptr;                  // 55
    op_rename_attr* rename_attr = nullptr;                  // 56
    op_stat_attr* stat_attr = nullptr;                      // 57
    op_open_query* open_query = nullptr;                    // 58
    op_close_query* close_query = nullptr;                  // 59
    op_free_querycookie* free_querycookie = nullptr;        // 60
    op_read_query* read_query = nullptr;                    // 61
};

static_assert(sizeof(vnode_ops) == 62 * sizeof(void*), "the operation table has 62 slots");

extern "C" {

// Calls an add-on makes into the kernel.

// Publishes a node the add-on made; it starts with one reference held by the caller.
[[nodiscard]] int new_vnode(nspace_id nsid, vnode_id vnid, void* node);
// Takes a reference; calls the add-on's read_vnode when the node is not in the cache.
[[nodiscard]] int get_vnode(nspace_id nsid, vnode_id vnid, void** node);
// Gives a reference back. An unused node stays cached until evicted (write_vnode) or, when
// marked removed, goes to the add-on's remove_vnode at once.
[[nodiscard]] int put_vnode(nspace_id nsid, vnode_id vnid);
// Marks a referenced node removed: remove_vnode instead of write_vnode at its last reference.
[[nodiscard]] int remove_vnode(nspace_id nsid, vnode_id vnid);
[[nodiscard]] int unremove_vnode(nspace_id nsid, vnode_id vnid);
// Reports a change to the node monitor. `name` may be null.
[[nodiscard]] int notify_listener(int op, nspace_id nsid, vnode_id vnida, vnode_id vnidb,
                                  vnode_id vnidc, const char* name);

}  // extern "C"
