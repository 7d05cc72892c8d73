// tavro3: the operation table the kernel loads, and the API version it was built for. Each
// slot's body lives in the unit of its subject.
#include "tavro.h"

extern "C" {

__attribute__((visibility("default"))) int32 api_version = B_CURRENT_FS_API_VERSION;

// Slots by name; a slot not named stays null, which the kernel reads as "not supported".
__attribute__((visibility("default"))) vnode_ops fs_entry = {
    .read_vnode = fs_read_vnode,
    .write_vnode = fs_write_vnode,
    .remove_vnode = fs_remove_vnode,
    .secure_vnode = fs_secure_vnode,
    .walk = fs_walk,
    .access = fs_access,
    .create = tavro_create,
    .mkdir = tavro_mkdir,
    .rename = fs_rename,
    .unlink = tavro_unlink,
    .rmdir = tavro_rmdir,
    .readlink = fs_readlink,
    .opendir = tavro_opendir,
    .closedir = tavro_closedir,
    .free_dircookie = tavro_free_dircookie,
    .rewinddir = tavro_rewinddir,
    .readdir = tavro_readdir,
    .open = fs_open,
    .close = tavro_close,
    .free_cookie = tavro_free_cookie,
    .read = tavro_read,
    .write = tavro_write,
    .ioctl = tavro_ioctl,
    .rstat = tavro_rstat,
    .wstat = tavro_wstat,
    .mount = fs_mount,
    .unmount = fs_unmount,
    .rfsstat = fs_rfsstat,
    .open_attrdir = tavro_open_attrdir,
    .close_attrdir = tavro_close_attrdir,
    .free_attrdircookie = tavro_free_attrdircookie,
    .rewind_attrdir = tavro_rewind_attrdir,
    .read_attrdir = tavro_read_attrdir,
    .write_attr = fs_write_attr,
    .read_attr = tavro_read_attr,
    .remove_attr = fs_remove_attr,
    .rename_attr = fs_rename_attr,
    .stat_attr = tavro_stat_attr,
};

}  // extern "C"
