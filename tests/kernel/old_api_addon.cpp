// An add-on written for another version of the interface: the kernel must refuse it.
#include "kernel/fs_interface.h"

namespace {
int never_mount(nspace_id, const char*, unsigned long, void*, size_t, void**, vnode_id*) {
    return B_ERROR;
}
}  // namespace

extern "C" {
int32 api_version = 1;
vnode_ops fs_entry = [] {
    vnode_ops ops{};
    ops.mount = never_mount;
    return ops;
}();
}
