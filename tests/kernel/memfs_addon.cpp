// memfs as a file-system add-on, loaded by name with dlopen.
#include "memfs.h"

extern "C" {
int32 api_version = B_CURRENT_FS_API_VERSION;
vnode_ops fs_entry = memfs::Ops();
}
