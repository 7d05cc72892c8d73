// The FUSE low-level operations of a mount, served from the kernel's node calls.
#pragma once

struct fuse_lowlevel_ops;

namespace fusebridge {

// The operation table; each session's user data is its MountSession.
const fuse_lowlevel_ops& bridge_operations();

}  // namespace fusebridge
