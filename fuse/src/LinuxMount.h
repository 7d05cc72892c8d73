// The Linux mount table, seen from the bridge.
#pragma once

#include <string>

#include "platform/Errors.h"

namespace fusebridge {

// Whether a mount sits exactly at `path` (from /proc/self/mounts).
[[nodiscard]] bool linux_mounted_at(const std::string& path);

// Unmounts the FUSE mount at `path`. Without `lazy`, a mount in use stays and gives B_BUSY;
// with it, the mount is detached at once and goes when its last user leaves.
[[nodiscard]] status_t unmount_linux(const std::string& path, bool lazy);

// Makes `path` usable as a mount point: creates it when missing and detaches a dead FUSE mount
// left there by a host that did not stop cleanly.
[[nodiscard]] status_t prepare_mount_point(const std::string& path);

// Whether this process may mount with "allow_other".
[[nodiscard]] bool allow_other_permitted();

}  // namespace fusebridge
