// One readdir reply, filled from a listing of the volume.
#pragma once

#include <fuse_lowlevel.h>

#include <vector>

#include "DirHandle.h"
#include "MountSession.h"

namespace fusebridge {

// Fills one readdir reply of at most `size` bytes starting at entry index `offset`.
[[nodiscard]] status_t fill_directory(fuse_req_t req, MountSession& session, DirHandle* dir,
                                      off_t offset, size_t size, std::vector<char>* reply);

}  // namespace fusebridge
