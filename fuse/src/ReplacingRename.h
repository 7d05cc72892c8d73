// A rename as Linux makes it: an existing target is replaced, and a rename that fails leaves
// both names as they were.
#pragma once

#include <fuse_lowlevel.h>

#include "MountSession.h"

namespace fusebridge {

[[nodiscard]] status_t rename_entry(MountSession& session, fuse_ino_t parent, const char* name,
                                    fuse_ino_t new_parent, const char* new_name,
                                    unsigned int flags);

}  // namespace fusebridge
