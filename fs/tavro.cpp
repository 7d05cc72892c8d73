// tavro3: the operation table the kernel loads, and the API version it was built for. Each
// slot's body lives in the unit of its subject.
#include "tavro.h"

extern "C" {

__attribute__((visibility("default"))) int32 api_version = B_CURRENT_FS_API_VERSION;

__attribute__((visibility("default"))) vnode_ops fs_entry = {
    fs_read_vnode,             // 0 read_vnode
    fs_write_vnode,            // 1 write_vnode
    fs_remove_vnode,           // 2 remove_vnode
    fs_secure_vnode,           // 3 secure_vnode
    fs_walk,                   // 4 walk
    fs_access,                 // 5 access
    tavro_create,              // 6 create
    tavro_mkdir,               // 7 mkdir
    nullptr,                   // 8 symlink
    nullptr,                   // 9 link
    fs_rename,                 // 10 rename
    tavro_unlink,              // 11 unlink
    tavro_rmdir,               // 12 rmdir
    fs_readlink,               // 13 readlink
    tavro_opendir,             // 14 opendir
    tavro_closedir,            // 15 closedir
    tavro_free_dircookie,      // 16 free_dircookie
    tavro_rewinddir,           // 17 rewinddir
    tavro_readdir,             // 18 readdir
    fs_open,                   // 19 open
    tavro_close,               // 20 close
    tavro_free_cookie,         // 21 free_cookie
    tavro_read,                // 22 read
    tavro_write,               // 23 write
    nullptr,                   // 24 readv
    nullptr,                   // 25 writev
    tavro_ioctl,               // 26 ioctl
    nullptr,                   // 27 setflags
    tavro_rstat,               // 28 rstat
    tavro_wstat,               // 29 wstat
    nullptr,                   // 30 fsync
    nullptr,                   // 31 initialize
    fs_mount,                  // 32 mount
    fs_unmount,                // 33 unmount
    nullptr,                   // 34 sync
    fs_rfsstat,                // 35 rfsstat
    nullptr,                   // 36 wfsstat
    nullptr,                   // 37 select
    nullptr,                   // 38 deselect
    nullptr,                   // 39 open_indexdir
    nullptr,                   // 40 close_indexdir
    nullptr,                   // 41 free_indexdircookie
    nullptr,                   // 42 rewind_indexdir
    nullptr,                   // 43 read_indexdir
    nullptr,                   // 44 create_index
    nullptr,                   // 45 remove_index
    nullptr,                   // 46 rename_index
    nullptr,                   // 47 stat_index
    tavro_open_attrdir,        // 48 open_attrdir
    tavro_close_attrdir,       // 49 close_attrdir
    tavro_free_attrdircookie,  // 50 free_attrdircookie
    tavro_rewind_attrdir,      // 51 rewind_attrdir
    tavro_read_attrdir,        // 52 read_attrdir
    fs_write_attr,             // 53 write_attr
    tavro_read_attr,           // 54 read_attr
    fs_remove_attr,            // 55 remove_attr
    fs_rename_attr,            // 56 rename_attr
    tavro_stat_attr,           // 57 stat_attr
    nullptr,                   // 58 open_query
    nullptr,                   // 59 close_query
    nullptr,                   // 60 free_querycookie
    nullptr,                   // 61 read_query
};

}  // extern "C"
