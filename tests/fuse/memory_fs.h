// A small in-memory file system for the bridge's tests: directories, files and attributes,
// with names compared without regard to letter case as on the handheld, and a rename that
// refuses to replace an existing entry as the handheld does.
#pragma once

#include "kernel/fs_interface.h"

namespace memfs {

// The operation table, to register with kernel_register_fs.
const vnode_ops* operations();

// Every volume made from now on holds at most this many bytes of file data.
void set_capacity(int64 bytes);

}  // namespace memfs
