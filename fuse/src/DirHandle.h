// An open directory of a FUSE mount: the kernel descriptor and where the listing stands.
#pragma once

#include "kernel/fs_interface.h"

namespace fusebridge {

struct DirHandle {
    int fd = -1;
    // Index of the entry the descriptor yields next; FUSE offsets are these indexes plus one.
    off_t position = 0;
    // An entry read from the descriptor that did not fit the last reply.
    bool pending = false;
    be_dirent entry{};
};

}  // namespace fusebridge
