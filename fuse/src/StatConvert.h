// The volume's records as Linux's stat and statvfs.
#pragma once

#include <sys/stat.h>
#include <sys/statvfs.h>

#include "kernel/fs_interface.h"

namespace fusebridge {

// The device has no owners: every node belongs to `uid` and `gid`, the user who serves the
// mount, so that the mount's user may change what it shows. Directories are always readable.
// `umask` bits are taken from the mode last.
[[nodiscard]] struct stat linux_stat(const be_stat& st, uid_t uid, gid_t gid, mode_t umask = 0);
[[nodiscard]] struct statvfs linux_statvfs(const fs_info& info);

}  // namespace fusebridge
